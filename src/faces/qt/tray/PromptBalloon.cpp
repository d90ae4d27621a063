#include "faces/qt/tray/PromptBalloon.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QTimer>

namespace vantrel {
namespace {

constexpr int kGap = 4;
// What a title bar measures where the window manager does not say.
constexpr int kAssumedTitleBar = 32;

// The title bars of the program's visible windows, where their buttons are.
std::vector<QRect> TitleBars(const QWidget* except) {
  std::vector<QRect> bars;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w == except || !w->isVisible() || (w->windowType() != Qt::Window && w->windowType() != Qt::Dialog)) continue;
    const QRect frame = w->frameGeometry(), client = w->geometry();
    const int height = client.top() > frame.top() ? client.top() - frame.top() : kAssumedTitleBar;
    bars.emplace_back(frame.left(), client.top() - height, frame.width(), height);
  }
  return bars;
}

}  // namespace

QRect PlaceBalloon(QRect anchor, QSize size, QRect screen, const std::vector<QRect>& titleBars) {
  if (!anchor.isValid()) anchor = QRect(screen.right() - 1, screen.top(), 1, 1);
  const bool below = anchor.center().y() < screen.center().y();
  QRect r(QPoint(anchor.right() + 1 - size.width(), below ? anchor.bottom() + kGap : anchor.top() - kGap - size.height()),
          size);
  auto clamp = [&] {
    r.moveLeft(std::clamp(r.left(), screen.left(), std::max(screen.left(), screen.right() - r.width() + 1)));
    r.moveTop(std::clamp(r.top(), screen.top(), std::max(screen.top(), screen.bottom() - r.height() + 1)));
  };
  clamp();
  // Away from the tray, past each title bar it would cover; beside it when
  // the screen ends first.
  for (std::size_t round = 0; round <= titleBars.size(); ++round) {
    const auto hit = std::find_if(titleBars.begin(), titleBars.end(), [&](const QRect& t) { return t.intersects(r); });
    if (hit == titleBars.end()) break;
    const QRect moved = below ? r.translated(0, hit->bottom() + kGap - r.top()) : r.translated(0, hit->top() - kGap - r.bottom());
    if (screen.contains(moved)) {
      r = moved;
    } else {
      r.moveRight(hit->left() - kGap);
      clamp();
    }
  }
  return r;
}

PromptBalloon::PromptBalloon(QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      icon_(new QLabel(this)),
      title_(new QLabel(this)),
      text_(new QLabel(this)),
      timer_(new QTimer(this)) {
  setObjectName("PromptBalloon");
  setAttribute(Qt::WA_ShowWithoutActivating);
  QFont bold = title_->font();
  bold.setBold(true);
  title_->setFont(bold);
  text_->setWordWrap(true);
  text_->setMaximumWidth(380);
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(10, 8, 12, 10);
  layout->addWidget(icon_, 0, 0, 2, 1, Qt::AlignTop);
  layout->addWidget(title_, 0, 1);
  layout->addWidget(text_, 1, 1);
  timer_->setSingleShot(true);
  connect(timer_, &QTimer::timeout, this, &QWidget::hide);
}

void PromptBalloon::Show(const QString& title, const QString& text, bool error, QRect anchor, int timeoutMs) {
  const QStyle::StandardPixmap kind = error ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxInformation;
  icon_->setPixmap(style()->standardIcon(kind).pixmap(24, 24));
  title_->setText(title);
  text_->setText(text);
  adjustSize();
  QScreen* screen = QGuiApplication::screenAt(anchor.center());
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  setGeometry(PlaceBalloon(anchor, size(), screen->availableGeometry(), TitleBars(this)));
  show();
  raise();
  timer_->start(timeoutMs);
}

void PromptBalloon::mousePressEvent(QMouseEvent*) { hide(); }

void PromptBalloon::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setPen(palette().color(QPalette::Dark));
  p.setBrush(palette().color(QPalette::ToolTipBase));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace vantrel
