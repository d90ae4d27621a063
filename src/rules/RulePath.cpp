#include "rules/RulePath.h"

#include "platform/Error.h"
#include "platform/Utf8Path.h"
#include "rules/RuleFile.h"
#include "text/PathRoutines.h"
#include "text/TextRules.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace vantrel {
namespace {

bool HasWildcard(std::string_view text) { return text.find_first_of("*?") != std::string_view::npos; }

// The bytes of the UTF-8 character that starts at text[at].
std::size_t CharLength(std::string_view text, std::size_t at) {
  const auto c = static_cast<unsigned char>(text[at]);
  std::size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  return std::min(n, text.size() - at);
}

// "*" and "?" over whole characters, by backtracking to the last star: linear
// for the patterns people write, never exponential.
bool GlobMatches(std::string_view name, std::string_view pattern) {
  std::size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = ++p;
      starN = n;
    } else if (p < pattern.size() && pattern[p] == '?') {
      n += CharLength(name, n);
      ++p;
    } else if (p < pattern.size() && pattern[p] == name[n]) {
      ++n;
      ++p;
    } else if (starP != std::string_view::npos) {
      starN += CharLength(name, starN);
      n = starN;
      p = starP;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// "$HOME", "${HOME}" or "%USERPROFILE%": a name the shell would have filled
// in, which a rule would keep as text.
std::optional<std::string> EnvironmentName(std::string_view path) {
  for (std::size_t at = path.find('$'); at != std::string_view::npos; at = path.find('$', at + 1)) {
    const std::size_t start = at + 1 + (at + 1 < path.size() && path[at + 1] == '{');
    std::size_t end = start;
    while (end < path.size() && (std::isalnum(static_cast<unsigned char>(path[end])) || path[end] == '_')) ++end;
    if (end > start && !std::isdigit(static_cast<unsigned char>(path[start]))) return std::string(path.substr(at, end - at));
  }
  for (std::size_t at = path.find('%'); at != std::string_view::npos; at = path.find('%', at + 1)) {
    const std::size_t end = path.find('%', at + 1);
    if (end == std::string_view::npos) break;
    const std::string_view name = path.substr(at + 1, end - at - 1);
    if (!name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
          return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '(' || c == ')';
        }))
      return std::string(path.substr(at, end - at + 1));
  }
  return std::nullopt;
}

bool StartsWithTilde(std::string_view path) { return !path.empty() && path.front() == '~'; }

const char* kAbsoluteExample =
#ifdef _WIN32
    "带盘符的完整路径, 如 D:\\资料";
#else
    "以 / 开头的完整路径, 如 /home/用户/资料, 或以 ~/ 开头";
#endif

}  // namespace

RulePath SplitRulePath(std::string_view monitoredPath) {
  const std::size_t sep = LastSeparator(monitoredPath);
  const std::string_view last = monitoredPath.substr(sep == std::string_view::npos ? 0 : sep + 1);
  if (!HasWildcard(last)) return {monitoredPath, {}};
  return {FolderPart(monitoredPath), last};
}

bool NameMatches(std::string_view name, std::string_view patterns) {
#ifdef _WIN32
  const std::string nameKey = PathKey(name);
  name = nameKey;
#endif
  // Asked for every change a patterned rule sees: the patterns are read in
  // place.
  for (std::size_t at = 0; at <= patterns.size();) {
    const std::size_t end = std::min(patterns.find(';', at), patterns.size());
    const std::string_view trimmed = TrimBlanks(patterns.substr(at, end - at));
    at = end + 1;
    if (trimmed.empty()) continue;
#ifdef _WIN32
    if (GlobMatches(name, PathKey(trimmed))) return true;
#else
    if (GlobMatches(name, trimmed)) return true;
#endif
  }
  return false;
}

namespace {

bool ScopeHolds(const RulePath& parts, std::string_view monitoredPath, std::string_view path) {
  if (monitoredPath == GlobalPathMarker) return true;
  if (parts.patterns.empty()) return PathContains(path, monitoredPath);
  if (parts.folder.empty() || parts.folder == GlobalPathMarker) return true;
#ifdef _WIN32
  const std::string pathKey = PathKey(path), folderKey = PathKey(parts.folder);
  const std::string_view text = pathKey, folder = folderKey;
#else
  const std::string_view text = path, folder = parts.folder;
#endif
  const bool endsWithSeparator = IsPathSeparator(folder.back());
  for (std::size_t at = text.find(folder); at != std::string_view::npos; at = text.find(folder, at + 1)) {
    const std::size_t end = at + folder.size();
    if (end < text.size() && (endsWithSeparator || IsPathSeparator(text[end]))) return true;
  }
  return false;
}

}  // namespace

bool RuleScopeHolds(std::string_view monitoredPath, std::string_view path) {
  return ScopeHolds(SplitRulePath(monitoredPath), monitoredPath, path);
}

