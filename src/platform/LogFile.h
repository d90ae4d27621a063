#pragma once
// What the log needs of the system: a file only ever appended to, the
// console, and the place where a debugger or the system log listens.
#include "platform/Error.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel::platform {

class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile() { Close(); }
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Opens the file for appending, creating it when missing; other programs
  // may read, append to and remove it meanwhile.
  Error Open(const std::string& path);
  bool IsOpen() const { return handle_ != kClosed; }
  void Close();
  // Whether the open file has been removed since it was opened.
  bool Removed() const;
  // Writes the bytes at the end of the file in one write, so that a reader
  // never sees half of them among another writer's. Should only a part go
  // out (a full disk), that part is taken back: the bytes are whole or absent.
  Error Append(std::string_view bytes);

 private:
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle_ = kClosed;  // a descriptor on Linux, a HANDLE on Windows
};

// Writes a record to the console stream (a C runtime descriptor, 2 by
// default), in the level's colour where the stream is a terminal or a
// console window: warning bright red, error bright yellow, debug bright
// white, information light grey.
Error WriteConsoleRecord(int stream, std::string_view record, int level);

// Hands a record to where a debugger or the system log listens: syslog on
// Linux, the debugger's output on Windows (where nothing may listen).
void WriteDebugRecord(std::string_view record, int level);

// The system's log for a program without a window: syslog under the
// program's name on Linux, the Application event log on Windows.
void OpenSystemLog(const char* programName);
void WriteSystemLog(std::string_view text, bool error);

}  // namespace vantrel::platform
