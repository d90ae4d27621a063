#include "rules/WholeFile.h"

#include "platform/windows/Handle.h"
#include "platform/windows/Wide.h"

#include <windows.h>

namespace vantrel {

// Windows tells for certain: an open that shares reading but no writing is
// refused exactly while somebody holds the file open for writing (or holds
// it with no reading shared at all, which no action could copy either).
WriterLook LookForWriters(const std::string& path) {
  WriterLook look;
  if (platform::NamesDevice(path)) return look;
  platform::Handle file(::CreateFileW(platform::NativePath(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.Valid()) {
    if (::GetLastError() == ERROR_SHARING_VIOLATION) look.answer = WriterLook::Writer;
    return look;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file.Get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
    return look;
  look.answer = WriterLook::NoWriter;
  return look;
}

}  // namespace vantrel
