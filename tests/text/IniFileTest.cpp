#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/IniFile.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#ifndef _WIN32
#include "platform/linux/PosixFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vantrel {
namespace {

class IniFileTest : public ::testing::Test {
 protected:
  std::string Raw() {
    std::string bytes;
    ReadWholeFile(file_, bytes);
    return bytes;
  }
  TestDir temp_;
  std::string dir_ = temp_.Path(), file_ = dir_ + "/config.ini";
};

TEST_F(IniFileTest, SectionsAndKeysMatchWithoutCaseOrSurroundingBlanks) {
  ASSERT_TRUE(WriteSetting(file_, "日志颜色", " 时间", "255"));
  EXPECT_EQ(ReadSetting(file_, "日志颜色", "时间", "0"), "255");
  ASSERT_TRUE(WriteSetting(file_, "Size", "XY", "1010*800"));
  EXPECT_EQ(ReadSetting(file_, "size", "xy", ""), "1010*800");
  ASSERT_TRUE(WriteSetting(file_, "日志颜色", "时间", "16"));
  EXPECT_EQ(ReadSetting(file_, "日志颜色", " 时间", ""), "16");
  EXPECT_EQ(Gb18030ToUtf8(Raw()), "[日志颜色]\r\n 时间=16\r\n[Size]\r\nXY=1010*800\r\n")
      << "one entry for both spellings, the file's own spelling kept";
}

// While a watch reports changes, reads trust the parse they have; a
// reported change, or one of our own writes, is read at once. Each owner's
// file is its own: another's reports change nothing here.
TEST_F(IniFileTest, ReportedChangesAloneMakeReadsLookAtTheDiskAgain) {
  SettingsFile settings(file_), other(file_);
  ASSERT_TRUE(settings.Write("日志颜色", "时间", "1"));
  settings.ReportChanges(true);
  other.ReportChanges(true);
  const std::uint64_t before = settings.Generation();
  EXPECT_NE(before, 0u);
  EXPECT_EQ(settings.Read("日志颜色", "时间", "0"), "1");
  EXPECT_EQ(other.Read("日志颜色", "时间", "0"), "1");
  WriteFileAtomically(file_, Utf8ToGb18030("[日志颜色]\r\n时间=2\r\n"));
  EXPECT_EQ(settings.Read("日志颜色", "时间", "0"), "1") << "no change reported yet: nothing asked of the disk";
  other.Changed();
  EXPECT_EQ(settings.Generation(), before) << "another owner's report is not this one's";
  EXPECT_EQ(settings.Read("日志颜色", "时间", "0"), "1");
  EXPECT_EQ(other.Read("日志颜色", "时间", "0"), "2");
  settings.Changed();
  EXPECT_GT(settings.Generation(), before);
  EXPECT_EQ(settings.Read("日志颜色", "时间", "0"), "2");
  ASSERT_TRUE(settings.Write("日志颜色", "时间", "3"));
  EXPECT_EQ(settings.Read("日志颜色", "时间", "0"), "3") << "our own write is reported by itself";
  std::filesystem::remove(PathFromUtf8(file_));
  settings.Changed();
  EXPECT_EQ(settings.Read("日志颜色", "时间", "0"), "0") << "a removed file reads as defaults";
  settings.ReportChanges(false);
  EXPECT_EQ(settings.Generation(), 0u);
  WriteFileAtomically(file_, Utf8ToGb18030("[日志颜色]\r\n时间=4\r\n"));
  EXPECT_EQ(settings.Read("日志颜色", "时间", "0"), "4") << "unreported, every read checks the file";
}

TEST_F(IniFileTest, MissingFileKeyOrNamesGiveTheDefaultOrNothing) {
  EXPECT_EQ(ReadSetting(file_, "监控类型", "新建文件", "真"), "真");
  ASSERT_TRUE(WriteSetting(file_, "监控类型", "新建文件", "假"));
  EXPECT_EQ(ReadSetting(file_, "监控类型", "删除文件", "真"), "真");
  EXPECT_EQ(ReadSetting(file_, "  ", "新建文件", "真"), "") << "an empty section consults nothing";
  EXPECT_EQ(ReadSetting(file_, "监控类型", "", "真"), "");
  EXPECT_EQ(ReadSetting("   ", "监控类型", "新建文件", "真"), "");
}

TEST_F(IniFileTest, StoredInGb18030AndUnknownLinesKept) {
  std::string earlier = Utf8ToGb18030("; kept comment\r\n[监控设置]\r\n全盘监控=真\r\nfree text line\r\n\r\n[其他]\r\nk=v\r\n");
  ASSERT_TRUE(WriteFileAtomically(file_, earlier));
  EXPECT_EQ(ReadSetting(file_, "监控设置", "全盘监控", ""), "真");
  ASSERT_TRUE(WriteSetting(file_, "监控设置", "保存日志", "真"));
  EXPECT_EQ(Gb18030ToUtf8(Raw()),
            "; kept comment\r\n[监控设置]\r\n全盘监控=真\r\nfree text line\r\n保存日志=真\r\n\r\n[其他]\r\nk=v\r\n");
  EXPECT_NE(Raw().find("\xD5\xE6"), std::string::npos) << "真 in code page 936 bytes";
}

// Permissions, FIFOs, links and other users are Linux's; the Windows
// counterparts (read-only files, pipes, live temporaries) are in
// platform/WindowsFileTest.cpp.
#ifndef _WIN32
TEST_F(IniFileTest, FailedWriteLeavesTheOldFileWhole) {
  ASSERT_TRUE(WriteSetting(file_, "a", "k", "1"));
  std::string before = Raw();
  ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
  bool wrote = WriteSetting(file_, "a", "k", "2");
  ::chmod(dir_.c_str(), 0755);
  if (::geteuid() != 0) {
    // Root may write anyway; everyone else must see the failure.
    EXPECT_FALSE(wrote);
    EXPECT_EQ(Raw(), before);
  }
  ASSERT_EQ(::chmod(file_.c_str(), 0000), 0);
  if (::geteuid() != 0) {
    EXPECT_FALSE(WriteSetting(file_, "a", "other", "x")) << "an unreadable file is not replaced";
  }
  ::chmod(file_.c_str(), 0644);
  for (const auto& entry : std::filesystem::directory_iterator(dir_))
    EXPECT_EQ(entry.path().filename(), "config.ini") << "no temporary file left behind";
}

#endif

TEST(IniDocument, QuotedValuesAndDuplicateKeys) {
  IniDocument doc = IniDocument::Parse("[s]\nk = \"v w\" \nk=second\n[S]\nk=third\n");
  EXPECT_EQ(doc.Get("s", "k"), "v w");
  EXPECT_EQ(doc.Get("s", "missing"), std::nullopt);
  doc.Set("s", "new", "1");
  EXPECT_EQ(doc.Serialize(), "[s]\nk = \"v w\" \nk=second\nnew=1\n[S]\nk=third\n") << "line endings of the file kept";
}

TEST_F(IniFileTest, LinesNotWrittenStayByteForByteWhateverTheirEncoding) {
  // An unknown line with bytes that are no GB18030, and a last line without
  // its end: neither may change when the program writes its own key.
  std::string earlier = Utf8ToGb18030("[监控设置]\r\n全盘监控=真\r\n") + "opaque=\x80\xFF\x81\r\n" +
                        Utf8ToGb18030("[其他]\r\nlast=1");
  ASSERT_TRUE(WriteFileAtomically(file_, earlier));
  ASSERT_TRUE(WriteSetting(file_, "监控设置", "保存日志", "真"));
  ASSERT_TRUE(WriteSetting(file_, "程序尺寸", "XY", "1200*900"));
  EXPECT_EQ(Raw(), Utf8ToGb18030("[监控设置]\r\n全盘监控=真\r\n") + "opaque=\x80\xFF\x81\r\n" +
                       Utf8ToGb18030("保存日志=真\r\n[其他]\r\nlast=1\r\n[程序尺寸]\r\nXY=1200*900\r\n"));
}

TEST_F(IniFileTest, AnEditorsUtf8SaveReadsRightAndOnlyChangedLinesBecomeGb18030) {
  std::string utf8 = "\xEF\xBB\xBF[监控类型]\n新建文件=假\n删除文件=真\n[监控设置]\n保存日志=真\n; 注释\n";
  ASSERT_TRUE(WriteFileAtomically(file_, utf8));
  EXPECT_EQ(ReadSetting(file_, "监控类型", "新建文件", "真"), "假");
  EXPECT_EQ(ReadSetting(file_, "监控设置", "保存日志", ""), "真");
  ASSERT_TRUE(WriteSetting(file_, "监控类型", "删除文件", "假"));
  EXPECT_EQ(Raw(), "\xEF\xBB\xBF[监控类型]\n新建文件=假\n" + Utf8ToGb18030("删除文件=假") + "\n[监控设置]\n保存日志=真\n; 注释\n");
  // The mixed file still reads right, line by line.
  EXPECT_EQ(ReadSetting(file_, "监控类型", "删除文件", "真"), "假");
  EXPECT_EQ(ReadSetting(file_, "监控类型", "新建文件", "真"), "假");
  EXPECT_EQ(ReadSetting(file_, "监控设置", "保存日志", ""), "真");
}

#ifndef _WIN32
TEST_F(IniFileTest, OnlyARegularFileOfSaneSizeIsRead) {
  ASSERT_EQ(::mkfifo(file_.c_str(), 0600), 0);
  EXPECT_EQ(ReadSetting(file_, "监控类型", "新建文件", "真"), "真") << "a FIFO is never waited on";
  EXPECT_EQ(SettingsFileError(file_), kNotRegularFile);
  EXPECT_FALSE(WriteSetting(file_, "a", "k", "1")) << "and never replaced";
  ::unlink(file_.c_str());
  ASSERT_EQ(::symlink("/dev/zero", file_.c_str()), 0);
  EXPECT_EQ(ReadSetting(file_, "监控设置", "保存日志", "x"), "x") << "a device behind a link is never read";
  EXPECT_FALSE(WriteSetting(file_, "a", "k", "1"));
  EXPECT_TRUE(std::filesystem::is_symlink(file_));
  ::unlink(file_.c_str());
  EXPECT_EQ(SettingsFileError(file_), 0) << "no file yet is a fresh start";
}

TEST_F(IniFileTest, StartUpRemovesOnlyDeadTemporariesOfOurOwnPattern) {
  // The user's own backups of the stored files look like save temporaries
  // of earlier versions; they stay.
  for (const char* name : {"data.jl.backup", "config.ini.before", "data.jl.220901", "config.ini.a1B2c3", ".vantrel-abc",
                           ".vantrel-abcdefgh1", "config.ini", ".vantrel-Dead0001", ".vantrel-Dead0002"})
    ASSERT_TRUE(WriteFileAtomically(dir_ + "/" + name, "x"));
  std::filesystem::create_directory(dir_ + "/.vantrel-Folder01");
  ASSERT_EQ(::symlink((dir_ + "/config.ini").c_str(), (dir_ + "/.vantrel-Link0001").c_str()), 0);
  ASSERT_TRUE(WriteFileAtomically(dir_ + "/.vantrel-Others01", "x"));
  ASSERT_EQ(::chown((dir_ + "/.vantrel-Others01").c_str(), 65534, 65534), 0);
  // One that a live copy is still writing.
  int dir = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY);
  std::string live;
  int fd = CreateOwnTemporary(dir, live, O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(IsOwnTemporaryName(live)) << live;

  EXPECT_EQ(RemoveStaleTemporaries(dir_), 2u);
  std::set<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) left.insert(entry.path().filename());
  EXPECT_EQ(left, (std::set<std::string>{"data.jl.backup", "config.ini.before", "data.jl.220901", "config.ini.a1B2c3",
                                         ".vantrel-abc", ".vantrel-abcdefgh1", "config.ini", ".vantrel-Folder01",
                                         ".vantrel-Link0001", ".vantrel-Others01", live}));
  ::close(fd);
  ::close(dir);
  EXPECT_EQ(RemoveStaleTemporaries(dir_), 1u) << "once its writer is gone";
}
#endif

}  // namespace
}  // namespace vantrel
