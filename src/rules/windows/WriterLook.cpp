#include "rules/WholeFile.h"

#include "platform/windows/Handle.h"
#include "platform/windows/Wide.h"
#include "text/PathRoutines.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace vantrel {
namespace {

std::int64_t Ticks(const LARGE_INTEGER& t) { return t.QuadPart; }

// The file's identity and state through a handle, and how long ago it last
// changed by its own times.
bool Stamp(HANDLE file, WriterLook& look) {
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO times{};
  if (!::GetFileInformationByHandle(file, &info) ||
      !::GetFileInformationByHandleEx(file, FileBasicInfo, &times, sizeof times))
    return false;
  look.stamp = platform::FileStamp{info.dwVolumeSerialNumber,
                                   (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow,
                                   (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow,
                                   Ticks(times.LastWriteTime), Ticks(times.ChangeTime)};
  FILETIME now{};
  ::GetSystemTimePreciseAsFileTime(&now);
  const std::int64_t nowTicks = (std::int64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
  look.age = std::chrono::nanoseconds((nowTicks - std::max(look.stamp->writtenNs, look.stamp->changedNs)) * 100);
  return true;
}

// Share modes on a file across the network are kept by the server for its
// clients only; whoever writes on the server itself is not seen.
bool OnNetwork(const std::string& path) {
  if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) return true;
  if (path.size() < 2 || path[1] != ':') return false;
  const wchar_t root[] = {static_cast<wchar_t>(path[0]), L':', L'\\', 0};
  return ::GetDriveTypeW(root) == DRIVE_REMOTE;
}

}  // namespace

// Windows tells for certain on a local volume: an open that shares reading
// but no writing is refused exactly while somebody holds the file open for
// writing (or holds it with no reading shared at all, which no action could
// copy either).
WriterLook LookForWriters(const std::string& path) {
  WriterLook look;
  if (platform::NamesDevice(path)) return look;
  const std::wstring native = platform::NativePath(path);
  platform::Handle file(::CreateFileW(native.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.Valid()) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      look.answer = WriterLook::Missing;
      return look;
    }
    // Refused for another reason (no right to read, a lock): its state is
    // still to be had, and steadiness is judged on it.
    file.Reset(::CreateFileW(native.c_str(), FILE_READ_ATTRIBUTES, platform::kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.Valid()) return look;
    look.answer = error == ERROR_SHARING_VIOLATION ? WriterLook::Writer : WriterLook::Unknown;
  } else {
    look.answer = OnNetwork(path) ? WriterLook::Unknown : WriterLook::NoWriter;
  }
  const DWORD attributes = ::GetFileAttributesW(native.c_str());
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) || !Stamp(file.Get(), look)) {
    look = {};
  }
  return look;
}

std::optional<std::string> FindByIdentity(const std::string& folder, const platform::FileStamp& identity) {
  platform::Handle dir(::CreateFileW(platform::NativePath(folder).c_str(), FILE_LIST_DIRECTORY, platform::kShareAll, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!dir.Valid() || !::GetFileInformationByHandle(dir.Get(), &info) || info.dwVolumeSerialNumber != identity.volume)
    return std::nullopt;
  // The listing carries each entry's file id: no entry need be opened.
  std::optional<std::string> found;
  platform::ListFolder(dir.Get(), [&](const platform::FolderEntry& entry) {
    if (!found && entry.id == identity.id &&
        !(entry.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
      found = platform::Utf8FromWide(entry.name);
  });
  return found;
}

}  // namespace vantrel
