// Walks the Win32 window's states on a real display and saves a picture of
// each as a person meets it: scripts/screenshots-windows.sh runs it under
// Wine on a virtual X server with a window manager and a tray. Menus and
// boxes run loops of their own; a timer inside those loops takes their
// picture and closes them.
#include "faces/win32/Controls.h"
#include "faces/win32/MainWindow.h"
#include "monitor/ScriptedSource.h"
#include "monitor/ShellEvents.h"
#include "platform/windows/Wide.h"
#include "text/PathRoutines.h"

#include "TestDir.h"

#include <commctrl.h>
#include <windowsx.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace vantrel;
using namespace vantrel::win32;

std::string outDir;
bool allSaved = true;

std::uint32_t Crc(const unsigned char* data, std::size_t n, std::uint32_t crc = 0) {
  static std::uint32_t table[256];
  if (!table[1])
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
  crc = ~crc;
  for (std::size_t i = 0; i < n; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void Put32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void Chunk(std::string& png, const char* type, const std::string& data) {
  Put32(png, static_cast<std::uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  png += body;
  Put32(png, Crc(reinterpret_cast<const unsigned char*>(body.data()), body.size()));
}

// A PNG of RGB rows, its image data in stored (uncompressed) deflate blocks:
// no library needed, and the pictures are few.
std::string Png(int width, int height, const std::vector<unsigned char>& rgb) {
  std::string raw;
  for (int y = 0; y < height; ++y) {
    raw.push_back('\0');
    raw.append(reinterpret_cast<const char*>(rgb.data()) + static_cast<std::size_t>(y) * width * 3,
               static_cast<std::size_t>(width) * 3);
  }
  std::string z = "\x78\x01";
  std::uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  for (std::size_t at = 0; at < raw.size() || at == 0; at += 65535) {
    const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
    z.push_back(at + n >= raw.size() ? '\1' : '\0');
    z.push_back(static_cast<char>(n & 0xFF));
    z.push_back(static_cast<char>(n >> 8));
    z.push_back(static_cast<char>(~n & 0xFF));
    z.push_back(static_cast<char>((~n >> 8) & 0xFF));
    z.append(raw, at, n);
    if (raw.empty()) break;
  }
  Put32(z, (b << 16) | a);
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  Put32(header, static_cast<std::uint32_t>(width));
  Put32(header, static_cast<std::uint32_t>(height));
  header += std::string("\x08\x02\x00\x00\x00", 5);
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", z);
  Chunk(png, "IEND", "");
  return png;
}

void Shoot(const char* name) {
  HDC screen = ::GetDC(nullptr);
  const int width = ::GetSystemMetrics(SM_CXSCREEN), height = ::GetSystemMetrics(SM_CYSCREEN);
  HDC memory = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY | CAPTUREBLT);
  ::SelectObject(memory, old);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  std::vector<unsigned char> bgra(static_cast<std::size_t>(width) * height * 4);
  ::GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), bgra.data(), &info, DIB_RGB_COLORS);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
  for (std::size_t i = 0, n = static_cast<std::size_t>(width) * height; i < n; ++i) {
    rgb[i * 3] = bgra[i * 4 + 2];
    rgb[i * 3 + 1] = bgra[i * 4 + 1];
    rgb[i * 3 + 2] = bgra[i * 4];
  }
  const std::string path = JoinPath(outDir, std::string(name) + ".png");
  std::ofstream(PathFromUtf8(path), std::ios::binary) << Png(width, height, rgb);
  const bool saved = std::filesystem::file_size(PathFromUtf8(path)) > 1000;
  allSaved = allSaved && saved;
  std::printf("%s %s\n", saved ? "saved" : "FAILED", path.c_str());
}

// Turns of the window's loop for a while: what was asked gets drawn.
void Settle(MainWindow& window, int ms = 600) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) window.Turn(20);
}

