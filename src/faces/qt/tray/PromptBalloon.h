#pragma once
// The balloon a prompt shows by the tray icon where no notification service
// places it: ours, so that it can keep clear of the buttons on the title
// bars of the program's own windows.
#include <QRect>
#include <QWidget>
#include <vector>

class QLabel;
class QTimer;

namespace vantrel {

// By the tray icon (anchor), within the screen, and off every title bar.
QRect PlaceBalloon(QRect anchor, QSize size, QRect screen, const std::vector<QRect>& titleBars);

class PromptBalloon : public QWidget {
  Q_OBJECT
 public:
  explicit PromptBalloon(QWidget* parent = nullptr);
  void Show(const QString& title, const QString& text, bool error, QRect anchor, int timeoutMs);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QLabel* icon_;
  QLabel* title_;
  QLabel* text_;
  QTimer* timer_;
};

}  // namespace vantrel
