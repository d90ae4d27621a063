#include "platform/LogFile.h"

#include "platform/windows/Handle.h"
#include "platform/windows/Wide.h"

#include <windows.h>

#include <io.h>

namespace vantrel::platform {
namespace {

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

Error AppendFile::Open(const std::string& path) {
  Close();
  // Write access as well as append, so that a record cut short can be taken
  // back; every write names the end of the file, which keeps appends whole
  // among other writers'.
  HANDLE h = ::CreateFileW(NativePath(path).c_str(), FILE_APPEND_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                           kShareAll, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastWin32Error();
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return {};
}

void AppendFile::Close() {
  if (handle_ != kClosed) ::CloseHandle(AsHandle(handle_));
  handle_ = kClosed;
}

bool AppendFile::Removed() const {
  FILE_STANDARD_INFO info{};
  if (!::GetFileInformationByHandleEx(AsHandle(handle_), FileStandardInfo, &info, sizeof info)) return true;
  // Removed while open, its name stays until the last handle closes, marked
  // for deletion; with the newer removal it has no link left.
  // Wine 8 tells neither: there a removed log keeps its records until the
  // program closes it.
  return info.DeletePending || info.NumberOfLinks == 0;
}

Error AppendFile::Append(std::string_view bytes) {
  HANDLE h = AsHandle(handle_);
  OVERLAPPED atEnd{};
  atEnd.Offset = 0xFFFFFFFF;
  atEnd.OffsetHigh = 0xFFFFFFFF;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, &atEnd);
  if (ok && written == bytes.size()) return {};
  Error error = ok ? OwnError(ENOSPC) : LastWin32Error();
  LARGE_INTEGER size{};
  if (written > 0 && ::GetFileSizeEx(h, &size) && size.QuadPart >= written) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size.QuadPart - written;
    ::SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof end);
  }
  return error;
}

Error WriteConsoleRecord(int stream, std::string_view record, int level) {
  HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(stream));
  if (h == INVALID_HANDLE_VALUE) return ErrorFromWin32(ERROR_INVALID_HANDLE);
  DWORD mode = 0;
  if (::GetConsoleMode(h, &mode)) {
    // A console window shows UTF-16 whatever its code page; colour is the
    // console's attribute, set for the record and put back after it.
    static constexpr WORD kColours[] = {
        FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE,
        FOREGROUND_RED | FOREGROUND_INTENSITY,
        FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_INTENSITY,
        FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE | FOREGROUND_INTENSITY,
    };
    CONSOLE_SCREEN_BUFFER_INFO screen{};
    const bool coloured = ::GetConsoleScreenBufferInfo(h, &screen);
    if (coloured) ::SetConsoleTextAttribute(h, kColours[level >= 1 && level <= 3 ? level : 0]);
    const std::wstring text = WideFromUtf8(record);
    DWORD n = 0;
    const BOOL ok = ::WriteConsoleW(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
    const Error error = ok ? Error{} : LastWin32Error();
    if (coloured) ::SetConsoleTextAttribute(h, screen.wAttributes);
    return error;
  }
  // A pipe or a file gets the UTF-8 bytes, as on Linux.
  for (std::size_t done = 0; done < record.size();) {
    DWORD n = 0;
    if (!::WriteFile(h, record.data() + done, static_cast<DWORD>(record.size() - done), &n, nullptr))
      return LastWin32Error();
    if (n == 0) return OwnError(ENOSPC);
    done += n;
  }
  return {};
}

void WriteDebugRecord(std::string_view record, int) { ::OutputDebugStringW(WideFromUtf8(record).c_str()); }

namespace {
HANDLE systemLog = nullptr;
}

void OpenSystemLog(const char* programName) {
  // Without a registered message file the viewer prefixes a note that the
  // description is missing; the text itself is kept whole.
  if (!systemLog) systemLog = ::RegisterEventSourceW(nullptr, WideFromUtf8(programName).c_str());
}

void WriteSystemLog(std::string_view text, bool error) {
  if (!systemLog) return;
  const std::wstring wide = WideFromUtf8(text);
  const wchar_t* strings[] = {wide.c_str()};
  ::ReportEventW(systemLog, error ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings,
                 nullptr);
}

}  // namespace vantrel::platform
