#pragma once
// The one way the program's UTF-8 text reaches a Windows call and comes
// back: the narrow (ANSI) calls would read it in the ANSI code page and
// mangle it.
#include "platform/Error.h"

#include <string>
#include <string_view>

namespace vantrel::platform {

// Invalid UTF-8 becomes U+FFFD; unpaired UTF-16 surrogates likewise.
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

// A path as Windows calls take it: UTF-16 with '\' separators and, from the
// length where Windows calls begin to refuse a path, the "\\?\" form of its
// full path (which Windows takes up to 32,767 characters).
std::wstring NativePath(std::string_view utf8Path);

// A Windows error number as the portable error.
Error ErrorFromWin32(unsigned long code);
Error LastWin32Error();

}  // namespace vantrel::platform
