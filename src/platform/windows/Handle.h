#pragma once
// A kernel handle that closes itself, and the names Windows opens as
// devices, for the Windows halves that open files.
#include "platform/StoredFile.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
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

// Others may read, write, rename and remove what we hold open: holding a
// file or a folder must never make a user's own change fail.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct FolderEntry {
  std::wstring_view name;
  DWORD attributes = 0;
  std::uint64_t id = 0;
  std::uint64_t size = 0;
  std::int64_t written = 0, changed = 0;  // in the 100 ns ticks of FILETIME
};

// Every entry of the folder open as dir (with FILE_LIST_DIRECTORY) but "."
// and "..", through that handle: no second handle is opened on the folder,
// so its share modes are the caller's. Returns 0 or the Win32 error.
DWORD ListFolder(HANDLE dir, const std::function<void(const FolderEntry&)>& each);

// Opens the folder at path for listing, sharing everything.
Handle OpenFolderToList(std::string_view path);

// The DOS device names, which Windows opens as devices in any folder and
// with any extension, and the device namespace itself: opening one could
// block or act (a serial line raises its control lines).
bool NamesDevice(std::string_view path);

// The stamp of an open file: taken while we alone hold it, it is the file as
// we left it, whoever writes once we let go.
std::optional<FileStamp> StampOfHandle(HANDLE file);

}  // namespace vantrel::platform