// Inside a menu's or a box's own loop: the picture, then the way out.
const char* pendingShot = nullptr;
void CALLBACK ShootAndClose(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  if (pendingShot) Shoot(pendingShot);
  pendingShot = nullptr;
  ::EndMenu();
  // A message box or common dialog of this thread, closed as Escape would.
  if (HWND box = ::FindWindowW(L"#32770", nullptr)) ::PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
}
void ShootInsideLoop(const char* name, UINT afterMs = 900) {
  pendingShot = name;
  ::SetTimer(nullptr, 0, afterMs, ShootAndClose);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: win32_screenshot_tour OUTDIR\n");
    return 2;
  }
  outDir = argv[1];
  std::filesystem::create_directories(PathFromUtf8(outDir));
  TestDir home, files;
  const std::string in = CleanPath(JoinPath(files.Path(), "收件箱")), backup = CleanPath(JoinPath(files.Path(), "备份"));
  std::filesystem::create_directories(PathFromUtf8(in));
  std::filesystem::create_directories(PathFromUtf8(backup));

  ScriptedSource* source = nullptr;
  MainWindow::Options options;
  options.home = home.Path();
  options.sourceFactory = ScriptedSourceFactory(source);
  MainWindow window(std::move(options));
  if (!window.Create(SW_SHOWNORMAL)) return 1;
  Settle(window);
  // What a newcomer meets: no rules yet, and the way to the first.
  Shoot("0-first-start");
  RuleStore& rules = window.Core().Rules();
  rules.Add("新建文件", in, "【复制文件】" + backup);
  rules.Add("删除文件", in, "【执行程序】C:\\windows\\system32\\cmd.exe§/c echo #文件名§1");
  rules.Add("重命名目录", "D:\\共享", "【移动文件】D:\\归档");
  Settle(window);
  for (const char* name : {"报告.docx", "照片-2024.jpg", "合同.pdf"}) {
    const std::string path = JoinPath(in, name);
    std::ofstream(PathFromUtf8(path), std::ios::binary) << name;
    source->Inject({{SHCNE_CREATE, path, std::nullopt, 0}});
    Settle(window, 200);
  }
  source->Inject({{SHCNE_RENAMEITEM, JoinPath(in, "草稿.txt"), JoinPath(in, "定稿.txt"), 0}});
  source->Inject({{SHCNE_DELETE, JoinPath(in, "旧.tmp"), std::nullopt, 0}});
  Settle(window, 1500);
  window.Core().FinishPendingActions();
  Settle(window);
  Shoot("1-main-window");

  ShootInsideLoop("2-rule-list-menu");
  ListView_SetItemState(window.Control(k超级列表框2), 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  ::SendMessageW(window.Window(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window.Control(k超级列表框2)), -1);
  ShootInsideLoop("3-event-list-menu");
  ListView_SetItemState(window.Control(k超级列表框1), 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  ::SendMessageW(window.Window(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window.Control(k超级列表框1)), -1);
  ShootInsideLoop("4-tray-menu");
  ::SendMessageW(window.Window(), TrayIcon::kCallback, 1, WM_RBUTTONDOWN);
  window.TellUser("提示:", "已导出 6 行到 C:\\users\\报告\\20261210-事件.txt", false);
  Settle(window, 1200);
  Shoot("5-balloon-and-status");

  window.OpenRuleEditorForAdd();
  RuleEditor& editor = window.Editor();
  const std::pair<int, const char*> radios[] = {{k单选框_复制, "6-editor-copy"},
                                                {k单选框_移动, "7-editor-move"},
                                                {k单选框_删除, "8-editor-delete"},
                                                {k单选框_执行, "9-editor-execute"}};
  for (const auto& [radio, picture] : radios) {
    ::SendMessageW(editor.Control(radio), BM_CLICK, 0, 0);
    Settle(window);
    Shoot(picture);
  }
  window.OpenRuleEditorForModify();
  Settle(window);
  Shoot("10-editor-modify");
  window.OpenRuleEditorForAdd();
  ::SendMessageW(editor.Control(k单选框_复制), BM_CLICK, 0, 0);
  SetText(editor.Control(k编辑框1), "");
  ShootInsideLoop("11-validation-message");
  editor.Submit();
  Settle(window);
  ::ShowWindow(editor.Window(), SW_HIDE);

  ShootInsideLoop("12-colour-dialog", 1500);
  ::SendMessageW(window.Window(), WM_COMMAND, MAKEWPARAM(k修改颜色 + 0, 0), 0);
  ShootInsideLoop("13-export-dialog", 2500);
  ::SendMessageW(window.Window(), WM_COMMAND, MAKEWPARAM(k导出列表, 0), 0);
  Settle(window);
  window.QuitProgram();
  return allSaved ? 0 : 1;
}
