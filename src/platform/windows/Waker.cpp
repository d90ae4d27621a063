#include "platform/Waker.h"

#include <windows.h>

#include <stdexcept>

namespace vantrel::platform {

// Manual reset: it stays raised for every wait until cleared, as the Linux
// descriptor stays readable.
Waker::Waker() : handle_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (!handle_) throw std::runtime_error("CreateEventW failed");
}

Waker::~Waker() { ::CloseHandle(handle_); }

void Waker::Raise() { ::SetEvent(handle_); }

void Waker::Clear() { ::ResetEvent(handle_); }

bool IsRaised(WaitHandle handle) { return ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0; }

}  // namespace vantrel::platform
