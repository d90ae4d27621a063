// The log file and the console as both systems must behave.
#include "log/LogOutput.h"
#include "time/Clock.h"
#include "text/PathRoutines.h"
#include "platform/Utf8Path.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "FileHelpers.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>
#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vantrel {
namespace {

class LogOutputTest : public ::testing::Test {
 protected:
  ManualClock clock_{LocalDateTime{2021, 8, 1, 13, 5, 9, 42}};
  TestDir temp_;
  std::string dir_ = temp_.Path();
};

// A person may delete today's log, or its folder, while the program runs:
// the open file is not checked for every record, but within a second what
// comes after is written to a file made again, not lost with the old one.
TEST_F(LogOutputTest, ALogFileOrFolderRemovedWhileOpenIsMadeAgain) {
  for (const bool folder : {false, true}) {
    SCOPED_TRACE(folder ? "folder removed" : "file removed");
#ifdef _WIN32
    // Wine 8 keeps the name of a file removed while open and reports no
    // pending deletion on the handle, which Windows does.
    if (::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
      GTEST_SKIP() << "Wine tells no pending deletion";
#endif
    LogOutput log(dir_, clock_);
    const std::string file = dir_ + "/日志/八月" + kPathSeparator + "日志.txt";
    EXPECT_EQ(log.SetLogFile(dir_ + "/日志/八月", "日志"), file) << "the folder, this system's separator, the name";
    ASSERT_TRUE(log.WriteLogRecord("前", 1));
    EXPECT_EQ(Read(file), Utf8ToGb18030("2021-08-01 13:05:09.042 警告:前\r\n"));
    std::filesystem::remove_all(PathFromUtf8(folder ? dir_ + "/日志" : file));
    clock_.Advance(std::chrono::seconds(1));
    ASSERT_TRUE(log.WriteLogRecord("后", 2));
    EXPECT_EQ(Read(file), Utf8ToGb18030("2021-08-01 13:05:09.042 错误:后\r\n"));
    std::filesystem::remove_all(PathFromUtf8(dir_ + "/日志"));
  }
}

TEST_F(LogOutputTest, RecordsOfTwoWritersFollowEachOtherWhole) {
  LogOutput first(dir_, clock_), second(dir_, clock_);
  first.SetLogFile(dir_ + "/log", "log.txt");
  second.SetLogFile(dir_ + "/log", "log.txt");
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(first.WriteLogRecord("a" + std::to_string(i)));
    ASSERT_TRUE(second.WriteLogRecord("b" + std::to_string(i)));
  }
  std::string expected;
  for (int i = 0; i < 50; ++i)
    expected += "2021-08-01 13:05:09.042 信息:a" + std::to_string(i) + "\r\n2021-08-01 13:05:09.042 信息:b" +
                std::to_string(i) + "\r\n";
  EXPECT_EQ(Gb18030ToUtf8(Read(dir_ + "/log/log.txt")), expected) << "each write goes to the end, never over another's";
}

TEST_F(LogOutputTest, AFileThatCannotBeOpenedIsToldThroughErrno) {
  std::filesystem::create_directories(PathFromUtf8(dir_ + "/blocked/log.txt"));
  LogOutput log(dir_, clock_);
  log.SetLogFile(dir_ + "/blocked", "log.txt");
  errno = 0;
  EXPECT_FALSE(log.WriteLogRecord("lost"));
  EXPECT_NE(errno, 0);
  EXPECT_NE(FileErrorText(errno), "");
}

// Into a pipe (a redirected console) the record goes as UTF-8 bytes without
// colour codes, whatever the system's code page.
TEST_F(LogOutputTest, ConsoleRecordsIntoAPipeAreTheUtf8Bytes) {
  int fds[2];
#ifdef _WIN32
  ASSERT_EQ(::_pipe(fds, 65536, _O_BINARY), 0);
#else
  ASSERT_EQ(::pipe(fds), 0);
#endif
  LogOutput log(dir_, clock_);
  log.SetConsoleFdForTesting(fds[1]);
  EXPECT_TRUE(log.WriteConsoleRecord("控制台 😀", 3));
  const std::string expected = "2021-08-01 13:05:09.042 调试:控制台 😀\r\n";
  std::string got(expected.size(), '\0');
#ifdef _WIN32
  EXPECT_EQ(::_read(fds[0], got.data(), static_cast<unsigned>(got.size())), static_cast<int>(expected.size()));
  ::_close(fds[0]);
  ::_close(fds[1]);
#else
  EXPECT_EQ(::read(fds[0], got.data(), got.size()), static_cast<ssize_t>(expected.size()));
  ::close(fds[0]);
  ::close(fds[1]);
#endif
  EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace vantrel
