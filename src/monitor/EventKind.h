#pragma once
// The kinds of change the program lists and offers to the rules, as values.
// Their names, which the list, the log, data.jl and config.ini carry, are
// the words of their change codes (Decode.cpp): the core compares kinds,
// and only its edges turn them into words and back.
#include <cstdint>
#include <string_view>

namespace vantrel {

enum class EventKind : std::uint8_t {
  None,     // a named change that is never listed (an attribute change, a drive...)
  Unnamed,  // a code the system has no name for: listed as it comes, nameless
  FileCreated,
  FileDeleted,
  FileUpdated,
  FileRenamed,
  FolderCreated,
  FolderDeleted,
  FolderRenamed,
};

// The kind of a change code (SHCNE_*); None for every named code that is
// never listed, Unnamed for a code without a name.
EventKind KindOfCode(std::uint32_t code);
std::uint32_t CodeOfKind(EventKind kind);
// Its name as stored and shown; empty for None and Unnamed.
std::string_view EventKindName(EventKind kind);
// The kind a stored name stands for: Unnamed for the empty name, None for
// any other text.
EventKind EventKindOfName(std::string_view name);

constexpr bool IsFolderKind(EventKind k) {
  return k == EventKind::FolderCreated || k == EventKind::FolderDeleted || k == EventKind::FolderRenamed;
}
constexpr bool IsRenameKind(EventKind k) { return k == EventKind::FileRenamed || k == EventKind::FolderRenamed; }
constexpr bool IsRemovalKind(EventKind k) { return k == EventKind::FileDeleted || k == EventKind::FolderDeleted; }
// A file's content came or changed: what waiting for a whole file, and
// acting on a file once, are about.
constexpr bool IsContentKind(EventKind k) { return k == EventKind::FileCreated || k == EventKind::FileUpdated; }

}  // namespace vantrel
