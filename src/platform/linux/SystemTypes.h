#pragma once
// The Linux forms of the platform layer's system types; the build puts this
// folder on the include path, so that the portable headers name no system.
namespace vantrel::platform {

// A descriptor that polls readable.
using WaitHandle = int;
inline constexpr WaitHandle kNoWaitHandle = -1;

// What the one-copy guard holds: the lock file and its local socket.
struct GuardHandles {
  int lock = -1;
  WaitHandle requests = -1;
};

}  // namespace vantrel::platform
