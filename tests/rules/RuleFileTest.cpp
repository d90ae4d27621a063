#include "rules/RuleFile.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <random>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vantrel {
namespace {

class RuleFileTest : public ::testing::Test {
 protected:
  void WritePlain(const std::string& utf8) {
    ASSERT_TRUE(WriteFileAtomically(file_, Rc4Transform(Utf8ToGb18030(utf8), RuleFileKey)));
  }
  TestDir temp_;
  std::string dir_ = temp_.Path(), file_ = dir_ + "/data.jl";
};

TEST(Rc4, PublishedVectorsAndSymmetry) {
  EXPECT_EQ(Rc4Transform("Plaintext", "Key"), "\xBB\xF3\x16\xE8\xD9\x40\xAF\x0A\xD3");
  EXPECT_EQ(Rc4Transform("Attack at dawn", "Secret"), "\x45\xA0\x1F\x64\x5F\xC3\x5B\x38\x35\x52\x54\x4B\x9B\xF5");
  std::string data = "新建文件｜√/in｜【复制文件】/out\r\n";
  EXPECT_EQ(Rc4Transform(Rc4Transform(data, RuleFileKey), RuleFileKey), data);
  EXPECT_EQ(Rc4Transform("", RuleFileKey), "");
}

TEST_F(RuleFileTest, SavedFileIsTheEncipheredCodePage936Lines) {
  RuleList rules = {{"新建文件", "/in", "【复制文件】/out", true},
                    {"删除文件", "/a", "【删除文件】拖放文件/文件夹到此自动获取路径", false},
                    {"新建文件", std::string(GlobalPathMarker), "【执行程序】/bin/echo§#路径§1", true}};
  ASSERT_TRUE(SaveRuleFile(file_, rules));
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(file_, bytes));
  std::string expected =
      "\xD0\xC2\xBD\xA8\xCE\xC4\xBC\xFE\xA3\xFC\xA1\xCC/in\xA3\xFC\xA1\xBE\xB8\xB4\xD6\xC6\xCE\xC4\xBC\xFE\xA1\xBF/out\r\n";
  std::string plain = Rc4Transform(bytes, "507318264");
  EXPECT_EQ(plain.substr(0, expected.size()), expected);
  EXPECT_EQ(plain.find("\xA3\xFC\xA1\xC1/a\xA3\xFC"), expected.size() + 8) << "× marks the disabled rule";
  EXPECT_NE(plain.find("\x5C\x5C\xC8\xAB\xBE\xD6\xC2\xB7\xBE\xB6"), std::string::npos) << "the global-path marker";
  EXPECT_EQ(plain.substr(plain.size() - 2), "\r\n");
  EXPECT_EQ(bytes.size(), plain.size());
  EXPECT_EQ(LoadRuleFile(file_), rules);
}

TEST_F(RuleFileTest, EmptyMissingAndFailedFiles) {
  ASSERT_TRUE(SaveRuleFile(file_, {}));
  EXPECT_EQ(std::filesystem::file_size(PathFromUtf8(file_)), 0u);
  EXPECT_TRUE(LoadRuleFile(file_).empty());
  EXPECT_TRUE(LoadRuleFile(dir_ + "/missing.jl").empty());
  EXPECT_FALSE(SaveRuleFile(dir_ + "/no/such/dir/data.jl", {{"新建文件", "/a", "【删除文件】", true}}));
}

TEST_F(RuleFileTest, MarksInsidePathsAreKeptAndRulesOfOtherVersionsListedButInert) {
  WritePlain(
      "删除文件｜×/a×b｜【删除文件】x\r\n"
      "新建文件｜√/ok√dir｜【复制文件】/t\r\n"
      "\r\n"
      "only｜two\r\n"
      "新建目录｜/no-mark｜【移动文件】/m｜extra\r\n"
      "更新文件｜√/p｜\r\n");
  RuleList rules = LoadRuleFile(file_);
  ASSERT_EQ(rules.size(), 4u);
  EXPECT_EQ(rules[0].monitoredPath, "/a×b");
  EXPECT_FALSE(rules[0].enabled);
  EXPECT_EQ(rules[1].monitoredPath, "/ok√dir");
  EXPECT_TRUE(rules[1].enabled);
  EXPECT_EQ(rules[2].monitoredPath, "/no-mark");
  EXPECT_FALSE(rules[2].enabled) << "a line without a mark loads disabled";
  EXPECT_EQ(rules[2].actionText, "【移动文件】/m｜extra") << "a field this version does not know is kept";
  EXPECT_EQ(rules[3].actionText, "");
  EXPECT_TRUE(RuleActs(rules[0]));
  EXPECT_FALSE(RuleActs(rules[2])) << "its meaning is unknown, so it never acts";
  EXPECT_FALSE(RuleActs(rules[3]));
}

