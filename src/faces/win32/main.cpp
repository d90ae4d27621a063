// vantrel.exe: the window on Windows.
#include "engine/CommandLine.h"
#include "engine/ProgramDir.h"
#include "faces/win32/Controls.h"
#include "faces/win32/MainWindow.h"
#include "platform/InstanceGuard.h"
#include "platform/LogFile.h"
#include "platform/ThisProcess.h"
#include "platform/windows/Wide.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

using namespace vantrel;

namespace {

const char* const kWindowUsage =
    "vantrel.exe [--home DIR] [--console]\n"
    "\n"
    "Vantrel 监视文件系统, 当变动符合规则列表中的规则时执行规则。\n"
    "\n"
    "--home DIR    config.ini, data.jl 与 log\\ 所在的文件夹 (默认: 较早版本在程序旁留下文件时为程序所在文件夹, "
    "否则为 %APPDATA%\\Vantrel)\n"
    "--console     每个事件、操作与错误也写到控制台\n"
    "-h, --help    本说明\n"
    "\n"
    "同一文件夹上 vantrel.exe 与 vantrel-headless.exe 只运行一个; 再次启动时已运行的窗口会来到前面。";

// A window program starts without a console: --console writes where the
// standard error already goes (a file or a pipe given by whoever started
// it), else to the console of the one who started it, else to a console of
// its own titled "程序日志".
void OpenConsole() {
  HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  if (error && error != INVALID_HANDLE_VALUE && ::GetFileType(error) != FILE_TYPE_UNKNOWN) return;
  if (!::AttachConsole(ATTACH_PARENT_PROCESS)) {
    if (!::AllocConsole()) return;
    ::SetConsoleTitleW(platform::WideFromUtf8("程序日志").c_str());
  }
  HANDLE console = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return;
  // The records are written through the C runtime's descriptor 2.
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(console), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(console);
    return;
  }
  if (fd != 2) {
    ::_dup2(fd, 2);
    ::_close(fd);
  }
  ::SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(::_get_osfhandle(2)));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
  std::string error;
  std::optional<CommandLine> line = ParseCommandLine(platform::ProgramArguments(0, nullptr), error);
  if (!line) {
    win32::Tell(nullptr, "Vantrel", error + "\n\n" + kWindowUsage, MB_ICONERROR);
    return 2;
  }
  if (line->help) {
    win32::Tell(nullptr, "Vantrel", kWindowUsage, MB_ICONINFORMATION);
    return 0;
  }
  if (line->console) OpenConsole();
  std::string notice;
  const std::optional<std::string> home = ChooseProgramDir(line->home, error, notice);
  if (!home) {
    win32::Tell(nullptr, "提示:", error, MB_ICONERROR);
    return 1;
  }
  if (line->undo || line->preview) {
    bool ok = false;
    const std::string text = line->undo ? UndoFromCommandLine(*home, *line, ok)
                                        : PreviewFromCommandLine(*home, *line->preview, ok);
    // Where it was started from a console, there; else in a box.
    if (line->console) {
      platform::WriteConsoleRecord(2, text, ok ? 0 : 2);
    } else {
      win32::Tell(nullptr, line->undo ? "撤销" : "试一试", text, ok ? MB_ICONINFORMATION : MB_ICONWARNING);
    }
    return ok ? 0 : 1;
  }
  // The window and the program without one share one guard: on one home
  // one of them runs. Under a debugger a second copy may start.
  InstanceGuard guard(*home, "vantrel");
  const InstanceGuard::Result held =
      ::IsDebuggerPresent() ? InstanceGuard::Result::Unguarded : guard.Acquire(error);
  if (held == InstanceGuard::Result::Running) {
    const std::string running = guard.RunningKind().empty() ? "vantrel" : guard.RunningKind();
    guard.AskToComeForward();
    win32::Tell(nullptr, "友情提醒:", "程序已运行,无需重复运行!\n(" + running + " 正在使用 " + *home + ")",
                MB_ICONINFORMATION | MB_SETFOREGROUND);
    return 0;
  }
  win32::MainWindow::Options options;
  options.home = *home;
  options.backend = line->backend;
  options.console = line->console;
  options.startNotice = notice;
  win32::MainWindow window(std::move(options));
  if (held == InstanceGuard::Result::Acquired) {
    win32::MainWindow::Requests requests;
    requests.comeForward = guard.RequestFd();
    requests.quit = guard.RequestHandle(InstanceGuard::Request::Quit);
    requests.reload = guard.RequestHandle(InstanceGuard::Request::Reload);
    requests.takeComeForward = [&guard] { return guard.TakeRequests(); };
    window.SetRequests(std::move(requests));
  }
  if (!window.Create(show)) return 0;
  return window.Run();
}
