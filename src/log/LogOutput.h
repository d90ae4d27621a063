#pragma once
// The log file: every listed row, record by record, appended to
// ProgramDir/log/yyyyMMdd/log.txt in GB18030 (the date of start-up, kept for
// the whole run).
#include "log/AutomationDate.h"
#include "platform/LogFile.h"
#include "time/Clock.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

class LogOutput {
 public:
  // Points at the default place under programDir until SetLogFile is called.
  // clock: how often the open file is checked for removal goes by it.
  explicit LogOutput(const std::string& programDir, const Clock& clock = Clock::System());
  ~LogOutput();
  LogOutput(const LogOutput&) = delete;
  LogOutput& operator=(const LogOutput&) = delete;

  // Closes the open file; a non-empty directory gets a trailing "/", a
  // non-empty name a ".txt" unless it has one. Returns the file's path.
  std::string SetLogFile(std::optional<std::string_view> directory = std::nullopt,
                         std::optional<std::string_view> fileName = std::nullopt);
  // Level 1 warning, 2 error, 3 debug, anything else information. False
  // (errno set) when the record could not be written whole; then none of it
  // stays, and the next record tries again.
  bool WriteLogRecord(std::string_view text, int level = 0);
  // The same, with the time the record is of.
  bool WriteLogRecord(std::string_view text, int level, const LocalDateTime& at);
  static std::string FormatLogRecord(std::string_view text, int level, const LocalDateTime& at);
  // The clock its records are stamped by.
  const Clock& GetClock() const { return clock_; }

  // The same record elsewhere; with alsoToFile it goes to the log file first.
  // The console is standard error, in the level's colour where that is a
  // terminal (warning bright red, error bright yellow, debug bright white,
  // information light grey); false when nothing could be written.
  bool WriteConsoleRecord(std::string_view text, int level = 0, bool alsoToFile = false);
  void WriteFileOnlyRecord(std::string_view text, int level = 0, bool alsoToFile = false);
  // To the debugger's output on Windows; on Linux, its counterpart, the
  // system log.
  void WriteDebuggerRecord(std::string_view text, int level = 0, bool alsoToFile = false);
  // Where console records go (a C runtime descriptor); tests give a pipe or
  // a terminal of their own.
  void SetConsoleFdForTesting(int fd) { consoleFd_ = fd; }

  const std::string& Directory() const { return directory_; }
  const std::string& FileName() const { return fileName_; }

 private:
  std::string directory_;
  std::string fileName_;
  platform::AppendFile file_;
  // When the open log file was last checked for removal.
  const Clock& clock_;
  Clock::time_point checkedAt_{};
  int consoleFd_ = 2;
};

// Creates every missing directory along the path; true when it exists after.
bool EnsureDirectoryPath(const std::string& path);

}  // namespace vantrel
