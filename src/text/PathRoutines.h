#pragma once
#include <climits>
#include <cstddef>
#include <string>
#include <string_view>

#include "text/TextRules.h"

namespace vantrel {

// Paths are the system's own: "/" on Linux; "\\" on Windows, where "/" is
// taken as a separator too, as Windows itself takes it.
// The longest path a system call takes: PATH_MAX bytes on Linux; on Windows
// 32,767 UTF-16 units in the "\\?\" form, which is how the program hands
// long paths on.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr std::string_view kPathSeparators = "\\/";
inline constexpr std::size_t kSystemPathLimit = 32767;
#else
inline constexpr char kPathSeparator = '/';
inline constexpr std::string_view kPathSeparators = "/";
inline constexpr std::size_t kSystemPathLimit = PATH_MAX;
#endif
// A path's length in the units of kSystemPathLimit.
std::size_t SystemPathUnits(std::string_view utf8);
inline bool IsPathSeparator(char c) { return kPathSeparators.find(c) != std::string_view::npos; }
// The last separator's place, or npos.
inline std::size_t LastSeparator(std::string_view path) { return path.find_last_of(kPathSeparators); }
// "/..." on Linux; "X:\..." or "\\server\..." on Windows.
bool IsAbsolutePath(std::string_view path);
// The path as the file system tells paths apart, for comparing and keying.
// Windows ignores letter case and takes "/" for "\\": the echo of a copy
// into "D:\\Bak" comes back as "D:\\bak\\..." when that is how the folder is
// spelled on disk; letters beyond ASCII go by the system's own upper-casing.
// Linux: the path itself.
std::string PathKey(std::string_view path);
// Whether part occurs in text, as rules and the list compare paths: letter
// case and "/" aside on Windows (TextContains of the keys), byte for byte on
// Linux.
#ifdef _WIN32
bool PathContains(std::string_view text, std::string_view part);
#else
inline bool PathContains(std::string_view text, std::string_view part) { return TextContains(text, part); }
#endif
// The part of an absolute path no folder lies above: "/" on Linux; "X:\"
// or "\\server\share" on Windows; 0 for a path that is not absolute.
std::size_t RootLength(std::string_view path);

// The folder part of a path: up to its last separator, a root keeping its
// own ("/", "C:\\"); empty when there is no separator.
std::string_view FolderPart(std::string_view path);

// True only for an existing directory (symbolic links to one included).
bool IsDirectoryPath(const std::string& path);

// The text after the last "/"; empty when the path ends with "/". Without
// the extension, the last PathExtension is cut off ("a.b.txt" gives "a.b").
std::string PathFileName(std::string_view path, bool withExtension = true);

// From the last "." of the file name to its end, dot included; empty when
// there is none.
std::string PathExtension(std::string_view fileName);

// path + "/" + name, without doubling the separator after "/".
std::string JoinPath(std::string_view dir, std::string_view name);

// The path without doubled or trailing separators and "." components, read
// as text alone: ".." stays, since a link may stand before it. "" stays "",
// a relative path that empties becomes ".".
std::string CleanPath(std::string_view path);

// True when path is dir itself or lies below it (compared as keys on Windows).
bool PathWithin(std::string_view path, std::string_view dir);

// The path with its last component replaced by newName, the way a rename is
// shown: from the separator before that component on, every occurrence of
// the old name is replaced, without regard to letter case.
std::string ReplaceLastComponent(std::string_view path, std::string_view newName);

// Where a renamed item now is: the new path itself where the change source
// told it, else the old path shown with its new name.
std::string NewPathOfRename(std::string_view oldPath, std::string_view newName, std::string_view newPath);

}  // namespace vantrel
