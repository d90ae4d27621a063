#pragma once
// What the Win32 window repeats: the system's Chinese UI font at the
// window's DPI, design pixels scaled, controls made with UTF-8 captions,
// text read back, and the common dialogs in the program's words.
#include <windows.h>

#include <optional>
#include <string>

namespace vantrel::win32 {

// The window's dots per inch (96 where the system cannot say).
UINT WindowDpi(HWND window);
inline int Scaled(int designPixels, UINT dpi) { return MulDiv(designPixels, static_cast<int>(dpi), 96); }

// The UI font for a DPI: Microsoft YaHei UI where the system has it, else
// SimSun, else whatever the system maps a Chinese font to. The caller owns it.
HFONT MakeUiFont(UINT dpi);

// The skin's palette: the windows' ground and text and the lists' ground
// and text, from the skin the program carries (resource kSkinResource); the
// system's colours where it carries none. Its brush lives as long as the
// program.
struct Palette {
  COLORREF window, windowText, base, text;
  HBRUSH windowBrush;
};
inline constexpr int kSkinResource = 2;
const Palette& WornPalette();
// WM_CTLCOLORSTATIC's answer: a static control, box or group box in the
// text colour given, on the skin's ground.
LRESULT OnSkinGround(WPARAM dc, COLORREF text);

// Moves (and if need be shrinks) a top-level window into the usable part of
// the screen it is on: saved larger than the screen, or placed off it, it
// comes back whole.
void FitOnScreen(HWND window);

HWND MakeControl(HWND parent, const wchar_t* windowClass, const char* caption, DWORD style, int id,
                 DWORD exStyle = 0);
std::string TextOf(HWND window);
void SetText(HWND window, const std::string& text);

// Tells the user what the exception being handled was (the last resort:
// its code and message in a box); call only inside a catch block.
void ShowCaughtError();

// The window procedure of a window class whose object handles its messages:
// the object comes with WM_NCCREATE (CreateWindowEx's last argument), is
// kept in the window's user data and told its window (T::Attach), every
// message then goes to T::Handle, and the last one lets go of the window.
template <typename T>
LRESULT CALLBACK ObjectProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->Attach(window);
  }
  auto* self = reinterpret_cast<T*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(window, message, wParam, lParam);
  LRESULT result = 0;
  // An exception must not unwind through the system's frames: it is told
  // here and the program goes on.
  try {
    result = self->Handle(message, wParam, lParam);
  } catch (...) {
    ShowCaughtError();
  }
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->Attach(nullptr);
  }
  return result;
}

// MessageBoxW with the program's UTF-8 texts; returns its answer.
int Tell(HWND owner, const std::string& caption, const std::string& text, UINT style);
bool Ask(HWND owner, const std::string& caption, const std::string& question);

// The colour dialog; nothing when cancelled.
std::optional<COLORREF> ChooseColour(HWND owner);

// The system's own picker (IFileOpenDialog) for a folder or a file, opened
// where start points when it exists; empty when cancelled.
std::string PickPath(HWND owner, const std::string& title, bool folder, const std::string& start);

// The system's save dialog; empty when cancelled.
struct SaveRequest {
  std::string title, defaultName, filter, initialDirectory, defaultExtension;
};
std::string AskSavePath(HWND owner, const SaveRequest& request);

}  // namespace vantrel::win32
