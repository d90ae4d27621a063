#include "platform/ThisProcess.h"

#include "platform/OwnTemporary.h"
#include "platform/windows/Wide.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <vector>

namespace vantrel::platform {
namespace {

std::string KnownFolder(const KNOWNFOLDERID& id) {
  PWSTR path = nullptr;
  std::string out;
  if (::SHGetKnownFolderPath(id, 0, nullptr, &path) == S_OK) out = Utf8FromWide(path);
  ::CoTaskMemFree(path);
  return out;
}

}  // namespace

std::int32_t ThisProcessId() { return static_cast<std::int32_t>(::GetCurrentProcessId()); }

std::string ExecutableFolder() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      std::string exe = Utf8FromWide(std::wstring_view(buf.data(), n));
      return exe.substr(0, exe.find_last_of("\\/"));
    }
    buf.resize(buf.size() * 2);
  }
}

std::string UserHome() {
  std::string profile = KnownFolder(FOLDERID_Profile);
  return profile.empty() ? std::string("C:\\") : profile;
}

std::string DefaultHome() {
  std::string appData = KnownFolder(FOLDERID_RoamingAppData);
  return (appData.empty() ? UserHome() : appData) + "\\Vantrel";
}

std::string CurrentFolder() {
  DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return {};
  std::wstring buf(n, L'\0');
  n = ::GetCurrentDirectoryW(n, buf.data());
  buf.resize(n);
  return Utf8FromWide(buf);
}

bool FolderWritable(const std::string& folder) {
  // Windows tells write access by trying: a file of our own name pattern,
  // gone at once.
  const std::wstring probe = NativePath(folder + "\\" + OwnTemporaryName());
  HANDLE h = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

std::vector<std::string> ProgramArguments(int, char**) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return args;
  for (int i = 1; i < count; ++i) args.push_back(Utf8FromWide(wide[i]));
  ::LocalFree(wide);
  return args;
}

}  // namespace vantrel::platform
