#pragma once
// What a rule's monitored path says: the folder (or text) it watches and,
// after it, the names it takes. "…/下载/*.pdf" takes the PDFs made anywhere
// in …/下载; a path without wildcards is matched as text, as it always was.
// The patterns live in the path itself, so data.jl keeps its three fields
// and a reader that knows no patterns sees an ordinary rule, one whose text
// no path contains, which therefore never acts there.
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

struct RulePath {
  std::string_view folder;    // the whole path when there are no patterns
  std::string_view patterns;  // "*.jpg;*.png", or empty
};
// The last component is patterns when it holds "*" or "?" (which no Windows
// name can; on Linux a folder so named cannot be watched by its own name).
RulePath SplitRulePath(std::string_view monitoredPath);

// Whether a name matches one of the ";"-separated patterns: "*" any run of
// characters, "?" one character; letter case aside on Windows, as the file
// system has it on Linux.
bool NameMatches(std::string_view name, std::string_view patterns);

// Whether the rule watches the place of a change at path: a rule without
// patterns by text, anywhere in the path (earlier rule files rely on "\data"
// taking "D:\data\a" and "E:\old\data\b"); a rule with patterns names its
// folder whole, so that "…/A/*.pdf" does not act in the sibling "…/A2".
bool RuleScopeHolds(std::string_view monitoredPath, std::string_view path);
// The scope, and the item's name (the new one for a rename) against the
// patterns.
bool RulePathTakes(std::string_view monitoredPath, std::string_view path, std::string_view itemName);

// A path typed into a box, made into what a rule can use, or why not.
struct TypedPath {
  std::string path;     // "~" expanded, separators and "." cleaned
  std::string refusal;  // why it cannot be used; empty when it can
  // The folder that would have to exist (the path itself, or the folder
  // before the patterns) and does not: offered to be made.
  std::string missingFolder;
};
// home: what "~" stands for. A target must be a folder and takes no
// patterns.
enum class PathRole { Watched, Target };
TypedPath CheckTypedPath(std::string_view typed, const std::string& home, PathRole role);

// Why a rule read from the file can never act on any change, in the user's
// words; nothing when it can.
std::optional<std::string> RulePathNeverMatches(std::string_view monitoredPath);

// Makes the folder and any missing above it; an error text when it failed.
std::optional<std::string> MakeFolders(const std::string& folder);

}  // namespace vantrel
