#pragma once
// A signal that one thread raises and another thread's event loop waits on
// among its other sources: a descriptor that polls readable on Linux, an
// event object on Windows.
// WaitHandle and kNoWaitHandle, in this system's form.
#include "SystemTypes.h"

namespace vantrel::platform {

class Waker {
 public:
  Waker();
  ~Waker();
  Waker(const Waker&) = delete;
  Waker& operator=(const Waker&) = delete;

  // Raised until Clear; raising it twice is raising it once.
  void Raise();
  void Clear();
  WaitHandle Handle() const { return handle_; }

 private:
  WaitHandle handle_;
};

// Whether the waker behind the handle is raised now, without waiting.
bool IsRaised(WaitHandle handle);

}  // namespace vantrel::platform
