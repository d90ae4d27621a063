#include "platform/windows/Handle.h"

#include "platform/windows/Wide.h"

#include <string>
#include <vector>

namespace vantrel::platform {

bool NamesDevice(std::string_view path) {
  if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("//./", 0) == 0) return true;
  std::size_t slash = path.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  name = name.substr(0, name.find('.'));
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  std::string upper;
  for (char c : name) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" || upper == "CONOUT$")
    return true;
  return upper.size() == 4 && (upper.rfind("COM", 0) == 0 || upper.rfind("LPT", 0) == 0) && upper[3] >= '0' &&
         upper[3] <= '9';
}

DWORD ListFolder(HANDLE dir, const std::function<void(const FolderEntry&)>& each) {
  std::vector<unsigned char> buffer(64 * 1024);
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  for (;;) {
    if (!::GetFileInformationByHandleEx(dir, kind, buffer.data(), static_cast<DWORD>(buffer.size()))) {
      const DWORD error = ::GetLastError();
      return error == ERROR_NO_MORE_FILES ? 0 : error;
    }
    kind = FileIdBothDirectoryInfo;
    for (std::size_t at = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + at);
      const std::wstring_view name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..")
        each({name, entry->FileAttributes, static_cast<std::uint64_t>(entry->FileId.QuadPart),
              static_cast<std::uint64_t>(entry->EndOfFile.QuadPart), entry->LastWriteTime.QuadPart,
              entry->ChangeTime.QuadPart});
      if (!entry->NextEntryOffset) break;
      at += entry->NextEntryOffset;
    }
  }
}

Handle OpenFolderToList(std::string_view path) {
  return Handle(::CreateFileW(NativePath(path).c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

}  // namespace vantrel::platform
