#include "faces/win32/Controls.h"

#include "faces/shared/WindowLayout.h"

#include "faces/shared/RuntimeError.h"
#include "faces/shared/SkinColours.h"
#include "platform/windows/Wide.h"

#include <commdlg.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

namespace vantrel::win32 {

UINT WindowDpi(HWND window) {
  // Windows 10 tells each window's own DPI; earlier systems only the screen's.
  using DpiForWindow = UINT(WINAPI*)(HWND);
  static const auto forWindow =
      reinterpret_cast<DpiForWindow>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (forWindow && window) {
    if (UINT dpi = forWindow(window)) return dpi;
  }
  HDC screen = ::GetDC(nullptr);
  const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSX) : 96;
  if (screen) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

namespace {

int CALLBACK FoundFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool HasFace(const wchar_t* face) {
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  ::lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
  bool found = false;
  HDC screen = ::GetDC(nullptr);
  ::EnumFontFamiliesExW(screen, &wanted, FoundFace, reinterpret_cast<LPARAM>(&found), 0);
  ::ReleaseDC(nullptr, screen);
  return found;
}

}  // namespace

HFONT MakeUiFont(UINT dpi) {
  // The system's Chinese UI face, else its older one; on a Linux desktop
  // under Wine the common outline faces, before the font mapper's own pick
  // (which may be a bitmap face that drops strokes at this size).
  static const wchar_t* const face = [] {
    for (const wchar_t* name : {L"Microsoft YaHei UI", L"Microsoft YaHei", L"SimSun", L"WenQuanYi Zen Hei",
                                L"Noto Sans CJK SC", L"Droid Sans Fallback"})
      if (HasFace(name)) return name;
    return L"";
  }();
  LOGFONTW font{};
  // 9 points, as the system's dialogs are set.
  font.lfHeight = -MulDiv(10, static_cast<int>(dpi), 72);
  font.lfWeight = FW_NORMAL;
  // Asked for Chinese, the font mapper finds a face with the glyphs even
  // where neither named face exists.
  font.lfCharSet = GB2312_CHARSET;
  // Smoothed whatever the system's setting: at this size a Chinese face's
  // own bitmaps (where it has them) drop strokes.
  font.lfQuality = ANTIALIASED_QUALITY;
  ::lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
  return ::CreateFontIndirectW(&font);
}

const Palette& WornPalette() {
  static const Palette palette = [] {
    std::map<std::string, std::uint32_t> colours;
    if (HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(kSkinResource), MAKEINTRESOURCEW(10) /* RT_RCDATA */))
      if (HGLOBAL loaded = ::LoadResource(nullptr, found))
        colours = SkinColours(std::string_view(static_cast<const char*>(::LockResource(loaded)),
                                               ::SizeofResource(nullptr, found)));
    auto colour = [&colours](const char* name, int system) {
      const auto it = colours.find(name);
      if (it == colours.end()) return ::GetSysColor(system);
      return RGB(it->second >> 16 & 0xFF, it->second >> 8 & 0xFF, it->second & 0xFF);
    };
    Palette p{colour("window", COLOR_BTNFACE), colour("windowText", COLOR_WINDOWTEXT), colour("base", COLOR_WINDOW),
              colour("text", COLOR_WINDOWTEXT), nullptr};
    p.windowBrush = ::CreateSolidBrush(p.window);
    return p;
  }();
  return palette;
}

LRESULT OnSkinGround(WPARAM dc, COLORREF text) {
  ::SetTextColor(reinterpret_cast<HDC>(dc), text);
  ::SetBkColor(reinterpret_cast<HDC>(dc), WornPalette().window);
  return reinterpret_cast<LRESULT>(WornPalette().windowBrush);
}

void FitOnScreen(HWND window) {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) return;
  RECT outer;
  ::GetWindowRect(window, &outer);
  const RECT& work = monitor.rcWork;
  const LayoutRect was{outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top};
  const LayoutRect fitted =
      FitInto(was, {work.left, work.top, work.right - work.left, work.bottom - work.top});
  if (fitted.left == was.left && fitted.top == was.top && fitted.width == was.width && fitted.height == was.height) return;
  ::SetWindowPos(window, nullptr, fitted.left, fitted.top, fitted.width, fitted.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND MakeControl(HWND parent, const wchar_t* windowClass, const char* caption, DWORD style, int id, DWORD exStyle) {
  return ::CreateWindowExW(exStyle, windowClass, platform::WideFromUtf8(caption).c_str(), WS_CHILD | WS_VISIBLE | style,
                           0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           ::GetModuleHandleW(nullptr), nullptr);
}

std::string TextOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return platform::Utf8FromWide(text);
}

