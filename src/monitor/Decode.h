#pragma once
#include "monitor/ShellEvents.h"

#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

// The event name of an exact code; empty for any other value.
std::string DecodeEventName(std::uint32_t code);

// The name the user sees for an item: its last path component ("/" for the
// root); empty when there is none.
std::string ItemDisplayName(std::string_view item);
// The absolute file-system path of an item; empty for anything else.
std::string ItemPath(std::string_view item);

// No event when an item has no display name: such a notification is dropped.
std::optional<ChangeEvent> DecodeNotification(const ChangeNotification& n);

}  // namespace vantrel
