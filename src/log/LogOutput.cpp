#include "log/LogOutput.h"

#include "log/FormatTime.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/PathRoutines.h"
#include "text/TextRules.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace vantrel {
namespace {

const char* LevelWord(int level) {
  switch (level) {
    case 1:
      return "警告";
    case 2:
      return "错误";
    case 3:
      return "调试";
    default:
      return "信息";
  }
}

}  // namespace

LogOutput::LogOutput(const std::string& programDir) {
  SetLogFile(programDir + "/Log/" + FormatTimePictures(std::nullopt, "yyyyMM", std::nullopt),
             FormatTimePictures(std::nullopt, "yyyy-MM-dd", std::nullopt));
}

LogOutput::~LogOutput() {
  if (fd_ >= 0) ::close(fd_);
}

std::string LogOutput::SetLogFile(std::optional<std::string_view> directory, std::optional<std::string_view> fileName) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (directory && !directory->empty()) {
    directory_ = std::string(*directory);
    if (directory_.back() != '/') directory_ += '/';
  }
  if (fileName && !fileName->empty()) {
    fileName_ = std::string(*fileName);
    if (fileName_.size() < 4 || !EqualsIgnoreCase(std::string_view(fileName_).substr(fileName_.size() - 4), ".txt"))
      fileName_ += ".txt";
  }
  return directory_ + fileName_;
}

std::string LogOutput::FormatLogRecord(std::string_view text, int level, const LocalDateTime& at) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", at.year, at.month, at.day, at.hour,
                at.minute, at.second, at.millisecond);
  std::string record = stamp;
  record += LevelWord(level < 0 || level > 3 ? 0 : level);
  record += ':';
  record.append(text);
  record += "\r\n";
  return record;
}

bool LogOutput::WriteLogRecord(std::string_view text, int level) {
  // A log file (or its folder) removed while open is made again; asking
  // the disk once a second rather than for every record keeps a busy log at
  // one system call per record.
  const auto now = std::chrono::steady_clock::now();
  if (fd_ >= 0 && now - checkedAt_ >= std::chrono::seconds(1)) {
    checkedAt_ = now;
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || st.st_nlink == 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  if (fd_ < 0) {
    checkedAt_ = now;
    if (!IsDirectoryPath(directory_)) EnsureDirectoryPath(directory_);
    std::string path = SetLogFile();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) return false;
  }
  // One write per record, so a reader never sees half a record of ours.
  std::string record = Utf8ToGb18030(FormatLogRecord(text, level, LocalNow()));
  std::size_t written = 0;
  if (WriteAllBytes(fd_, record, &written)) return true;
  int error = errno;
  // A record cut short (a full disk) would run into the next one: it is
  // taken back whole.
  struct stat st {};
  if (written > 0 && ::fstat(fd_, &st) == 0 && static_cast<std::size_t>(st.st_size) >= written)
    ::ftruncate(fd_, st.st_size - static_cast<off_t>(written));
  errno = error;
  return false;
}

bool LogOutput::WriteConsoleRecord(std::string_view text, int level, bool alsoToFile) {
  if (alsoToFile) WriteLogRecord(text, level);
  std::string record = FormatLogRecord(text, level, LocalNow());
  if (::isatty(consoleFd_)) {
    static constexpr const char* kColours[] = {"\033[37m", "\033[91m", "\033[93m", "\033[97m"};
    record = kColours[level >= 1 && level <= 3 ? level : 0] + record + "\033[0m";
  }
  return WriteAllBytes(consoleFd_, record);
}

void LogOutput::WriteFileOnlyRecord(std::string_view text, int level, bool alsoToFile) {
  if (alsoToFile) WriteLogRecord(text, level);
}

void LogOutput::WriteDebuggerRecord(std::string_view text, int level, bool alsoToFile) {
  if (alsoToFile) WriteLogRecord(text, level);
  static constexpr int kPriorities[] = {LOG_INFO, LOG_WARNING, LOG_ERR, LOG_DEBUG};
  std::string record = FormatLogRecord(text, level, LocalNow());
  ::syslog(LOG_USER | kPriorities[level >= 1 && level <= 3 ? level : 0], "%s", record.c_str());
}

bool EnsureDirectoryPath(const std::string& path) {
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      std::string prefix = path.substr(0, i);
      if (!prefix.empty() && prefix != "/") ::mkdir(prefix.c_str(), 0755);
    }
  }
  return IsDirectoryPath(path);
}

}  // namespace vantrel
