#include "faces/qt/tray/TrayIcon.h"

#include "text/Codec.h"
#include "faces/qt/tray/PromptBalloon.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

namespace vantrel {
namespace {

constexpr int kTrayPollMs = 3000;

}  // namespace

QIcon ProgramIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(0x20, 0x70, 0xC0));
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(2, 2, 28, 28, 6, 6);
  p.setPen(QPen(Qt::white, 3));
  p.drawLine(9, 9, 16, 24);
  p.drawLine(16, 24, 23, 9);
  return QIcon(pixmap);
}

TrayIcon::TrayIcon(QObject* parent) : QObject(parent) {}

TrayIcon::~TrayIcon() { Remove(); }

void TrayIcon::Add(QWidget* window, const QString& tip, QMenu* menu) {
  if (!window) return;
  window_ = window;
  tip_ = tip;
  menu_ = menu;
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    CreateIcon();
    return;
  }
  // A tray may come later (a panel started after us).
  trayWatch_ = new QTimer(this);
  connect(trayWatch_, &QTimer::timeout, this, [this] {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    trayWatch_->stop();
    CreateIcon();
  });
  trayWatch_->start(kTrayPollMs);
}

void TrayIcon::CreateIcon() {
  if (icon_ || !window_) return;
  icon_ = new QSystemTrayIcon(ProgramIcon(), this);
  icon_->setToolTip(tip_);
  if (menu_) icon_->setContextMenu(menu_);
  connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) emit Clicked();
  });
  icon_->show();
}

void TrayIcon::Remove() {
  if (trayWatch_) trayWatch_->stop();
  if (icon_) {
    icon_->hide();
    icon_->deleteLater();
    icon_ = nullptr;
  }
  window_ = nullptr;
}

TrayIcon::Prompt TrayIcon::MakePrompt(const std::string& title, const std::string& text, int icon) {
  return {QString::fromStdString(CutToAnsiBytes(title, kTitleBytes)),
          QString::fromStdString(CutToAnsiBytes(text, kTextBytes)), icon};
}

void TrayIcon::ShowPrompt(const std::string& title, const std::string& text, int icon) {
  if (recording_) issued_.push_back(MakePrompt(title, text, icon));
  // Prompts issued while no icon exists change nothing visible.
  if (!window_) return;
  pending_ = PendingPrompt{title, text, icon};
  if (!scheduled_) {
    scheduled_ = true;
    QTimer::singleShot(0, this, [this] { ShowPending(); });
  }
}

void TrayIcon::ShowPending() {
  scheduled_ = false;
  if (!pending_) return;
  Prompt prompt = MakePrompt(pending_->title, pending_->text, pending_->icon);
  pending_.reset();
  if (presenter_) {
    presenter_(prompt);
    return;
  }
  // The desktop's notification service first: it places prompts the way
  // the desktop's other programs' are placed.
  if (Notify(prompt)) return;
  if (icon_ && icon_->isVisible()) {
    if (!balloon_) balloon_ = new PromptBalloon(window_);
    balloon_->Show(prompt.title, prompt.text, prompt.icon == Error, icon_->geometry(), kTimeoutMs);
    return;
  }
  if (fallback_) fallback_(prompt);
}

bool TrayIcon::Notify(const Prompt& prompt) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface() ||
      !bus.interface()->isServiceRegistered("org.freedesktop.Notifications").value())
    return false;
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                                     "org.freedesktop.Notifications", "Notify");
  call << QString("Vantrel") << notificationId_
       << QString(prompt.icon == Error ? "dialog-error" : "dialog-information") << prompt.title << prompt.text
       << QStringList() << QVariantMap() << kTimeoutMs;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    QDBusPendingReply<unsigned> reply = *w;
    // Later prompts replace this one, as balloons do.
    if (!reply.isError()) notificationId_ = reply.value();
    w->deleteLater();
  });
  return true;
}

std::vector<TrayIcon::Prompt> TrayIcon::TakeIssuedPrompts() {
  std::vector<Prompt> out;
  out.swap(issued_);
  return out;
}

}  // namespace vantrel
