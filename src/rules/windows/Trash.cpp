#include "rules/Trash.h"
#include "rules/windows/RecycleBin.h"

#include "platform/windows/Handle.h"
#include "platform/windows/Wide.h"

#include <windows.h>
#include <sddl.h>
#include <shellapi.h>

#include <cstdint>
#include <random>
#include <vector>

namespace vantrel {
namespace {

using platform::Error;

Error Sys() { return platform::LastSystemError(); }

// Only when the shell has made it already, and never through a reparse
// point: a folder somebody planted there would take our files elsewhere.
std::wstring UsersBin(const std::wstring& path) {
  const std::wstring own = platform::WideFromUtf8(RecycleBinFor(platform::Utf8FromWide(path)));
  if (own.empty()) return {};
  for (const std::wstring& folder : {own.substr(0, own.find_last_of(L'\\')), own}) {
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return {};
  }
  return own;
}

// What the shell reads of a recycled item: a version, the size, when it was
// deleted, and the full path it came from.
std::string InfoOf(const std::wstring& path, std::uint64_t size) {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  const std::uint64_t when = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
  const std::uint32_t chars = static_cast<std::uint32_t>(path.size() + 1);
  std::string bytes;
  auto put = [&bytes](const void* data, std::size_t n) { bytes.append(static_cast<const char*>(data), n); };
  const std::uint64_t version = 2;
  put(&version, 8);
  put(&size, 8);
  put(&when, 8);
  put(&chars, 4);
  put(path.c_str(), chars * sizeof(wchar_t));
  return bytes;
}

std::uint64_t SizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// The shell's own deletion, told to keep what it deletes and to ask nobody
// anything: where it puts the item it keeps to itself.
Error ShellTrash(const std::wstring& path) {
  std::wstring from = path;
  from.push_back(L'\0');
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
  const int result = ::SHFileOperationW(&op);
  if (result != 0 || op.fAnyOperationsAborted) return platform::Error{EIO, result};
  return {};
}

// "$R" or "$I" and the rest of a recycled item's name.
std::wstring Sibling(const std::wstring& path, wchar_t kind) {
  const std::size_t slash = path.find_last_of(L'\\');
  std::wstring other = path;
  if (slash != std::wstring::npos && slash + 2 < other.size()) other[slash + 2] = kind;
  return other;
}

}  // namespace

std::string RecycleBinFor(const std::string& path) {
  wchar_t root[MAX_PATH + 1];
  if (!::GetVolumePathNameW(platform::WideFromUtf8(path).c_str(), root, MAX_PATH)) return {};
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  wchar_t* sid = nullptr;
  const bool known = size && ::GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
                     ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid);
  ::CloseHandle(token);
  if (!known) return {};
  const std::string bin = platform::Utf8FromWide(std::wstring(root) + L"$Recycle.Bin\\" + sid);
  ::LocalFree(sid);
  return bin;
}

platform::Error MoveToTrash(const std::string& path, std::string& trashed) {
  trashed.clear();
  const std::wstring wide = platform::WideFromUtf8(path);
  const std::wstring bin = UsersBin(wide);
  if (bin.empty()) return ShellTrash(wide);
  // Named as the shell names them, the extension kept, so that the Recycle
  // Bin lists and restores it like its own.
  const std::size_t slash = wide.find_last_of(L"\\/");
  const std::size_t dot = wide.find_last_of(L'.');
  const std::wstring extension = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)
                                     ? wide.substr(dot)
                                     : std::wstring();
  static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::wstring name;
    for (int i = 0; i < 6; ++i) name += kLetters[random() % 36];
    const std::wstring info = bin + L"\\$I" + name + extension, item = bin + L"\\$R" + name + extension;
    platform::Handle file(::CreateFileW(info.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.Valid()) {
      if (::GetLastError() == ERROR_FILE_EXISTS) continue;
      return Sys();
    }
    const std::string bytes = InfoOf(wide, SizeOf(wide));
    DWORD written = 0;
    const bool told = ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                      written == bytes.size();
    file.Reset();
    // On the item's own volume, never replacing: a rename, or nothing.
    if (!told || !::MoveFileExW(wide.c_str(), item.c_str(), 0)) {
      const DWORD code = told ? ::GetLastError() : ERROR_WRITE_FAULT;
      const Error error = told ? Sys() : platform::Error{EIO, static_cast<std::int64_t>(code)};
      ::DeleteFileW(info.c_str());
      if (code == ERROR_ALREADY_EXISTS) continue;
      return error;
    }
    trashed = platform::Utf8FromWide(item);
    return {};
  }
  return platform::OwnError(EEXIST);
}

platform::Error RestoreFromTrash(const std::string& trashed, const std::string& path) {
  // Only an item of a Recycle Bin, as we put it there: a name the journal
  // gives is never trusted further.
  const std::wstring item = platform::WideFromUtf8(trashed);
  const std::size_t slash = item.find_last_of(L'\\');
  if (slash == std::wstring::npos || item.compare(slash + 1, 2, L"$R") != 0 ||
      item.find(L"\\$Recycle.Bin\\") == std::wstring::npos)
    return platform::OwnError(ENOTSUP);
  if (!::MoveFileExW(item.c_str(), platform::WideFromUtf8(path).c_str(), 0)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return platform::Error{EEXIST, error};
    return Sys();
  }
  ::DeleteFileW(Sibling(item, L'I').c_str());
  return {};
}

}  // namespace vantrel
