// Started by the program-action tests: writes the window show mode it was
// given and every argument after its own name, each UTF-8 and NUL-ended,
// into the file named by VANTREL_ARGV_FILE, then a line end, so that a
// test sees exactly what the C runtime made of the command line.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  wchar_t file[32768];
  if (!::GetEnvironmentVariableW(L"VANTREL_ARGV_FILE", file, 32768)) return 2;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  ::GetStartupInfoW(&startup);
  std::string out = "show=" + std::to_string((startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1);
  out += '\0';
  for (int i = 1; i < argc; ++i) {
    int n = ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), n, nullptr, nullptr);
    out += arg;  // its own NUL ends it
  }
  out += '\n';
  // Written whole under another name and renamed, so that a reader never
  // sees half of it.
  std::wstring temp = std::wstring(file) + L".part";
  HANDLE h = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  ::WriteFile(h, out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
  ::CloseHandle(h);
  return ::MoveFileExW(temp.c_str(), file, MOVEFILE_REPLACE_EXISTING) ? 0 : 4;
}
