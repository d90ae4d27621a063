// A small tmpfs stands for a full disk. These tests mount file systems, so
// they run apart from the change-source tests that watch for mounts.
#include "log/AutomationDate.h"
#include "log/EventLog.h"
#include "rules/FileActions.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/PathRoutines.h"
#include "FileHelpers.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sys/mount.h>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

class FullDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ + "/in");
    small_ = dir_ + "/small";
    fs::create_directories(small_);
    if (::mount("tmpfs", small_.c_str(), "tmpfs", 0, "size=1m") != 0)
      GTEST_SKIP() << "cannot mount a 1 MiB tmpfs here (" << FileErrorText(errno) << "); needs root";
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) ::umount2(small_.c_str(), MNT_DETACH);
  }
  TestDir temp_;
  std::string dir_ = temp_.Path();
  std::string small_;
  bool mounted_ = false;
};

TEST_F(FullDiskTest, AFailedFolderCopyLeavesTheEarlierGoodCopy) {
  std::string d = dir_ + "/in/D";
  fs::create_directories(d);
  std::string good(600 << 10, 'a');
  Put(d + "/a.bin", good);
  ASSERT_TRUE(CopyDirectoryAction(d, small_).ok);
  Put(d + "/a.bin", std::string(700 << 10, 'b'));
  ActionResult r = CopyDirectoryAction(d, small_);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(Read(small_ + "/D/a.bin"), good) << "replaced only by a whole copy";
  EXPECT_EQ(EntriesIn(small_ + "/D"), 1u) << "no torn or temporary file left";
}

TEST_F(FullDiskTest, AFailedFolderMoveTakesBackWhatItWroteSoARetryWorks) {
  std::string d = dir_ + "/in/M";
  fs::create_directories(d + "/sub");
  Put(d + "/one.bin", std::string(300 << 10, '1'));
  Put(d + "/sub/two.bin", std::string(900 << 10, '2'));
  ActionResult r = MoveDirectoryAction(d, small_);
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(fs::exists(small_ + "/M")) << "nothing partial blocks the next try";
  EXPECT_EQ(fs::file_size(d + "/sub/two.bin"), 900u << 10) << "the source stays whole";
  EXPECT_EQ(fs::file_size(d + "/one.bin"), 300u << 10);

  fs::remove(d + "/sub/two.bin");
  r = MoveDirectoryAction(d, small_);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(fs::file_size(small_ + "/M/one.bin"), 300u << 10);
  EXPECT_FALSE(fs::exists(d));
}

TEST_F(FullDiskTest, AFailedFolderMoveTellsWhatItMadeAndThenWhatItTookBack) {
  std::string d = dir_ + "/in/M";
  fs::create_directories(d + "/sub");
  Put(d + "/one.bin", std::string(300 << 10, '1'));
  Put(d + "/sub/two.bin", std::string(900 << 10, '2'));
  std::vector<ActionChange> told;
  ActionResult r = MoveDirectoryAction(d, small_ + "//", [&](const ActionChange& c) { told.push_back(c); });
  EXPECT_FALSE(r.ok);
  std::multiset<std::string> appeared, vanished;
  for (const ActionChange& c : told) {
    EXPECT_TRUE(PathWithin(c.path, small_ + "/M")) << c.path << ": only the copy is touched";
    EXPECT_NE(c.kind, ActionChange::Renamed);
    (c.kind == ActionChange::FileAppeared || c.kind == ActionChange::FolderAppeared ? appeared : vanished).insert(c.path);
  }
  EXPECT_GE(appeared.size(), 2u) << "the folder and what fitted";
  EXPECT_EQ(appeared, vanished) << "all that was made was taken back, and told";
  ASSERT_FALSE(told.empty());
  EXPECT_EQ(told.front().kind, ActionChange::FolderAppeared);
  EXPECT_EQ(told.back().kind, ActionChange::FolderVanished);
  EXPECT_EQ(told.back().path, small_ + "/M");
}

TEST_F(FullDiskTest, AFailedFileCopyOrMoveLeavesNothingAndKeepsTheSource) {
  Put(small_ + "/filler", std::string(700 << 10, 'f'));
  std::string big = dir_ + "/in/big.bin";
  Put(big, std::string(500 << 10, 'x'));
  EXPECT_FALSE(CopyFileAction(big, small_, dir_ + "/in").ok);
  EXPECT_FALSE(MoveFileAction(big, small_, dir_ + "/in").ok);
  EXPECT_EQ(EntriesIn(small_), 1u);
  EXPECT_EQ(fs::file_size(big), 500u << 10);
}

class PromptsOnly : public EventLogHost {
 public:
  bool PromptsOn() const override { return false; }
  bool SaveLogOn() const override { return true; }
  const SettingsFile& Config() const override { return config; }
  SettingsFile config{"/nonexistent/config.ini"};
  void ShowPrompt(const std::string&, const std::string& text) override { shown.push_back(text); }
  void ShowErrorPrompt(const std::string&, const std::string& text) override { shown.push_back(text); }
  void RowsAppended() override {}
  void RowsRecoloured() override {}
  std::vector<std::string> shown;
};

TEST_F(FullDiskTest, TheLogCutsNoRecordTellsOnceAndGoesOnWhenSpaceReturns) {
  const ManualClock clock(LocalDateTime{2021, 8, 1, 13, 5, 9, 42});
  EventList list;
  ListColourStore colours;
  LogOutput log("/nonexistent", clock);
  log.SetLogFile(small_ + "/log/20210801", "log");
  PromptsOnly host;
  EventLog events(list, colours, log, host);
  Put(small_ + "/filler", std::string(600 << 10, 'f'));
  const std::string path = "/data/" + std::string(1500, 'p');
  for (int i = 0; i < 400; ++i) events.AddEventRow("a.txt", EventKind::FileCreated, path);
  std::string full = Read(small_ + "/log/20210801/log.txt");
  const std::string record = Utf8ToGb18030("2021-08-01 13:05:09.042 信息: ┃ a.txt ┃ 新建文件 ┃ " + path + "\r\n\r\n");
  ASSERT_GT(full.size(), 0u);
  EXPECT_EQ(full.size() % record.size(), 0u) << "no record cut short";
  EXPECT_EQ(full.substr(full.size() - record.size()), record);
  ASSERT_EQ(host.shown.size(), 1u) << "told once, not once per lost record";
  EXPECT_NE(host.shown[0].find("日志写入失败"), std::string::npos);

  fs::remove(small_ + "/filler");
  events.AddEventRow("b.txt", EventKind::FileCreated, "/data/b.txt");
  EXPECT_NE(Read(small_ + "/log/20210801/log.txt").find("b.txt"), std::string::npos)
      << "logging goes on once there is space";
  EXPECT_EQ(host.shown.size(), 1u);
}

}  // namespace
}  // namespace vantrel
