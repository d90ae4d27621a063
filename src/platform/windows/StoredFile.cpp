#include "platform/StoredFile.h"

#include "platform/OwnTemporary.h"
#include "platform/windows/Handle.h"
#include "platform/windows/Wide.h"
#include "text/PathRoutines.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace vantrel::platform {
namespace {


std::wstring FullPath(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\", 0) == 0) return path;
  DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  full.resize(::GetFullPathNameW(path.c_str(), n, full.data(), nullptr));
  return full;
}

std::size_t LastSeparator(std::string_view path) { return path.find_last_of("/\\"); }

std::string Join(const std::string& dir, std::string_view name) {
  if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\')) return dir + std::string(name);
  return dir + "\\" + std::string(name);
}

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = LastSeparator(path);
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash == 0 ? 1 : slash);
}

std::int64_t Ticks(const LARGE_INTEGER& t) { return t.QuadPart; }

}  // namespace

Error ReadRegularFile(const std::string& path, std::string& bytes, std::size_t maxBytes) {
  bytes.clear();
  if (NamesDevice(path)) return OwnError(kNotRegularFile);
  // Backup semantics lets a folder open too, so that it is refused for what
  // it is rather than with "access denied".
  Handle file(::CreateFileW(NativePath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.Valid()) return LastWin32Error();
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK) return OwnError(kNotRegularFile);
  if (!::GetFileInformationByHandle(file.Get(), &info)) return LastWin32Error();
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return OwnError(kNotRegularFile);
  const std::uint64_t size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  if (size > maxBytes) return OwnError(kFileTooLarge);
  char buf[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file.Get(), buf, sizeof buf, &n, nullptr)) return LastWin32Error();
    if (n == 0) return {};
    // A file that grows while it is read is still bounded.
    if (bytes.size() + n > maxBytes) return OwnError(kFileTooLarge);
    bytes.append(buf, n);
  }
}

Error ReplaceFileAtomically(const std::string& path, std::string_view bytes) {
  const std::wstring target = FullPath(NativePath(path));
  DWORD kept = 0;
  const DWORD old = ::GetFileAttributesW(target.c_str());
  if (old != INVALID_FILE_ATTRIBUTES) {
    if (old & FILE_ATTRIBUTE_DIRECTORY) return OwnError(EISDIR);
    // Windows refuses to replace a read-only file; Wine would replace it.
    // The same answer on both.
    if (old & FILE_ATTRIBUTE_READONLY) return ErrorFromWin32(ERROR_ACCESS_DENIED);
    // Set on the temporary before it takes the name, so that no reader
    // sees the file without them.
    kept = old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  }
  const std::string dir = DirectoryOf(path);
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    // Shared for reading only: while it is written nobody else may remove or
    // rename it, which is also how start-up tells a live temporary.
    h = ::CreateFileW(NativePath(Join(dir, OwnTemporaryName())).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                      nullptr, CREATE_NEW, kept ? kept : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) return LastWin32Error();
  }
  if (h == INVALID_HANDLE_VALUE) return ErrorFromWin32(ERROR_FILE_EXISTS);
  Handle file(h);
  Error error;
  for (std::size_t done = 0; done < bytes.size() && !error;) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
    DWORD n = 0;
    if (!::WriteFile(file.Get(), bytes.data() + done, chunk, &n, nullptr)) {
      error = LastWin32Error();
    } else if (n == 0) {
      error = OwnError(ENOSPC);
    }
    done += n;
  }
  if (!error && !::FlushFileBuffers(file.Get())) error = LastWin32Error();
  // Renamed through the handle still held, so no other program can take the
  // temporary between the last write and the rename.
  if (!error) {
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::copy(target.begin(), target.end(), rename->FileName);
    rename->FileName[target.size()] = L'\0';
    if (!::SetFileInformationByHandle(file.Get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size())))
      error = LastWin32Error();
  }
  if (error) {
    FILE_DISPOSITION_INFO remove{TRUE};
    ::SetFileInformationByHandle(file.Get(), FileDispositionInfo, &remove, sizeof remove);
  }
  return error;
}

std::optional<FileStamp> StampOf(const std::string& path) {
  if (NamesDevice(path)) return std::nullopt;
  Handle file(::CreateFileW(NativePath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.Valid()) return std::nullopt;
  return StampOfHandle(file.Get());
}

std::optional<FileStamp> StampOfItem(const std::string& path, bool& isFolder) {
  if (NamesDevice(path)) return std::nullopt;
  Handle file(::CreateFileW(NativePath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file.Valid() || !::GetFileInformationByHandle(file.Get(), &info)) return std::nullopt;
  isFolder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  return StampOfHandle(file.Get());
}

std::optional<FileStamp> StampOfHandle(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO times{};
  if (!::GetFileInformationByHandle(file, &info) ||
      !::GetFileInformationByHandleEx(file, FileBasicInfo, &times, sizeof times))
    return std::nullopt;
  // Ticks of 100 ns: the unit is the same for every stamp, which is all
  // that equality needs.
  return FileStamp{info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow,
                   (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow, Ticks(times.LastWriteTime),
                   Ticks(times.ChangeTime)};
}

void WalkStamps(const std::string& folder,
                const std::function<bool(const std::string& path, bool isFolder, const FileStamp& stamp)>& visit) {
  // A listing carries each item's identity, size and times: one call a
  // batch of names, where opening every item would cost one each.
  std::vector<std::string> pending{folder};
  while (!pending.empty()) {
    const std::string at = std::move(pending.back());
    pending.pop_back();
    Handle dir = OpenFolderToList(at);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!dir.Valid() || !::GetFileInformationByHandle(dir.Get(), &info)) continue;
    bool going = true;
    ListFolder(dir.Get(), [&](const FolderEntry& entry) {
      if (!going) return;
      const std::string path = JoinPath(at, Utf8FromWide(entry.name));
      // A reparse point is its own item: never walked into.
      const bool isFolder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) && !(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT);
      going = visit(path, isFolder, {info.dwVolumeSerialNumber, entry.id, entry.size, entry.written, entry.changed});
      if (going && isFolder) pending.push_back(path);
    });
    if (!going) return;
  }
}

bool IsDirectory(const std::string& path) {
  if (path.empty()) return false;
  DWORD attributes = ::GetFileAttributesW(NativePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void MakeDirectory(const std::string& path) { ::CreateDirectoryW(NativePath(path).c_str(), nullptr); }

std::size_t RemoveStaleTemporaries(const std::string& dir) {
  Handle folder = OpenFolderToList(dir);
  if (!folder.Valid()) return 0;
  std::vector<std::string> names;
  ListFolder(folder.Get(), [&](const FolderEntry& entry) {
    std::string name = Utf8FromWide(entry.name);
    if (IsOwnTemporaryName(name)) names.push_back(std::move(name));
  });
  std::size_t removed = 0;
  for (const std::string& name : names) {
    // Judged and removed through one handle on the entry itself, never
    // through a link: what was judged is what goes. A copy that still
    // writes it shares no removal, so the open fails.
    Handle file(::CreateFileW(NativePath(Join(dir, name)).c_str(), GENERIC_READ | DELETE, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.Valid() || !::GetFileInformationByHandle(file.Get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY)))
      continue;
    FILE_DISPOSITION_INFO remove{TRUE};
    if (::SetFileInformationByHandle(file.Get(), FileDispositionInfo, &remove, sizeof remove)) ++removed;
  }
  return removed;
}

}  // namespace vantrel::platform
