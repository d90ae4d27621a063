#include "rules/Trash.h"

#include "platform/windows/Wide.h"

#include <windows.h>
#include <shellapi.h>

namespace vantrel {

platform::Error MoveToTrash(const std::string& path, std::string& trashed) {
  // The shell's own deletion, told to keep what it deletes and to ask
  // nobody anything.
  std::wstring from = platform::WideFromUtf8(path);
  from.push_back(L'\0');
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
  const int result = ::SHFileOperationW(&op);
  if (result != 0 || op.fAnyOperationsAborted) return platform::Error{EIO, result};
  // Where in the Recycle Bin it went the shell keeps to itself.
  trashed.clear();
  return {};
}

platform::Error RestoreFromTrash(const std::string&, const std::string&) {
  // Items in the Recycle Bin are put back from the Recycle Bin itself.
  return platform::OwnError(ENOTSUP);
}

}  // namespace vantrel
