#include "rules/ProgramAction.h"

#include "platform/windows/Wide.h"
#include "text/PathRoutines.h"

#include <windows.h>
#include <shellapi.h>

#include <cerrno>
#include <vector>

namespace vantrel {
namespace {

int ShowCommand(int showMode) {
  switch (showMode) {
    case 1:
      return SW_HIDE;
    case 2:
      return SW_SHOWMINNOACTIVE;
    case 3:
      return SW_SHOWMAXIMIZED;
    default:
      return SW_SHOWNORMAL;
  }
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// Batch files run under the command interpreter, which reads the whole line
// again: a file name with "&" in it would run a command.
bool IsBatchFile(const std::string& program) {
  const std::string extension = Lower(PathExtension(PathFileName(program, true)));
  return extension == ".bat" || extension == ".cmd";
}

// Something that exists but is no program (a document, a folder) is opened
// with the program the user chose for it, as a double click would.
bool IsDocument(const std::string& program) {
  const std::string extension = Lower(PathExtension(PathFileName(program, true)));
  if (extension == ".exe" || extension == ".com") return false;
  return ::GetFileAttributesW(platform::NativePath(program).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void Fail(ProgramLaunch& launch) { launch.error = platform::LastWin32Error().Text(); }

}  // namespace

void StartProgram(const std::string& program, const std::vector<std::string>& args, int showMode,
                  ProgramLaunch& launch) {
  if (IsBatchFile(program)) {
    launch.error = "批处理文件经命令解释器启动, 文件名可被当作命令, 不启动";
    return;
  }
  if (program.find('"') != std::string::npos) {
    // No Windows path holds one, and it would end the program's name early.
    launch.error = FileErrorText(EINVAL);
    return;
  }
  const int show = ShowCommand(showMode);
  if (IsDocument(program)) {
    const std::wstring file = platform::WideFromUtf8(program);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.nShow = show;
    if (!::ShellExecuteExW(&info)) return Fail(launch);
    launch.started = true;
    if (info.hProcess) {
      launch.pid = static_cast<int>(::GetProcessId(info.hProcess));
      ::CloseHandle(info.hProcess);
    }
    return;
  }
  // The program's own name is read up to the next quote, without escapes,
  // and a Windows path holds no quote: quoted as it is.
  std::string line = "\"" + program + "\"";
  for (const std::string& arg : args) line += " " + QuoteCommandLineArgument(arg);
  std::wstring command = platform::WideFromUtf8(line);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(show);
  PROCESS_INFORMATION process{};
  // No handle of ours is inherited; a hidden console program gets no
  // console window at all.
  const DWORD flags = CREATE_DEFAULT_ERROR_MODE | (showMode == 1 ? CREATE_NO_WINDOW : 0);
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup, &process))
    return Fail(launch);
  launch.started = true;
  launch.pid = static_cast<int>(process.dwProcessId);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
}

std::vector<std::string> SplitProgramParameters(const std::string& text) { return SplitCommandLine(text); }

}  // namespace vantrel