bool RulePathTakes(std::string_view monitoredPath, std::string_view path, std::string_view itemName) {
  const RulePath parts = SplitRulePath(monitoredPath);
  if (!ScopeHolds(parts, monitoredPath, path)) return false;
  if (parts.patterns.empty()) return true;
  const std::string fromPath = itemName.empty() ? PathFileName(path) : std::string();
  return NameMatches(itemName.empty() ? std::string_view(fromPath) : itemName, parts.patterns);
}

TypedPath CheckTypedPath(std::string_view typed, const std::string& home, PathRole role) {
  TypedPath result;
  std::string text(TrimBlanks(typed));
  const std::string quoted = "“" + text + "”";
  if (text == GlobalPathMarker && role == PathRole::Watched) {
    result.path = text;
    return result;
  }
  if (StartsWithTilde(text)) {
    if (text.size() > 1 && !IsPathSeparator(text[1])) {
      result.refusal = quoted + " 不能使用: 只有 ~ 和 ~/ 会换成主文件夹, 请写出" + kAbsoluteExample + "。";
      return result;
    }
    text = home + text.substr(1);
  }
  if (std::optional<std::string> name = EnvironmentName(text)) {
    result.refusal = quoted + " 中的 " + *name + " 是环境变量, 规则不会展开它: 请写出" + kAbsoluteExample + "。";
    return result;
  }
  if (!IsAbsolutePath(text)) {
    result.refusal = quoted + " 不是完整路径, 规则不知道它从哪个文件夹算起: 请写出" + kAbsoluteExample + "。";
    return result;
  }
  // "a/../b" names b: the changes' paths never hold "..", so neither may a
  // rule's. What is left is cleaned of doubled separators and ".".
  if (text.find("..") != std::string::npos)
    text = Utf8FromPath(PathFromUtf8(text).lexically_normal());
  result.path = CleanPath(text);
  const RulePath parts = SplitRulePath(result.path);
  if (role == PathRole::Target && !parts.patterns.empty()) {
    result.refusal = "目标文件夹 " + quoted + " 中不能有通配符 * 或 ?。";
    return result;
  }
  const std::string folder(parts.patterns.empty() ? result.path : std::string(parts.folder));
  if (IsDirectoryPath(folder)) return result;
  std::error_code error;
  const bool exists = std::filesystem::exists(PathFromUtf8(folder), error);
  if (exists && role == PathRole::Target) {
    result.refusal = "“" + folder + "” 是文件, 不是文件夹: 请选择复制或移动到的文件夹。";
  } else if (!exists) {
    // A watched name with an extension in a folder that is there is a file
    // to come, not a folder to make.
    const std::size_t sep = LastSeparator(folder);
    const bool fileToCome = role == PathRole::Watched && parts.patterns.empty() && !PathExtension(folder).empty() &&
                            sep != std::string::npos && IsDirectoryPath(folder.substr(0, std::max<std::size_t>(sep, 1)));
    if (!fileToCome) result.missingFolder = folder;
  }
  return result;
}

std::optional<std::string> RulePathNeverMatches(std::string_view monitoredPath) {
  if (monitoredPath.empty() || monitoredPath == GlobalPathMarker) return std::nullopt;
  const RulePath parts = SplitRulePath(monitoredPath);
  const std::string_view folder = parts.folder;
  if (StartsWithTilde(folder)) return "路径以 ~ 开头: 变化的路径中不会有 ~, 请改成完整路径";
  if (std::optional<std::string> name = EnvironmentName(folder))
    return "路径中的 " + *name + " 是环境变量, 不会被展开: 请改成完整路径";
#ifndef _WIN32
  if (folder.size() >= 3 && folder[1] == ':' && folder[2] == '\\') return "这是 Windows 的路径, 在本系统上不会匹配";
#endif
  // The changes' paths are clean: a rule whose text is not never occurs in
  // one. A UNC path's two leading separators are its own.
#ifdef _WIN32
  const std::size_t from = folder.size() >= 2 && IsPathSeparator(folder[0]) && IsPathSeparator(folder[1]) ? 2 : 0;
#else
  const std::size_t from = 0;
#endif
  for (std::size_t at = from; at + 1 < folder.size(); ++at) {
    if (!IsPathSeparator(folder[at])) continue;
    const std::string_view rest = folder.substr(at + 1);
    const std::size_t next = rest.find_first_of(kPathSeparators);
    const std::string_view component = rest.substr(0, next);
    if (component.empty() || component == "." || component == "..")
      return "路径中有重复的分隔符或 “.”、“..”: 变化的路径中不会这样写, 请改成整洁的完整路径";
  }
  return std::nullopt;
}

std::optional<std::string> MakeFolders(const std::string& folder) {
  std::error_code error;
  std::filesystem::create_directories(PathFromUtf8(folder), error);
  if (!error || IsDirectoryPath(folder)) return std::nullopt;
  const std::string why =
      error.category() == std::generic_category() ? FileErrorText(error.value()) : error.message();
  return "无法创建文件夹 " + folder + " (" + why + ")";
}

}  // namespace vantrel
