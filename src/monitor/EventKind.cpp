#include "monitor/EventKind.h"

#include "monitor/Decode.h"
#include "monitor/ShellEvents.h"

#include <array>
#include <string>
#include <utility>

namespace vantrel {
namespace {

constexpr std::array<std::pair<EventKind, std::uint32_t>, 7> kCodes{{
    {EventKind::FileCreated, SHCNE_CREATE},
    {EventKind::FileDeleted, SHCNE_DELETE},
    {EventKind::FileUpdated, SHCNE_UPDATEITEM},
    {EventKind::FileRenamed, SHCNE_RENAMEITEM},
    {EventKind::FolderCreated, SHCNE_MKDIR},
    {EventKind::FolderDeleted, SHCNE_RMDIR},
    {EventKind::FolderRenamed, SHCNE_RENAMEFOLDER},
}};

// The names, made once from the codes' words.
const std::array<std::string, kCodes.size()>& Names() {
  static const std::array<std::string, kCodes.size()> names = [] {
    std::array<std::string, kCodes.size()> made;
    for (std::size_t i = 0; i < kCodes.size(); ++i) made[i] = DecodeEventName(kCodes[i].second);
    return made;
  }();
  return names;
}

}  // namespace

EventKind KindOfCode(std::uint32_t code) {
  for (const auto& [kind, c] : kCodes)
    if (c == code) return kind;
  return DecodeEventName(code).empty() ? EventKind::Unnamed : EventKind::None;
}

std::uint32_t CodeOfKind(EventKind kind) {
  for (const auto& [k, code] : kCodes)
    if (k == kind) return code;
  return 0;
}

std::string_view EventKindName(EventKind kind) {
  for (std::size_t i = 0; i < kCodes.size(); ++i)
    if (kCodes[i].first == kind) return Names()[i];
  return {};
}

EventKind EventKindOfName(std::string_view name) {
  if (name.empty()) return EventKind::Unnamed;
  for (std::size_t i = 0; i < kCodes.size(); ++i)
    if (Names()[i] == name) return kCodes[i].first;
  return EventKind::None;
}

}  // namespace vantrel
