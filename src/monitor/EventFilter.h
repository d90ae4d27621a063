#pragma once
// Decides for every decoded change whether it is listed and offered to the
// rules, judged by the window's settings as they are at that moment.
#include "monitor/EventKind.h"
#include "monitor/ShellEvents.h"
#include "time/Clock.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

class DispatchHost {
 public:
  // The event-type boxes in the order the filter consults them; each lets
  // one kind through (KindOfTypeBox).
  enum TypeBox {
    FileCreatedBox,
    FileRenamedBox,
    FileUpdatedBox,
    FolderDeletedBox,
    FolderCreatedBox,
    FileDeletedBox,
    FolderRenamedBox,
    kTypeBoxCount
  };

  virtual ~DispatchHost() = default;
  virtual bool TypeBoxTicked(TypeBox box) const = 0;
  virtual bool CustomPathMode() const = 0;
  virtual const std::string& ProgramDirectory() const = 0;
  // Whether path lies in the target of the action most recently begun,
  // asked rather than copied out: every event asks.
  virtual bool InLastActionTarget(const std::string& path) const = 0;
  // Column 1 of every rule, ticked or not.
  virtual std::size_t MonitoredPathCount() const = 0;
  virtual const std::string& MonitoredPathAt(std::size_t row) const = 0;
  // Whether the latest listed row with this path has this time text and
  // event name.
  virtual bool RowListed(std::string_view time, std::string_view eventName, std::string_view path) const = 0;
};

// The box that lets a kind of event through; every named kind that is
// listed has one.
std::optional<DispatchHost::TypeBox> TypeBoxOf(EventKind kind);
EventKind KindOfTypeBox(DispatchHost::TypeBox box);

// The event as it is to be listed and offered to the rules, or nothing when
// it is dropped. In custom-path mode a move across the edge of the rule
// paths comes back as the creation or deletion it is to them; for a rename,
// path is the old path and newPath the new one. The repeat test asks about
// the current second on the clock given.
std::optional<ChangeEvent> DispatchChangeEvent(ChangeEvent event, const DispatchHost& host, const Clock& clock);
bool IsRepeatEvent(EventKind kind, const std::string& path, const DispatchHost& host, const Clock& clock);
bool PathInCustomScope(const std::string& path, const DispatchHost& host);

}  // namespace vantrel
