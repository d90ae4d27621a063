#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/IniFile.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

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

TEST(IniDocument, QuotedValuesAndDuplicateKeys) {
  IniDocument doc = IniDocument::Parse("[s]\nk = \"v w\" \nk=second\n[S]\nk=third\n");
  EXPECT_EQ(doc.Get("s", "k"), "v w");
  EXPECT_EQ(doc.Get("s", "missing"), std::nullopt);
  doc.Set("s", "new", "1");
  EXPECT_EQ(doc.Serialize(), "[s]\nk = \"v w\" \nk=second\nnew=1\n[S]\nk=third\n") << "line endings of the file kept";
}

}  // namespace
}  // namespace vantrel
