#include "faces/qt/app/SingleInstance.h"

#include "text/AtomicFile.h"

#include <QSocketNotifier>
#include <cstdio>

namespace vantrel {

SingleInstance::SingleInstance(const std::string& programDir, QObject* parent)
    : QObject(parent), guard_(programDir, "vantrel") {}

bool SingleInstance::Acquire() {
  std::string error;
  switch (guard_.Acquire(error)) {
    case InstanceGuard::Result::Running:
      return false;
    case InstanceGuard::Result::Unguarded:
      // Running unguarded beats not running at all.
      std::fprintf(stderr, "vantrel: %s\n", error.c_str());
      return true;
    case InstanceGuard::Result::Acquired:
      break;
  }
  if (guard_.RequestFd() >= 0) {
    notifier_ = new QSocketNotifier(guard_.RequestFd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
      if (guard_.TakeRequests()) emit ComeForwardRequested();
    });
  }
  return true;
}

void SingleInstance::AskFirstToComeForward() const { guard_.AskToComeForward(); }

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
