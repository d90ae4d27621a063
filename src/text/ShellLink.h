#pragma once
// A reader of the published shell-link (.lnk) format, for shortcuts copied
// from Windows: the target as Windows stored it (a Windows path), as UTF-8.
#include <string>
#include <string_view>

namespace vantrel {

// The target of the shortcut file's bytes: the local base path and common
// path suffix of its LinkInfo (the Unicode forms where present), else its
// relative path, joined to its working folder where it has one. Empty text
// for anything that cannot be read; never reads outside the bytes.
std::string ShortcutTargetOf(std::string_view bytes);

// The same for a file on disk.
std::string ResolveShortcutTarget(const std::string& path);

}  // namespace vantrel
