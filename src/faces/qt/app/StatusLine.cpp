#include "faces/qt/app/StatusLine.h"

#include "log/FormatTime.h"

namespace vantrel {

StatusLine::StatusLine(QWidget* parent, const Clock& clock) : QLabel(parent), clock_(clock) {
  setObjectName("状态栏");
  setTextInteractionFlags(Qt::TextSelectableByMouse);
  timer_.setSingleShot(true);
  timer_.setInterval(kFrameMs);
  connect(&timer_, &QTimer::timeout, this, [this] { Show(pending_, pendingError_); });
}

void StatusLine::Show(const std::string& text, bool error) {
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText,
                   error ? QColor(0xC0, 0x20, 0x20) : parentWidget()->palette().color(QPalette::WindowText));
  setPalette(colours);
  setText(QString::fromStdString(FormatTime(clock_.Local(), 1, 0, 2) + "  " + text));
}

void StatusLine::ShowSoon(const std::string& text, bool error) {
  pending_ = text;
  pendingError_ = error;
  if (!timer_.isActive()) timer_.start();
}

}  // namespace vantrel
