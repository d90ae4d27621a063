#include "faces/qt/app/EngineDriver.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>

namespace vantrel {

EngineDriver::EngineDriver(Engine& engine, QObject* parent) : QObject(parent), engine_(engine) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] { Turn(); });
}

EngineDriver::~EngineDriver() { Stop(); }

void EngineDriver::Listen() {
  for (int fd : engine_.WakeFds()) {
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { Turn(); });
    notifiers_.push_back(notifier);
  }
  WatchSettingsFile();
}

void EngineDriver::Stop() {
  for (QSocketNotifier* notifier : notifiers_) notifier->setEnabled(false);
  timer_.stop();
}

void EngineDriver::Turn() {
  if (engine_.Work()) {
    timer_.start(0);
  } else if (auto wait = engine_.NextDeadline()) {
    timer_.start(static_cast<int>(wait->count()));
  }
}

void EngineDriver::WatchSettingsFile() {
  settingsWatch_ = new QFileSystemWatcher(this);
  const QString file = QString::fromStdString(engine_.SettingsFile().File());
  // The folder's watch sees the file made, replaced or removed; the file's
  // own watch sees it written in place. A replaced file is a new one to watch.
  auto changed = [this, file] {
    engine_.SettingsFilesChanged();
    settingsWatch_->removePath(file);
    if (QFileInfo::exists(file)) settingsWatch_->addPath(file);
  };
  connect(settingsWatch_, &QFileSystemWatcher::directoryChanged, this, changed);
  connect(settingsWatch_, &QFileSystemWatcher::fileChanged, this, changed);
  if (settingsWatch_->addPath(QString::fromStdString(engine_.Home()))) changed();
}

}  // namespace vantrel