TEST_F(RuleFileTest, EveryLineSurvivesALoadAndSaveByteForByte) {
  // Rules of other versions, lines that are no rules, bytes that are not
  // text, and a NUL: the next save must write all of it back unchanged.
  std::string plain = Utf8ToGb18030(
                          "新建文件｜√/in｜【复制文件】/out｜2024\r\n"
                          "\r\n"
                          "更新文件｜√/p｜\r\n"
                          "garbage without bars\r\n") +
                      "\x81\x30\xFF" + Utf8ToGb18030("｜x｜y\r\n") + std::string("a\0b", 3) +
                      Utf8ToGb18030("｜c｜d\r\n") +
                      Utf8ToGb18030("新建目录｜/no-mark｜【删除文件】\r\n删除文件｜×/d｜【删除文件】\r\n");
  ASSERT_TRUE(WriteFileAtomically(file_, Rc4Transform(plain, RuleFileKey)));
  RuleFileContent content;
  ASSERT_EQ(LoadRuleFile(file_, content), 0);
  EXPECT_EQ(content.rules.size(), 4u);
  ASSERT_TRUE(SaveRuleFile(file_, content.rules, content.kept));
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(file_, bytes));
  EXPECT_EQ(Rc4Transform(bytes, RuleFileKey), plain);

  // Lines that are no rules keep their places when rules around them go.
  content.rules.erase(content.rules.begin());
  RuleRemoved(content.kept, 0);
  content.rules.back().enabled = true;
  std::string saved = SerializeRules(content.rules, content.kept);
  EXPECT_EQ(saved.find("\r\n" + Utf8ToGb18030("更新文件")), 0u) << "the empty line now comes first";
  EXPECT_NE(saved.find(Utf8ToGb18030("｜√/d｜")), std::string::npos);
  EXPECT_NE(saved.find(Utf8ToGb18030("新建目录｜/no-mark｜")), std::string::npos) << "still without a mark";
}

TEST_F(RuleFileTest, WhatCannotBeReadIsReportedNotTakenAsEmpty) {
  RuleFileContent content;
  EXPECT_EQ(LoadRuleFile(dir_ + "/missing.jl", content), ENOENT);
  EXPECT_EQ(LoadRuleFile(dir_ + "/no/such/dir/data.jl", content), ENOENT);
  std::filesystem::resize_file((WriteFileAtomically(file_, "x"), PathFromUtf8(file_)), std::uintmax_t{65} << 20);
  EXPECT_EQ(LoadRuleFile(file_, content), kFileTooLarge);
  EXPECT_EQ(LoadRuleFile(dir_, content), kNotRegularFile) << "a folder";
}

// FIFOs and devices behind links are Linux's; Windows's pipes and devices
// are in platform/WindowsFileTest.cpp.
#ifndef _WIN32
TEST_F(RuleFileTest, WhatIsNoRegularFileIsRefusedNeverWaitedOn) {
  RuleFileContent content;
  ASSERT_EQ(::mkfifo(file_.c_str(), 0600), 0);
  EXPECT_EQ(LoadRuleFile(file_, content), kNotRegularFile) << "a FIFO is refused at once, never waited on";
  ::unlink(file_.c_str());
  ASSERT_EQ(::symlink("/dev/zero", file_.c_str()), 0);
  EXPECT_EQ(LoadRuleFile(file_, content), kNotRegularFile) << "a device is never read";
  ::unlink(file_.c_str());
  ASSERT_EQ(::truncate((WriteFileAtomically(file_, "x"), file_).c_str(), off_t{65} << 20), 0);
  EXPECT_EQ(LoadRuleFile(file_, content), kFileTooLarge);
}
#endif

TEST_F(RuleFileTest, DamagedAndForeignFilesLoadWithoutHarm) {
  std::mt19937 random(7);
  std::string noise(4096, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  ASSERT_TRUE(WriteFileAtomically(file_, noise));
  RuleList rules = LoadRuleFile(file_);
  for (const MonitorRule& r : rules) EXPECT_FALSE(r.actionText.find('\0') != std::string::npos);
  ASSERT_TRUE(WriteFileAtomically(file_, Rc4Transform("新建文件｜√/in｜【复制文件】/out\r\n", "other key")));
  EXPECT_NO_THROW(LoadRuleFile(file_));
}

}  // namespace
}  // namespace vantrel
