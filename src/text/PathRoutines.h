#pragma once
#include <string>
#include <string_view>

namespace vantrel {

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

// True when path is dir itself or lies below it.
bool PathWithin(std::string_view path, std::string_view dir);

// The path with its last component replaced by newName, the way a rename is
// shown: from the separator before that component on, every occurrence of
// the old name is replaced, without regard to letter case.
std::string ReplaceLastComponent(std::string_view path, std::string_view newName);

// Where a renamed item now is: the new path itself where the change source
// told it, else the old path shown with its new name.
std::string NewPathOfRename(std::string_view oldPath, std::string_view newName, std::string_view newPath);

}  // namespace vantrel
