// The stored files' platform layer as both systems must behave.
#include "log/LogOutput.h"
#include "platform/StoredFile.h"
#include "platform/Utf8Path.h"
#include "text/AtomicFile.h"
#include "FileHelpers.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <thread>
#include <atomic>

namespace vantrel {
namespace {

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(PathFromUtf8(dir)))
    names.insert(Utf8FromPath(entry.path().filename()));
  return names;
}

class StoredFileTest : public ::testing::Test {
 protected:
  TestDir temp_;
  std::string dir_ = temp_.Path();
};

// data.jl is enciphered: any byte may occur, and a text-mode write would
// turn LF into CR LF and a text-mode read stop at 0x1A.
TEST_F(StoredFileTest, EveryByteComesBackAsWritten) {
  std::string bytes("a\nb\r\nc\x1A" "d\0e\xFF\r", 13);
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  const std::string file = dir_ + "/data.jl";
  ASSERT_FALSE(WriteStoredFile(file, bytes));
  std::string back;
  ASSERT_FALSE(ReadStoredFile(file, back));
  EXPECT_EQ(back, bytes);
  EXPECT_EQ(std::filesystem::file_size(PathFromUtf8(file)), bytes.size());
}

TEST_F(StoredFileTest, ReplacementLeavesOnlyTheFileWhateverHappens) {
  const std::string file = dir_ + "/config.ini";
  ASSERT_FALSE(WriteStoredFile(file, "old"));
  ASSERT_FALSE(WriteStoredFile(file, "new"));
  EXPECT_EQ(Read(file), "new");
  EXPECT_EQ(Names(dir_), (std::set<std::string>{"config.ini"}));

  std::filesystem::create_directory(PathFromUtf8(dir_ + "/folder.ini"));
  EXPECT_TRUE(WriteStoredFile(dir_ + "/folder.ini", "x")) << "a folder is never replaced by a file";
  EXPECT_TRUE(std::filesystem::is_directory(PathFromUtf8(dir_ + "/folder.ini")));
  platform::Error missing = WriteStoredFile(dir_ + "/no/such/config.ini", "x");
  EXPECT_EQ(missing.code, ENOENT);
  EXPECT_EQ(missing.Text(), "没有那个文件或目录");
  EXPECT_EQ(Names(dir_), (std::set<std::string>{"config.ini", "folder.ini"})) << "no temporary left behind";
}

// Our own words for the error whatever the system, and errno for the
// callers that read it.
TEST_F(StoredFileTest, FailuresCarryThePortableCodeTheNativeOneAndErrno) {
  std::string bytes = "left alone";
  platform::Error error = ReadStoredFile(dir_ + "/missing.ini", bytes);
  EXPECT_EQ(error.code, ENOENT);
  EXPECT_NE(error.native, 0);
  EXPECT_TRUE(bytes.empty());
  errno = 0;
  EXPECT_FALSE(ReadWholeFile(dir_ + "/missing.ini", bytes));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(ReadStoredFile(dir_, bytes).code, kNotRegularFile) << "a folder is not read";
  ASSERT_FALSE(WriteStoredFile(dir_ + "/big", std::string(100, 'x')));
  EXPECT_EQ(ReadStoredFile(dir_ + "/big", bytes, 99).code, kFileTooLarge);
  EXPECT_FALSE(ReadStoredFile(dir_ + "/big", bytes, 100));
  EXPECT_EQ((platform::Error{kOtherSystemError, 1234}.Text().rfind("系统错误 1234", 0)), 0u);
}

// The settings cache trusts a parse while the stamp stays; every kind of
// change must change it.
TEST_F(StoredFileTest, StampsTellEveryChange) {
  const std::string file = dir_ + "/config.ini";
  EXPECT_FALSE(platform::StampOf(file)) << "no file, no stamp";
  ASSERT_FALSE(WriteStoredFile(file, "one"));
  auto first = platform::StampOf(file);
  ASSERT_TRUE(first);
  EXPECT_EQ(platform::StampOf(file), first) << "unchanged";
  ASSERT_FALSE(WriteStoredFile(file, "two"));
  auto replaced = platform::StampOf(file);
  EXPECT_NE(replaced, first) << "same size, replaced: a new file";
  WriteInPlace(file, "three");
  EXPECT_NE(platform::StampOf(file), replaced) << "edited in place";
}

TEST_F(StoredFileTest, NamesBeyondTheCodePageRoundTrip) {
  const std::string folder = dir_ + "/日志/二〇二一年";
  EXPECT_TRUE(EnsureDirectoryPath(folder));
  EXPECT_TRUE(platform::IsDirectory(folder));
  const std::string name = "报告 😀 ÄÖ.ini";
  ASSERT_FALSE(WriteStoredFile(folder + "/" + name, "内容"));
  EXPECT_EQ(Names(folder), (std::set<std::string>{name}));
  EXPECT_EQ(Read(folder + "/" + name), "内容");
  EXPECT_EQ(Names(dir_), (std::set<std::string>{"日志"}));
}

TEST_F(StoredFileTest, StartUpRemovesDeadTemporariesOfOurPatternOnly) {
  for (const char* name : {"config.ini", "config.ini.a1B2c3", ".vantrel-abc", ".vantrel-Dead0001", ".vantrel-Dead0002"})
    ASSERT_FALSE(WriteStoredFile(dir_ + "/" + name, "x"));
  std::filesystem::create_directory(PathFromUtf8(dir_ + "/.vantrel-Folder01"));
  EXPECT_EQ(RemoveStaleTemporaries(dir_), 2u);
  EXPECT_EQ(Names(dir_), (std::set<std::string>{"config.ini", "config.ini.a1B2c3", ".vantrel-abc", ".vantrel-Folder01"}));
  EXPECT_EQ(RemoveStaleTemporaries(dir_ + "/missing"), 0u);
}

// Two copies of the program may share a folder for a moment (one starting
// while the other saves): no save may fail for the other's start-up.
TEST_F(StoredFileTest, StartUpLeavesTemporariesThatAreStillWritten) {
  const std::string file = dir_ + "/data.jl";
  const std::string big(std::size_t{4} << 20, 'x');
  std::atomic<bool> writing{true};
  std::size_t removed = 0;
  std::thread remover([&] {
    while (writing) removed += RemoveStaleTemporaries(dir_);
  });
  int failures = 0;
  for (int i = 0; i < 20; ++i)
    if (WriteStoredFile(file, big)) ++failures;
  writing = false;
  remover.join();
  EXPECT_EQ(failures, 0);
#ifdef _WIN32
  // Made unshared for removal, a Windows temporary is never taken; on Linux
  // one may be taken before its lock and is then written again.
  EXPECT_EQ(removed, 0u);
#endif
  EXPECT_EQ(Read(file).size(), big.size());
  EXPECT_EQ(Names(dir_), (std::set<std::string>{"data.jl"}));
}

}  // namespace
}  // namespace vantrel
