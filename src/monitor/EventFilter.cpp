#include "monitor/EventFilter.h"

#include "log/FormatTime.h"
#include "monitor/Decode.h"
#include "rules/RulePath.h"
#include "text/PathRoutines.h"
#include "text/TextRules.h"

namespace vantrel {

namespace {

constexpr EventKind kBoxKinds[DispatchHost::kTypeBoxCount] = {
    EventKind::FileCreated,   EventKind::FileRenamed, EventKind::FileUpdated,   EventKind::FolderDeleted,
    EventKind::FolderCreated, EventKind::FileDeleted, EventKind::FolderRenamed,
};

}  // namespace

std::optional<DispatchHost::TypeBox> TypeBoxOf(EventKind kind) {
  for (int box = 0; box < DispatchHost::kTypeBoxCount; ++box)
    if (kBoxKinds[box] == kind) return static_cast<DispatchHost::TypeBox>(box);
  return std::nullopt;
}

EventKind KindOfTypeBox(DispatchHost::TypeBox box) { return kBoxKinds[box]; }

bool IsRepeatEvent(EventKind kind, const std::string& path, const DispatchHost& host, const Clock& clock) {
  const std::string& now = RowTimeText(clock.Local());
  // One and the same row, the path's latest: three texts found in three
  // different rows would drop nearly every real change on a busy disk.
  return host.RowListed(now, EventKindName(kind), path);
}

bool PathInCustomScope(const std::string& path, const DispatchHost& host) {
  for (std::size_t row = 0; row < host.MonitoredPathCount(); ++row)
    if (RuleScopeHolds(host.MonitoredPathAt(row), path)) return true;
  return false;
}

namespace {

// In custom-path mode a move across the edge of the monitored paths is what
// it is to them: a creation when it came in from outside, a deletion when it
// went out; a move that stays outside is nothing. Null when the event stays
// as it is (or is dropped: then dropped is set).
std::optional<ChangeEvent> AsSeenByTheRulePaths(const ChangeEvent& event, const DispatchHost& host, bool& dropped) {
  dropped = false;
  bool rename = event.code == SHCNE_RENAMEITEM || event.code == SHCNE_RENAMEFOLDER;
  if (!rename || event.newPath.empty() || !host.CustomPathMode()) return std::nullopt;
  bool fromInside = PathInCustomScope(event.path, host);
  bool toInside = PathInCustomScope(event.newPath, host);
  dropped = !fromInside && !toInside;
  if (fromInside == toInside) return std::nullopt;
  bool folder = event.code == SHCNE_RENAMEFOLDER;
  ChangeEvent seen = event;
  seen.newPath.clear();
  if (toInside) {
    seen.code = folder ? SHCNE_MKDIR : SHCNE_CREATE;
    seen.path = event.newPath;
  } else {
    seen.code = folder ? SHCNE_RMDIR : SHCNE_DELETE;
    seen.name = PathFileName(event.path, true);
  }
  seen.kind = KindOfCode(seen.code);
  return seen;
}

}  // namespace

std::optional<ChangeEvent> DispatchChangeEvent(ChangeEvent event, const DispatchHost& host, const Clock& clock) {
  bool dropped = false;
  std::optional<ChangeEvent> seen = AsSeenByTheRulePaths(event, host, dropped);
  if (dropped) return std::nullopt;
  if (seen) event = std::move(*seen);
  if (!event.name.empty() && event.name.front() == '$') return std::nullopt;
  if (event.kind == EventKind::None) return std::nullopt;
  if (auto box = TypeBoxOf(event.kind); box && !host.TypeBoxTicked(*box)) return std::nullopt;
  if (event.kind == EventKind::FileUpdated && IsDirectoryPath(event.path)) return std::nullopt;
  if (IsRepeatEvent(event.kind, event.path, host, clock)) return std::nullopt;
  if (PathContains(event.path, host.ProgramDirectory())) return std::nullopt;
  if (host.CustomPathMode()) {
    if (!PathInCustomScope(event.path, host)) return std::nullopt;
  } else if (host.InLastActionTarget(event.path)) {
    return std::nullopt;
  }
  return event;
}

}  // namespace vantrel