void SetText(HWND window, const std::string& text) {
  ::SetWindowTextW(window, platform::WideFromUtf8(text).c_str());
}

int Tell(HWND owner, const std::string& caption, const std::string& text, UINT style) {
  return ::MessageBoxW(owner, platform::WideFromUtf8(text).c_str(), platform::WideFromUtf8(caption).c_str(), style);
}

void ShowCaughtError() {
  try {
    throw;
  } catch (const RuntimeError& e) {
    Tell(nullptr, "提示:", RuntimeErrorText(e.Code(), e.what()), MB_ICONERROR);
  } catch (const std::exception& e) {
    Tell(nullptr, "提示:", RuntimeErrorText(kStandardErrorCode, e.what()), MB_ICONERROR);
  } catch (...) {
    Tell(nullptr, "提示:", RuntimeErrorText(kUnknownErrorCode, "unknown error"), MB_ICONERROR);
  }
}

bool Ask(HWND owner, const std::string& caption, const std::string& question) {
  return Tell(owner, caption, question, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

std::optional<COLORREF> ChooseColour(HWND owner) {
  static COLORREF custom[16] = {};
  CHOOSECOLORW choose{};
  choose.lStructSize = sizeof choose;
  choose.hwndOwner = owner;
  choose.lpCustColors = custom;
  choose.Flags = CC_FULLOPEN | CC_ANYCOLOR;
  if (!::ChooseColorW(&choose)) return std::nullopt;
  return choose.rgbResult;
}

std::string PickPath(HWND owner, const std::string& title, bool folder, const std::string& start) {
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  std::string picked;
  IFileOpenDialog* dialog = nullptr;
  if (SUCCEEDED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                   reinterpret_cast<void**>(&dialog)))) {
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST | (folder ? FOS_PICKFOLDERS : FOS_FILEMUSTEXIST));
    dialog->SetTitle(platform::WideFromUtf8(title).c_str());
    IShellItem* at = nullptr;
    if (!start.empty() &&
        SUCCEEDED(::SHCreateItemFromParsingName(platform::WideFromUtf8(start).c_str(), nullptr, IID_IShellItem,
                                                reinterpret_cast<void**>(&at)))) {
      dialog->SetFolder(at);
      at->Release();
    }
    IShellItem* chosen = nullptr;
    if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&chosen))) {
      wchar_t* path = nullptr;
      if (SUCCEEDED(chosen->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
        picked = platform::Utf8FromWide(path);
        ::CoTaskMemFree(path);
      }
      chosen->Release();
    }
    dialog->Release();
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
  return picked;
}

std::string AskSavePath(HWND owner, const SaveRequest& request) {
  // The filter is "name|pattern" pairs; the dialog wants them NUL-separated.
  std::wstring filter = platform::WideFromUtf8(request.filter);
  for (wchar_t& c : filter)
    if (c == L'|') c = L'\0';
  filter.push_back(L'\0');
  filter.push_back(L'\0');
  std::vector<wchar_t> path(32768, L'\0');
  const std::wstring name = platform::WideFromUtf8(request.defaultName);
  name.copy(path.data(), std::min(name.size(), path.size() - 1));
  const std::wstring title = platform::WideFromUtf8(request.title), dir = platform::WideFromUtf8(request.initialDirectory);
  std::wstring extension = platform::WideFromUtf8(request.defaultExtension);
  if (!extension.empty() && extension.front() == L'.') extension.erase(0, 1);
  OPENFILENAMEW save{};
  save.lStructSize = sizeof save;
  save.hwndOwner = owner;
  save.lpstrFilter = filter.c_str();
  save.lpstrFile = path.data();
  save.nMaxFile = static_cast<DWORD>(path.size());
  save.lpstrInitialDir = dir.empty() ? nullptr : dir.c_str();
  save.lpstrTitle = title.c_str();
  save.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  save.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_EXPLORER;
  if (!::GetSaveFileNameW(&save)) return {};
  return platform::Utf8FromWide(path.data());
}

}  // namespace vantrel::win32
