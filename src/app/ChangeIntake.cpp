#include "app/ChangeIntake.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

namespace vantrel {
namespace {
// Long enough to keep the per-slice overhead small, short enough that input
// is never held up noticeably.
constexpr qint64 kSliceMs = 10;
}  // namespace

ChangeIntake::ChangeIntake(std::unique_ptr<ChangeSource> source, Handler handler, ReportHandler reports,
                           QObject* parent)
    : QObject(parent),
      source_(std::move(source)),
      handler_(std::move(handler)),
      reports_(std::move(reports)),
      notifier_(new QSocketNotifier(source_->Queue().ReadyFd(), QSocketNotifier::Read, this)) {
  connect(notifier_, &QSocketNotifier::activated, this, [this] { Take(); });
}

ChangeIntake::~ChangeIntake() {
  notifier_->setEnabled(false);
  source_->Stop();
}

void ChangeIntake::Take() {
  if (next_ == taken_.size()) {
    taken_.clear();
    next_ = 0;
  }
  source_->Queue().TakeAll(taken_);
  for (const SourceReport& report : source_->Queue().TakeReports()) reports_(report);
  WorkOff();
}

void ChangeIntake::WorkOff() {
  scheduled_ = false;
  QElapsedTimer timer;
  timer.start();
  while (next_ < taken_.size()) {
    // Moved out first: the handler may run a nested event loop that lands here again.
    ChangeNotification n = std::move(taken_[next_++]);
    handler_(n);
    if (timer.elapsed() >= kSliceMs && next_ < taken_.size()) {
      if (!scheduled_) {
        scheduled_ = true;
        QTimer::singleShot(0, this, [this] { WorkOff(); });
      }
      return;
    }
  }
}

void ChangeIntake::DrainNow() {
  Take();
  while (next_ < taken_.size()) WorkOff();
}

}  // namespace vantrel
