#include "app/SingleInstance.h"

#include "text/AtomicFile.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <cstdint>
#include <unistd.h>

namespace vantrel {
namespace {

// Stable across builds, unlike std::hash, so every copy finds the same name.
std::uint64_t Fnv1a(const std::string& text) {
  std::uint64_t hash = 1469598103934665603ULL;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ULL;
  return hash;
}

constexpr const char* kComeForward = "forward\n";

}  // namespace

SingleInstance::SingleInstance(const std::string& programDir, QObject* parent)
    : QObject(parent),
      name_(QString("vantrel-%1-%2").arg(::getuid()).arg(Fnv1a(programDir), 16, 16, QChar('0'))) {}

bool SingleInstance::Acquire() {
  server_ = new QLocalServer(this);
  // An abstract name: no file that a killed copy could leave behind.
  server_->setSocketOptions(QLocalServer::AbstractNamespaceOption);
  if (!server_->listen(name_)) {
    // Only a name in use means another copy; any other failure leaves this
    // copy running without the guard rather than not at all.
    return server_->serverError() != QAbstractSocket::AddressInUseError;
  }
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* peer = server_->nextPendingConnection()) {
      connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
        if (peer->readAll().contains("forward")) emit ComeForwardRequested();
      });
      connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    }
  });
  return true;
}

void SingleInstance::AskFirstToComeForward() const {
  QLocalSocket socket;
  socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
  socket.connectToServer(name_);
  if (!socket.waitForConnected(2000)) return;
  socket.write(kComeForward);
  socket.waitForBytesWritten(2000);
  socket.disconnectFromServer();
}

bool SingleInstance::DebuggerAttached() {
  std::string status;
  if (!ReadWholeFile("/proc/self/status", status)) return false;
  std::size_t at = status.find("TracerPid:");
  if (at == std::string::npos) return false;
  at += 10;
  while (at < status.size() && (status[at] == ' ' || status[at] == '\t')) ++at;
  return at < status.size() && status[at] != '0';
}

}  // namespace vantrel
