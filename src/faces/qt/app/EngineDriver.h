#pragma once
// Gives the engine its turns on the window's thread: whenever one of its
// descriptors is readable, again at once while it has work left, and when its
// next deadline comes. It also tells the engine when config.ini changes on
// disk under it.
#include "engine/Engine.h"

#include <QObject>
#include <QTimer>
#include <vector>

class QFileSystemWatcher;
class QSocketNotifier;

namespace vantrel {

class EngineDriver : public QObject {
  Q_OBJECT
 public:
  EngineDriver(Engine& engine, QObject* parent);
  ~EngineDriver() override;
  // After the engine's source started.
  void Listen();
  void Stop();

 private:
  void Turn();
  void WatchSettingsFile();

  Engine& engine_;
  std::vector<QSocketNotifier*> notifiers_;
  QTimer timer_;
  QFileSystemWatcher* settingsWatch_ = nullptr;
};

}  // namespace vantrel
