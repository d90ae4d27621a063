#include "monitor/linux/Capabilities.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vantrel {
namespace {

struct CapSets {
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
};

bool Get(CapSets& sets) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return ::syscall(SYS_capget, &header, sets.data) == 0;
}

bool Set(const CapSets& sets) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return ::syscall(SYS_capset, &header, sets.data) == 0;
}

constexpr unsigned Word(int cap) { return static_cast<unsigned>(cap) / 32; }
constexpr __u32 Bit(int cap) { return __u32{1} << (static_cast<unsigned>(cap) % 32); }

}  // namespace

bool HasEffectiveCapability(int cap) {
  CapSets sets;
  return Get(sets) && (sets.data[Word(cap)].effective & Bit(cap));
}

bool HasPermittedCapability(int cap) {
  CapSets sets;
  return Get(sets) && (sets.data[Word(cap)].permitted & Bit(cap));
}

bool LimitCapabilities(std::initializer_list<int> keep, std::initializer_list<int> effective) {
  CapSets now;
  if (!Get(now)) return false;
  CapSets next;
  for (int cap : keep) next.data[Word(cap)].permitted |= now.data[Word(cap)].permitted & Bit(cap);
  for (int cap : effective) next.data[Word(cap)].effective |= next.data[Word(cap)].permitted & Bit(cap);
  // Ambient capabilities would pass to anything executed; none is.
  ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  return Set(next);
}

bool SetEffectiveCapability(int cap, bool on) {
  CapSets sets;
  if (!Get(sets)) return false;
  if (on) {
    sets.data[Word(cap)].effective |= sets.data[Word(cap)].permitted & Bit(cap);
  } else {
    sets.data[Word(cap)].effective &= ~Bit(cap);
  }
  return Set(sets) && HasEffectiveCapability(cap) == on;
}

}  // namespace vantrel
