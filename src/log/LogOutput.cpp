#include "log/LogOutput.h"

#include "log/FormatTime.h"
#include "platform/StoredFile.h"
#include "text/Codec.h"
#include "text/PathRoutines.h"
#include "text/TextRules.h"

#include <cerrno>
#include <cstdio>

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

LogOutput::LogOutput(const std::string& programDir, const Clock& clock) : clock_(clock) {
  LocalDateTime now = clock_.Local();
  now.millisecond = 0;
  const double today = ToAutomationDate(now);
  SetLogFile(JoinPath(JoinPath(programDir, "Log"), FormatTimePictures(today, "yyyyMM", std::nullopt)),
             FormatTimePictures(today, "yyyy-MM-dd", std::nullopt));
}

LogOutput::~LogOutput() = default;

std::string LogOutput::SetLogFile(std::optional<std::string_view> directory, std::optional<std::string_view> fileName) {
  file_.Close();
  if (directory && !directory->empty()) {
    directory_ = std::string(*directory);
    if (!IsPathSeparator(directory_.back())) directory_ += kPathSeparator;
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

bool LogOutput::WriteLogRecord(std::string_view text, int level) { return WriteLogRecord(text, level, clock_.Local()); }

bool LogOutput::WriteLogRecord(std::string_view text, int level, const LocalDateTime& at) {
  // A log file (or its folder) removed while open is made again; asking
  // the disk once a second rather than for every record keeps a busy log at
  // one system call per record.
  const Clock::time_point now = clock_.Now();
  if (file_.IsOpen() && now - checkedAt_ >= std::chrono::seconds(1)) {
    checkedAt_ = now;
    if (file_.Removed()) file_.Close();
  }
  if (!file_.IsOpen()) {
    checkedAt_ = now;
    if (!IsDirectoryPath(directory_)) EnsureDirectoryPath(directory_);
    std::string path = SetLogFile();
    if (platform::Error error = file_.Open(path)) {
      errno = error.code;
      return false;
    }
  }
  // One write per record, so a reader never sees half a record of ours; a
  // record cut short (a full disk) would run into the next one, so it is
  // taken back whole.
  if (platform::Error error = file_.Append(Utf8ToGb18030(FormatLogRecord(text, level, at)))) {
    errno = error.code;
    return false;
  }
  return true;
}

bool LogOutput::WriteConsoleRecord(std::string_view text, int level, bool alsoToFile) {
  if (alsoToFile) WriteLogRecord(text, level);
  return !platform::WriteConsoleRecord(consoleFd_, FormatLogRecord(text, level, clock_.Local()), level);
}

void LogOutput::WriteFileOnlyRecord(std::string_view text, int level, bool alsoToFile) {
  if (alsoToFile) WriteLogRecord(text, level);
}

void LogOutput::WriteDebuggerRecord(std::string_view text, int level, bool alsoToFile) {
  if (alsoToFile) WriteLogRecord(text, level);
  platform::WriteDebugRecord(FormatLogRecord(text, level, clock_.Local()), level);
}

bool EnsureDirectoryPath(const std::string& path) {
  auto separator = IsPathSeparator;
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || separator(path[i])) {
      std::string prefix = path.substr(0, i);
      if (!prefix.empty() && !(prefix.size() == 1 && IsPathSeparator(prefix[0]))) platform::MakeDirectory(prefix);
    }
  }
  return IsDirectoryPath(path);
}

}  // namespace vantrel
