#include "platform/Error.h"

#include "platform/windows/Wide.h"

#include <windows.h>

namespace vantrel::platform {

Error LastSystemError() { return LastWin32Error(); }

std::string NativeErrorText(std::int64_t native) {
  wchar_t* text = nullptr;
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(native), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (n == 0 || !text) return {};
  std::wstring words(text, n);
  ::LocalFree(text);
  // The system ends its messages with a line break; a message stays one line.
  while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' ')) words.pop_back();
  return Utf8FromWide(words);
}

}  // namespace vantrel::platform
