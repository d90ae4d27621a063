#pragma once
// Change codes and the records that carry one change from a change source to
// the rest of the program. The codes are the shell's SHCNE values, which the
// event names, the settings and the rule file are all keyed by.
#include "monitor/EventKind.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vantrel {

enum ShellEventCode : std::uint32_t {
  SHCNE_RENAMEITEM = 0x00000001,
  SHCNE_CREATE = 0x00000002,
  SHCNE_DELETE = 0x00000004,
  SHCNE_MKDIR = 0x00000008,
  SHCNE_RMDIR = 0x00000010,
  SHCNE_MEDIAINSERTED = 0x00000020,
  SHCNE_MEDIAREMOVED = 0x00000040,
  SHCNE_DRIVEREMOVED = 0x00000080,
  SHCNE_DRIVEADD = 0x00000100,
  SHCNE_NETSHARE = 0x00000200,
  SHCNE_NETUNSHARE = 0x00000400,
  SHCNE_ATTRIBUTES = 0x00000800,
  SHCNE_UPDATEDIR = 0x00001000,
  SHCNE_UPDATEITEM = 0x00002000,
  SHCNE_SERVERDISCONNECT = 0x00004000,
  SHCNE_UPDATEIMAGE = 0x00008000,
  SHCNE_DRIVEADDGUI = 0x00010000,
  SHCNE_RENAMEFOLDER = 0x00020000,
  SHCNE_FREESPACE = 0x00040000,
  SHCNE_EXTENDED_EVENT = 0x04000000,
  SHCNE_ASSOCCHANGED = 0x08000000,
  SHCNE_DISKEVENTS = 0x0002381F,
  SHCNE_GLOBALEVENTS = 0x0C0581E0,
  SHCNE_ALLEVENTS = 0x7FFFFFFF,
  SHCNE_INTERRUPT = 0x80000000,
};

// One change as a source reports it. Items are absolute paths; a rename
// carries the old path as item 1 and the new one as item 2.
struct ChangeNotification {
  std::uint32_t code = 0;
  std::optional<std::string> item1;
  std::optional<std::string> item2;
  // Process that caused the change, where the source knows it (0 otherwise).
  std::int32_t pid = 0;
};

struct ChangeEvent {
  std::uint32_t code = 0;
  EventKind kind = EventKind::None;
  std::string name;  // display name of the new item for a rename
  std::string path;  // path of item 1 (the old path for a rename)
  std::string time;  // trigger time, set when the event is listed
  // The second item's path, so that the new path of a rename need not be
  // derived again.
  std::string newPath;
  std::int32_t pid = 0;
};

}  // namespace vantrel
