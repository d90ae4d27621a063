#pragma once
// The Windows forms of the platform layer's system types; the build puts
// this folder on the include path, so that the portable headers name no
// system.
namespace vantrel::platform {

// An event object.
using WaitHandle = void*;
inline const WaitHandle kNoWaitHandle = nullptr;

// What the one-copy guard holds: its mutex, the shared name of the running
// kind, and the events later starts raise.
struct GuardHandles {
  void* lock = nullptr;
  void* kindMapping = nullptr;
  WaitHandle requests = nullptr;
  WaitHandle quit = nullptr;
  WaitHandle reload = nullptr;
};

}  // namespace vantrel::platform
