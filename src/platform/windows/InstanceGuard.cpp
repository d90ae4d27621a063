#include "platform/InstanceGuard.h"

#include "platform/windows/Handle.h"
#include "platform/windows/Wide.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vantrel {
namespace {

constexpr DWORD kKindBytes = 256;

std::string Hex(unsigned long long value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%llx", value);
  return buf;
}

}  // namespace

InstanceGuard::InstanceGuard(std::string home, std::string kind) : home_(std::move(home)), kind_(std::move(kind)) {}

InstanceGuard::~InstanceGuard() {
  for (void* h : {handles_.reload, handles_.quit, handles_.requests, handles_.kindMapping, handles_.lock})
    if (h) ::CloseHandle(h);
}

bool InstanceGuard::ChooseFolder(std::string&) { return true; }

InstanceGuard::Result InstanceGuard::Acquire(std::string& error) {
  // The home's identity: the same folder through another name (a junction,
  // a mapped drive of it) is the same home.
  HANDLE dir = ::CreateFileW(platform::NativePath(home_).c_str(), 0, platform::kShareAll,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = dir != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(dir, &info);
  if (dir != INVALID_HANDLE_VALUE) ::CloseHandle(dir);
  if (!known) {
    error = home_ + ": " + platform::LastWin32Error().Text();
    return Result::Unguarded;
  }
  // The session's own namespace: a copy in another user's session is
  // another user's, and does not count.
  name_ = "Local\\Vantrel-" + Hex(info.dwVolumeSerialNumber) + "-" +
          Hex((static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
  folder_ = "session";
  handles_.lock = ::CreateMutexW(nullptr, FALSE, platform::WideFromUtf8(name_).c_str());
  if (!handles_.lock) {
    error = name_ + ": " + platform::LastWin32Error().Text();
    return Result::Unguarded;
  }
  const bool running = ::GetLastError() == ERROR_ALREADY_EXISTS;
  handles_.kindMapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kKindBytes,
                                      platform::WideFromUtf8(name_ + "-kind").c_str());
  if (running) {
    if (handles_.kindMapping) {
      if (void* view = ::MapViewOfFile(handles_.kindMapping, FILE_MAP_READ, 0, 0, kKindBytes)) {
        const char* text = static_cast<const char*>(view);
        runningKind_.assign(text, ::strnlen(text, kKindBytes - 1));
        ::UnmapViewOfFile(view);
      }
    }
    ::CloseHandle(handles_.lock);
    handles_.lock = nullptr;
    return Result::Running;
  }
  if (handles_.kindMapping) {
    if (void* view = ::MapViewOfFile(handles_.kindMapping, FILE_MAP_WRITE, 0, 0, kKindBytes)) {
      std::memcpy(view, kind_.c_str(), std::min<std::size_t>(kind_.size() + 1, kKindBytes - 1));
      ::UnmapViewOfFile(view);
    }
  }
  handles_.requests = ::CreateEventW(nullptr, FALSE, FALSE, platform::WideFromUtf8(name_ + "-forward").c_str());
  handles_.quit = ::CreateEventW(nullptr, FALSE, FALSE, platform::WideFromUtf8(name_ + "-quit").c_str());
  handles_.reload = ::CreateEventW(nullptr, FALSE, FALSE, platform::WideFromUtf8(name_ + "-reload").c_str());
  return Result::Acquired;
}

namespace {

bool RaiseNamedEvent(const std::string& name) {
  HANDLE event = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, platform::WideFromUtf8(name).c_str());
  if (!event) return false;
  const bool sent = ::SetEvent(event) != 0;
  ::CloseHandle(event);
  return sent;
}

}  // namespace

bool InstanceGuard::AskToComeForward() const { return !name_.empty() && RaiseNamedEvent(name_ + "-forward"); }

bool InstanceGuard::WaitUntilEnded(unsigned milliseconds) const {
  // The guard is the mutex's existence: gone when the last handle closed.
  const std::wstring name = platform::WideFromUtf8(name_);
  for (unsigned waited = 0;; waited += 50) {
    HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
    if (!mutex) return true;
    ::CloseHandle(mutex);
    if (waited >= milliseconds) return false;
    ::Sleep(50);
  }
}

bool InstanceGuard::Ask(Request request) const {
  return !name_.empty() && RaiseNamedEvent(name_ + (request == Request::Quit ? "-quit" : "-reload"));
}

bool InstanceGuard::TakeRequests() {
  // An auto-reset event: however many copies asked, one answer is due.
  return handles_.requests && ::WaitForSingleObject(handles_.requests, 0) == WAIT_OBJECT_0;
}

platform::WaitHandle InstanceGuard::RequestHandle(Request request) const {
  return request == Request::Quit ? handles_.quit : handles_.reload;
}

}  // namespace vantrel
