#pragma once
// The line under the lists: the outcome of the user's last command, with
// its time, and the prompts that neither a tray nor a notification service
// could show.
#include <QLabel>
#include <QTimer>
#include <string>

#include "time/Clock.h"

namespace vantrel {

class StatusLine : public QLabel {
  Q_OBJECT
 public:
  StatusLine(QWidget* parent, const Clock& clock);
  void Show(const std::string& text, bool error);
  // A burst of changes prompts for each: the line shows the latest a few
  // times a second rather than redrawing for every one.
  void ShowSoon(const std::string& text, bool error);

 private:
  static constexpr int kFrameMs = 100;
  const Clock& clock_;
  QTimer timer_;
  std::string pending_;
  bool pendingError_ = false;
};

}  // namespace vantrel
