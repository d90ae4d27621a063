#pragma once
// A kernel handle that closes itself, and the names Windows opens as
// devices, for the Windows halves that open files.
#include <windows.h>

#include <string_view>
#include <utility>

namespace vantrel::platform {

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& other) noexcept : h_(std::exchange(other.h_, INVALID_HANDLE_VALUE)) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.h_, INVALID_HANDLE_VALUE));
    return *this;
  }
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE Get() const { return h_; }
  void Reset(HANDLE h = INVALID_HANDLE_VALUE) {
    if (Valid()) ::CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

// The DOS device names, which Windows opens as devices in any folder and
// with any extension, and the device namespace itself: opening one could
// block or act (a serial line raises its control lines).
bool NamesDevice(std::string_view path);

}  // namespace vantrel::platform
