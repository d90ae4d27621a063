#pragma once
// std::filesystem paths from and to the program's UTF-8 text. A path made
// from a plain std::string goes through the C library's narrow locale, which
// on Windows is the ANSI code page and mangles UTF-8; char8_t does not.
#include <filesystem>
#include <string>
#include <string_view>

namespace vantrel {

inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace vantrel
