#pragma once
// The process's own capabilities, through the kernel's interface directly
// (no library), for the two programs: the watch helper keeps the two it
// needs and nothing else, and the program drops every one it was given.
#include <initializer_list>

namespace vantrel {

// Numbers as in <linux/capability.h>.
inline constexpr int kCapDacReadSearch = 2;
inline constexpr int kCapSysAdmin = 21;

bool HasEffectiveCapability(int cap);
bool HasPermittedCapability(int cap);

// Permitted becomes `keep` (what of it the process has), effective the part
// of it named in `effective`; inheritable and ambient are emptied.
bool LimitCapabilities(std::initializer_list<int> keep, std::initializer_list<int> effective);
// Raises or lowers one permitted capability in the effective set.
bool SetEffectiveCapability(int cap, bool on);

}  // namespace vantrel
