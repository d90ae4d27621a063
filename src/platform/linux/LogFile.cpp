#include "platform/LogFile.h"

#include "platform/linux/PosixFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace vantrel::platform {

Error AppendFile::Open(const std::string& path) {
  Close();
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return LastSystemError();
  handle_ = fd;
  return {};
}

void AppendFile::Close() {
  if (handle_ != kClosed) ::close(static_cast<int>(handle_));
  handle_ = kClosed;
}

bool AppendFile::Removed() const {
  struct stat st {};
  return ::fstat(static_cast<int>(handle_), &st) != 0 || st.st_nlink == 0;
}

Error AppendFile::Append(std::string_view bytes) {
  const int fd = static_cast<int>(handle_);
  std::size_t written = 0;
  if (WriteAllBytes(fd, bytes, &written)) return {};
  Error error = LastSystemError();
  struct stat st {};
  if (written > 0 && ::fstat(fd, &st) == 0 && static_cast<std::size_t>(st.st_size) >= written)
    [[maybe_unused]] int rc = ::ftruncate(fd, st.st_size - static_cast<off_t>(written));
  return error;
}

Error WriteConsoleRecord(int stream, std::string_view record, int level) {
  std::string text(record);
  if (::isatty(stream)) {
    static constexpr const char* kColours[] = {"\033[37m", "\033[91m", "\033[93m", "\033[97m"};
    text = kColours[level >= 1 && level <= 3 ? level : 0] + text + "\033[0m";
  }
  return WriteAllBytes(stream, text) ? Error{} : LastSystemError();
}

void WriteDebugRecord(std::string_view record, int level) {
  static constexpr int kPriorities[] = {LOG_INFO, LOG_WARNING, LOG_ERR, LOG_DEBUG};
  std::string text(record);
  ::syslog(LOG_USER | kPriorities[level >= 1 && level <= 3 ? level : 0], "%s", text.c_str());
}

void OpenSystemLog(const char* programName) { ::openlog(programName, LOG_PID, LOG_USER); }

void WriteSystemLog(std::string_view text, bool error) {
  const std::string line(text);
  ::syslog(LOG_USER | (error ? LOG_ERR : LOG_NOTICE), "%s", line.c_str());
}

}  // namespace vantrel::platform
