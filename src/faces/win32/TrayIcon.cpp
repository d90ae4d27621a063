#include "faces/win32/TrayIcon.h"

#include "faces/shared/FaceTexts.h"
#include "platform/windows/Wide.h"

#include <shellapi.h>

#include <algorithm>

namespace vantrel::win32 {
namespace {

template <std::size_t N>
void Fill(wchar_t (&field)[N], const std::string& text) {
  const std::wstring wide = platform::WideFromUtf8(text);
  const std::size_t n = std::min(wide.size(), N - 1);
  wide.copy(field, n);
  field[n] = L'\0';
}

}  // namespace

NOTIFYICONDATAW TrayIcon::Data() const {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window_;
  data.uID = 1;
  return data;
}

UINT TrayIcon::TaskbarCreatedMessage() {
  static const UINT message = ::RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

bool TrayIcon::Add(HWND window, HICON icon, const std::string& tip) {
  window_ = window;
  icon_ = icon;
  tip_ = tip;
  if (added_) return true;
  NOTIFYICONDATAW data = Data();
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kCallback;
  data.hIcon = icon;
  Fill(data.szTip, tip);
  added_ = ::Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
  triedAt_ = ::GetTickCount();
  return added_;
}

DWORD TrayIcon::KeepAdded() {
  if (added_ || !window_) return INFINITE;
  const DWORD since = ::GetTickCount() - triedAt_;
  if (since < kRetryMs) return kRetryMs - since;
  return Add(window_, icon_, tip_) ? INFINITE : kRetryMs;
}

void TrayIcon::Remove() {
  if (!added_) return;
  NOTIFYICONDATAW data = Data();
  ::Shell_NotifyIconW(NIM_DELETE, &data);
  added_ = false;
}

bool TrayIcon::ShowPrompt(const std::string& title, const std::string& text, PromptIcon icon) {
  if (!added_) return false;
  // An error waiting is not pushed aside by news that is none.
  if (!isWaiting_ || waiting_.icon != Error || icon == Error) waiting_ = Prompt{title, text, icon};
  isWaiting_ = true;
  if (shown_ == 0 || ::GetTickCount() - lastShown_ >= kPromptFrameMs) return Show();
  return true;
}

DWORD TrayIcon::FlushPrompt() {
  if (!isWaiting_) return INFINITE;
  const DWORD since = ::GetTickCount() - lastShown_;
  if (since < kPromptFrameMs) return kPromptFrameMs - since;
  Show();
  return INFINITE;
}

bool TrayIcon::Show() {
  isWaiting_ = false;
  lastShown_ = ::GetTickCount();
  ++shown_;
  lastText_ = waiting_.text;
  NOTIFYICONDATAW data = Data();
  data.uFlags = NIF_INFO;
  // The same cut as the other window: what the log calls one prompt reads
  // the same on both systems.
  Fill(data.szInfoTitle, CutToAnsiBytes(waiting_.title, kPromptTitleBytes));
  Fill(data.szInfo, CutToAnsiBytes(waiting_.text, kPromptTextBytes));
  data.uTimeout = kPromptTimeoutMs;
  data.dwInfoFlags = waiting_.icon == Error ? NIIF_ERROR : NIIF_INFO;
  return ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

}  // namespace vantrel::win32
