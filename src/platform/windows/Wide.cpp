#include "platform/windows/Wide.h"

#include <windows.h>

#include <cerrno>

namespace vantrel::platform {
namespace {

// CreateDirectoryW's limit, the lowest of the calls the program makes.
constexpr std::size_t kLongPath = MAX_PATH - 12;

}  // namespace

std::wstring WideFromUtf8(std::string_view utf8) {
  if (utf8.empty()) return {};
  int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Utf8FromWide(std::wstring_view wide) {
  if (wide.empty()) return {};
  int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr, nullptr);
  return utf8;
}

std::wstring NativePath(std::string_view utf8Path) {
  std::wstring path = WideFromUtf8(utf8Path);
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  if (path.size() < kLongPath || path.rfind(L"\\\\?\\", 0) == 0) return path;
  // "\\?\" turns off every rewriting of the path, "." and ".." included:
  // the full path is made first.
  DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  n = ::GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  full.resize(n);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

Error ErrorFromWin32(unsigned long code) {
  static const struct {
    DWORD win32;
    int portable;
  } kMap[] = {
      {ERROR_FILE_NOT_FOUND, ENOENT},      {ERROR_PATH_NOT_FOUND, ENOENT},       {ERROR_INVALID_DRIVE, ENOENT},
      {ERROR_BAD_NETPATH, ENOENT},         {ERROR_BAD_PATHNAME, ENOENT},         {ERROR_INVALID_NAME, EINVAL},
      {ERROR_ACCESS_DENIED, EACCES},       {ERROR_INVALID_HANDLE, EBADF},        {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
      {ERROR_OUTOFMEMORY, ENOMEM},         {ERROR_WRITE_PROTECT, EROFS},         {ERROR_SHARING_VIOLATION, EBUSY},
      {ERROR_LOCK_VIOLATION, EBUSY},       {ERROR_HANDLE_DISK_FULL, ENOSPC},     {ERROR_DISK_FULL, ENOSPC},
      {ERROR_NOT_SUPPORTED, EOPNOTSUPP},   {ERROR_FILE_EXISTS, EEXIST},          {ERROR_ALREADY_EXISTS, EEXIST},
      {ERROR_INVALID_PARAMETER, EINVAL},   {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},     {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
      {ERROR_DIRECTORY, ENOTDIR},          {ERROR_NOT_SAME_DEVICE, EXDEV},       {ERROR_CANT_RESOLVE_FILENAME, ELOOP},
      {ERROR_OPERATION_ABORTED, ECANCELED}, {ERROR_REQUEST_ABORTED, ECANCELED},  {ERROR_PRIVILEGE_NOT_HELD, EPERM},
      {ERROR_TOO_MANY_OPEN_FILES, EMFILE}, {ERROR_CRC, EIO},                     {ERROR_IO_DEVICE, EIO},
  };
  if (code == ERROR_SUCCESS) return {};
  for (const auto& entry : kMap)
    if (entry.win32 == code) return Error{entry.portable, static_cast<std::int64_t>(code)};
  return Error{kOtherSystemError, static_cast<std::int64_t>(code)};
}

Error LastWin32Error() { return ErrorFromWin32(::GetLastError()); }

}  // namespace vantrel::platform
