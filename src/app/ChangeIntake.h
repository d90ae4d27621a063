#pragma once
// Brings a change source's notifications to the GUI thread and hands them
// over one at a time, in order. A large backlog is worked off in slices so
// that the window keeps answering the user meanwhile.
#include "monitor/ChangeSource.h"

#include <QObject>
#include <deque>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace vantrel {

class ChangeIntake : public QObject {
  Q_OBJECT
 public:
  using Handler = std::function<void(const ChangeNotification&)>;
  using ReportHandler = std::function<void(const SourceReport&)>;

  ChangeIntake(std::unique_ptr<ChangeSource> source, Handler handler, ReportHandler reports,
               QObject* parent = nullptr);
  ~ChangeIntake() override;

  ChangeSource& Source() { return *source_; }
  // Takes whatever is waiting now and handles all of it; for tests.
  void DrainNow();

 private:
  void Take();
  void WorkOff();

  std::unique_ptr<ChangeSource> source_;
  Handler handler_;
  ReportHandler reports_;
  QSocketNotifier* notifier_;
  std::vector<ChangeNotification> taken_;
  std::size_t next_ = 0;
  bool scheduled_ = false;
};

}  // namespace vantrel
