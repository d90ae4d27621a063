#include "text/PathRoutines.h"

#include "platform/StoredFile.h"
#include "text/TextRules.h"

#ifdef _WIN32
#include "platform/windows/Wide.h"

#include <windows.h>
#endif

namespace vantrel {

bool IsDirectoryPath(const std::string& path) { return platform::IsDirectory(path); }

bool IsAbsolutePath(std::string_view path) {
#ifdef _WIN32
  if (path.size() >= 3 && path[1] == ':' && IsPathSeparator(path[2])) return true;
  return path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]);
#else
  return !path.empty() && path.front() == '/';
#endif
}

std::string_view FolderPart(std::string_view path) {
  const std::size_t sep = LastSeparator(path);
  if (sep == std::string_view::npos) return {};
  return path.substr(0, sep == 0 || sep < RootLength(path) ? sep + 1 : sep);
}

std::string PathFileName(std::string_view path, bool withExtension) {
  std::size_t slash = LastSeparator(path);
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (withExtension) return std::string(name);
  return std::string(name.substr(0, name.size() - PathExtension(name).size()));
}

std::string PathExtension(std::string_view fileName) {
  std::size_t slash = LastSeparator(fileName);
  if (slash != std::string_view::npos) fileName = fileName.substr(slash + 1);
  std::size_t dot = fileName.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(fileName.substr(dot));
}

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (out.empty() || !IsPathSeparator(out.back())) out += kPathSeparator;
  out.append(name);
  return out;
}

std::string CleanPath(std::string_view path) {
  if (path.empty()) return {};
  std::string out;
#ifdef _WIN32
  // A UNC path keeps the two separators that make it one.
  if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) out = "\\\\";
#endif
  if (out.empty() && IsPathSeparator(path.front())) out = std::string(1, kPathSeparator);
  std::size_t at = 0;
  while (at <= path.size()) {
    std::size_t end = path.find_first_of(kPathSeparators, at);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(at, end - at);
    if (!part.empty() && part != ".") {
      if (!out.empty() && !IsPathSeparator(out.back())) out += kPathSeparator;
      out.append(part);
    }
    at = end + 1;
  }
#ifdef _WIN32
  // "C:" alone is the current folder of drive C, not its root.
  if (out.size() == 2 && out[1] == ':' && path.size() > 2 && IsPathSeparator(path[2])) out += kPathSeparator;
#endif
  return out.empty() ? "." : out;
}

bool PathWithin(std::string_view path, std::string_view dir) {
#ifdef _WIN32
  // One folder whatever its spelling: "C:\\CF\\a" lies within "c:\\cf".
  const std::string pathKey = PathKey(path), dirKey = PathKey(dir);
  path = pathKey;
  dir = dirKey;
#endif
  return path.size() >= dir.size() && path.compare(0, dir.size(), dir) == 0 &&
         (path.size() == dir.size() || IsPathSeparator(path[dir.size()]) || (!dir.empty() && IsPathSeparator(dir.back())));
}

std::string ReplaceLastComponent(std::string_view path, std::string_view newName) {
  std::string oldName = PathFileName(path, true);
  std::size_t from = path.size() >= oldName.size() + 1 ? path.size() - oldName.size() - 1 : 0;
  return std::string(path.substr(0, from)) + ReplaceAllIgnoreCase(path.substr(from), oldName, newName);
}

std::string NewPathOfRename(std::string_view oldPath, std::string_view newName, std::string_view newPath) {
  // The kernel's own bytes of the new path, whatever their encoding: a name
  // rebuilt from text can name a file that is not there.
  if (!newPath.empty()) return std::string(newPath);
  return ReplaceLastComponent(oldPath, newName);
}

std::size_t SystemPathUnits(std::string_view utf8) {
#ifdef _WIN32
  std::size_t units = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80) ++units;
    // A four-byte sequence is a surrogate pair in UTF-16.
    if (c >= 0xF0) ++units;
  }
  return units;
#else
  return utf8.size();
#endif
}

std::string PathKey(std::string_view path) {
  std::string key(path);
#ifdef _WIN32
  bool ascii = true;
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c == '/') c = '\\';
    if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
  }
  if (ascii) return key;
  // Letters beyond ASCII ("Ä", "я") differ in case too; the system's own
  // upper-casing, character for character, is what its file systems go by.
  std::wstring wide = platform::WideFromUtf8(key);
  if (!wide.empty()) ::CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  return platform::Utf8FromWide(wide);
#else
  return key;
#endif
}

#ifdef _WIN32
bool PathContains(std::string_view text, std::string_view part) { return TextContains(PathKey(text), PathKey(part)); }
#endif

std::size_t RootLength(std::string_view path) {
#ifdef _WIN32
  if (path.size() >= 3 && path[1] == ':' && IsPathSeparator(path[2])) return 3;
  if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
    std::size_t server = path.find_first_of(kPathSeparators, 2);
    if (server == std::string_view::npos) return path.size();
    std::size_t share = path.find_first_of(kPathSeparators, server + 1);
    return share == std::string_view::npos ? path.size() : share;
  }
  return 0;
#else
  return !path.empty() && path.front() == '/' ? 1 : 0;
#endif
}

}  // namespace vantrel
