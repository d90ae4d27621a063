#pragma once
// The notification-area icon of the Win32 window, its balloons and its
// menu's anchor. Added again when the shell's taskbar is made anew (the
// shell restarted), as the shell then forgets every icon.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace vantrel::win32 {

class TrayIcon {
 public:
  // The window receives kCallback with the mouse message in lParam.
  static constexpr UINT kCallback = WM_APP + 1;
  enum PromptIcon { Info = 1, Error = 3 };

  TrayIcon() = default;
  ~TrayIcon() { Remove(); }
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // False where there is no notification area to take it (yet: a shell
  // that is starting, or busy, refuses for a while).
  bool Add(HWND window, HICON icon, const std::string& tip);
  // Tries again once a while after a refusal; the milliseconds until the
  // next try, or INFINITE once the icon is there.
  DWORD KeepAdded();
  static constexpr DWORD kRetryMs = 1000;
  void Remove();
  bool Added() const { return added_; }
  // The message the shell sends when its taskbar is made again.
  static UINT TaskbarCreatedMessage();
  void AddAgain() {
    added_ = false;
    Add(window_, icon_, tip_);
  }
  // A balloon by the icon; false when there is no icon to show it by. A
  // burst of changes prompts thousands of times a second, and every balloon
  // is a call into the shell's process: the shell is asked at most once a
  // frame, for the newest prompt (an error before anything newer that is
  // none), and what waits goes out with FlushPrompt.
  bool ShowPrompt(const std::string& title, const std::string& text, PromptIcon icon);
  // Shows the prompt that waits once its frame is over. The milliseconds
  // until then while one waits, else INFINITE.
  DWORD FlushPrompt();
  static constexpr DWORD kPromptFrameMs = 200;
  // How many balloons the shell was asked for, and the last one's text; for tests.
  unsigned long PromptsShown() const { return shown_; }
  const std::string& LastShownText() const { return lastText_; }

 private:
  NOTIFYICONDATAW Data() const;
  bool Show();

  HWND window_ = nullptr;
  HICON icon_ = nullptr;
  std::string tip_;
  bool added_ = false;
  DWORD triedAt_ = 0;
  struct Prompt {
    std::string title, text;
    PromptIcon icon = Info;
  };
  Prompt waiting_;
  bool isWaiting_ = false;
  DWORD lastShown_ = 0;
  unsigned long shown_ = 0;
  std::string lastText_;
};

}  // namespace vantrel::win32
