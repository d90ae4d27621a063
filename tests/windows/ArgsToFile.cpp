// A program for execute rules under test: writes each argument after the
// first on a line of its own, as UTF-8, to the file the first one names,
// so that a test sees exactly how a command line was split.
#include <windows.h>
#include <shellapi.h>

#include <string>

int main() {
  int count = 0;
  wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!args || count < 2) return 2;
  std::string text;
  for (int i = 2; i < count; ++i) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, args[i], -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, args[i], -1, utf8.data(), n, nullptr, nullptr);
    text += utf8 + "\n";
  }
  HANDLE file = ::CreateFileW(args[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);
  return ok && written == text.size() ? 0 : 1;
}
