#pragma once
// The notification-area icon and its prompts. Prompts go to the desktop's
// notification service; where there is none, to a balloon by the icon; where
// there is no tray either, to a fallback (the window's status line). The icon
// is added as soon as a tray appears.
#include "faces/shared/FaceTexts.h"

#include <QIcon>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QMenu;
class QSystemTrayIcon;
class QTimer;
class QWidget;

namespace vantrel {

// The program's own icon: in the notification area and on every window.
QIcon ProgramIcon();

class TrayIcon : public QObject {
  Q_OBJECT
 public:
  enum PromptIcon { Info = 1, Error = 3 };
  struct Prompt {
    QString title;
    QString text;
    int icon;
  };
  static constexpr std::size_t kTitleBytes = kPromptTitleBytes;
  static constexpr std::size_t kTextBytes = kPromptTextBytes;
  static constexpr int kTimeoutMs = kPromptTimeoutMs;

  explicit TrayIcon(QObject* parent = nullptr);
  ~TrayIcon() override;

  void Add(QWidget* window, const QString& tip, QMenu* menu);
  void Remove();
  // Each prompt replaces the one before, so of the prompts issued within one
  // pass of the event loop only the last is handed to the desktop.
  void ShowPrompt(const std::string& title, const std::string& text, int icon = Info);

  static std::string CutToAnsiBytes(std::string_view text, std::size_t maxBytes) {
    return vantrel::CutToAnsiBytes(text, maxBytes);
  }

  void RecordPromptsForTesting(bool on) { recording_ = on; }
  // Tests stand in for the desktop: prompts handed over arrive here.
  void SetPresenterForTesting(std::function<void(const Prompt&)> presenter) { presenter_ = std::move(presenter); }
  // Shows a prompt where there is neither a tray nor a notification service,
  // so that no prompt is ever only lost.
  void SetFallback(std::function<void(const Prompt&)> fallback) { fallback_ = std::move(fallback); }
  std::vector<Prompt> TakeIssuedPrompts();

 signals:
  void Clicked();

 private:
  void CreateIcon();
  void ShowPending();
  // To the desktop's notification service; false where there is none.
  bool Notify(const Prompt& prompt);

  QWidget* window_ = nullptr;
  QMenu* menu_ = nullptr;
  QString tip_;
  QSystemTrayIcon* icon_ = nullptr;
  QTimer* trayWatch_ = nullptr;
  class PromptBalloon* balloon_ = nullptr;
  // Kept as given: of a pass's many prompts only the last is shown, so it
  // alone is cut to size and converted.
  struct PendingPrompt {
    std::string title;
    std::string text;
    int icon;
  };
  static Prompt MakePrompt(const std::string& title, const std::string& text, int icon);
  std::optional<PendingPrompt> pending_;
  bool scheduled_ = false;
  bool recording_ = false;
  std::vector<Prompt> issued_;
  std::function<void(const Prompt&)> presenter_;
  std::function<void(const Prompt&)> fallback_;
  unsigned notificationId_ = 0;
};

}  // namespace vantrel
