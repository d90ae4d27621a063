#include "log/AutomationDate.h"
#include "log/EventLog.h"
#include "rules/RuleMatcher.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/IniFile.h"

#include "TestDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace vantrel {
namespace {

class FakeHost : public EventLogHost {
 public:
  bool PromptsOn() const override { return prompts; }
  bool SaveLogOn() const override { return saveLog; }
  const SettingsFile& Config() const override { return config; }
  void ShowPrompt(const std::string& title, const std::string& text) override { shown.emplace_back(title, text); }
  void ShowErrorPrompt(const std::string& title, const std::string& text) override { errors.emplace_back(title, text); }
  void RowsAppended() override { ++appended; }
  void RowsRecoloured() override { ++recoloured; }
  bool prompts = true, saveLog = true;
  SettingsFile config;
  explicit FakeHost(std::string configFile) : config(std::move(configFile)) {}
  std::vector<std::pair<std::string, std::string>> shown, errors;
  int appended = 0, recoloured = 0;
};

class EventLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_.SetLogFile(dir_ + "/log/20210801", "log");
  }
  void TearDown() override {
    std::filesystem::remove_all(dir_);
  }
  std::string LogBytes() {
    std::string bytes;
    ReadWholeFile(dir_ + "/log/20210801/log.txt", bytes);
    return bytes;
  }
  static std::string MadeDir() {
    char templ[] = "/tmp/vantrel-log-XXXXXX";
    return ::mkdtemp(templ);
  }
  std::string dir_ = MadeDir();
  FakeHost host_{dir_ + "/config.ini"};
  EventList list_;
  ListColourStore colours_;
  ManualClock clock_{LocalDateTime{2021, 8, 1, 13, 5, 9, 42}};
  LogOutput log_{"/nonexistent", clock_};
  EventLog events_{list_, colours_, log_, host_};
};

TEST_F(EventLogTest, EventRowCellsPromptLogRecordAndColours) {
  events_.AddEventRow("a.txt", EventKind::FileCreated, "/data/a.txt");
  ASSERT_EQ(list_.RowCount(), 1u);
  EXPECT_EQ(list_.Cell(0, 0), "2021-08-01 13:05:09");
  EXPECT_EQ(list_.Cell(0, 1), "a.txt");
  EXPECT_EQ(list_.Cell(0, 3), "/data/a.txt");
  ASSERT_EQ(host_.shown.size(), 1u);
  EXPECT_EQ(host_.shown[0].first, "新建文件 【a.txt】");
  EXPECT_EQ(host_.shown[0].second, "/data/a.txt");
  EXPECT_EQ(LogBytes(), Utf8ToGb18030("2021-08-01 13:05:09.042 信息: ┃ a.txt ┃ 新建文件 ┃ /data/a.txt\r\n\r\n"));
  EXPECT_EQ(colours_.CellColourAt(0, 0)->text, 0u);
  EXPECT_EQ(colours_.CellColourAt(0, 1)->text, 16746496u);
  EXPECT_EQ(colours_.CellColourAt(0, 2)->text, 255u);
  EXPECT_EQ(colours_.CellColourAt(0, 3)->text, 8421376u);
  EXPECT_EQ(colours_.CellColourAt(0, 3)->background, 16777215u);
  EXPECT_EQ(host_.appended, 1);
}

TEST_F(EventLogTest, RenameRowsShowTheOldNameAndTheNewPath) {
  events_.AddEventRow("new.txt", EventKind::FileRenamed, "/data/old.txt");
  EXPECT_EQ(list_.Cell(0, 1), "new.txt【原:old.txt】");
  EXPECT_EQ(list_.Cell(0, 3), "/data/new.txt");
  events_.AddEventRow("Renamed", EventKind::FolderRenamed, "/old/OLD");
  EXPECT_EQ(list_.Cell(1, 3), "/old/Renamed") << "only the last component, without regard to case";
  EXPECT_EQ(host_.shown[1].second, "/old/OLD") << "the prompt carries the path as reported";
  EXPECT_EQ(host_.shown[0].first, "重命名文件 【new.txt】") << "the prompt names the new name alone";
  events_.AddEventRow("t2", EventKind::FileRenamed, "/w/t1", "/w/sub/t2");
  EXPECT_EQ(list_.Cell(2, 3), "/w/sub/t2") << "moved into another folder: where it really went";
  events_.AddEventRow("b.txt", EventKind::FileRenamed, "/w/a.txt", "/w/b.txt");
  EXPECT_EQ(list_.Cell(3, 3), "/w/b.txt");
}

// A name made on Windows is GB18030 bytes; its rename must still show, and
// hand the rules, the path that is on disk.
TEST_F(EventLogTest, ARenameOfAGb18030NameShowsTheRealNewPath) {
  const std::string oldName = Utf8ToGb18030("报告.txt"), newName = Utf8ToGb18030("报告.txt.r");
  events_.AddEventRow(newName, EventKind::FileRenamed, "/w/" + oldName, "/w/" + newName);
  EXPECT_EQ(list_.Cell(0, 3), "/w/" + newName);
  EXPECT_EQ(EffectivePath("/w/" + oldName, EventKind::FileRenamed, newName, "/w/" + newName), "/w/" + newName);
}

TEST_F(EventLogTest, SwitchesAreReadAtTheMomentOfEachRow) {
  host_.prompts = false;
  host_.saveLog = false;
  events_.AddEventRow("a", EventKind::FileDeleted, "/a");
  EXPECT_TRUE(host_.shown.empty());
  EXPECT_EQ(LogBytes(), "");
  host_.saveLog = true;
  events_.AddEventRow("b", EventKind::FileDeleted, "/b");
  EXPECT_EQ(Gb18030ToUtf8(LogBytes()), "2021-08-01 13:05:09.042 信息: ┃ b ┃ 删除文件 ┃ /b\r\n\r\n");
}

// The row's type and detail come whole, whatever the detail holds: a path
// with "】" in it keeps all of it.
TEST_F(EventLogTest, ActionRowsKeepTheirWholeDetail) {
  events_.LogAction("复制文件", "/backup/a.txt");
  events_.LogAction("复制文件", "/backup/【旧】/b.txt");
  EXPECT_EQ(list_.Cell(0, 1), "【执行操作】");
  EXPECT_EQ(list_.Cell(0, 2), "复制文件");
  EXPECT_EQ(list_.Cell(0, 3), "/backup/a.txt");
  EXPECT_EQ(list_.Cell(1, 2), "复制文件");
  EXPECT_EQ(list_.Cell(1, 3), "/backup/【旧】/b.txt");
  for (int c = 0; c < 4; ++c) EXPECT_EQ(colours_.CellColourAt(1, c)->text, 16711680u);
  EXPECT_EQ(Gb18030ToUtf8(LogBytes()),
            "2021-08-01 13:05:09.042 信息:【执行操作】 ┃ 复制文件】/backup/a.txt\r\n\r\n"
            "2021-08-01 13:05:09.042 信息:【执行操作】 ┃ 复制文件】/backup/【旧】/b.txt\r\n\r\n");
}

TEST_F(EventLogTest, NoticesOfLossesAreKeptEvenWithTheLogOff) {
  host_.prompts = false;
  host_.saveLog = false;
  events_.LogNotice("变动丢失", "3 个变动\n无法列出");
  EXPECT_EQ(list_.Cell(0, 1), "【监控提示】");
  EXPECT_EQ(list_.Cell(0, 2), "变动丢失");
  EXPECT_EQ(Gb18030ToUtf8(LogBytes()), "2021-08-01 13:05:09.042 信息:【监控提示】 ┃ 变动丢失 ┃ 3 个变动\\n无法列出\r\n\r\n");
  ASSERT_EQ(host_.errors.size(), 1u) << "told although prompts are off";
  EXPECT_TRUE(host_.shown.empty());
}

// A second that ends between a row and its record: both must say the same
// instant, or the log and the list disagree about when a change came.
TEST_F(EventLogTest, ARowAndItsRecordSayTheSameSecond) {
  class TickingClock final : public Clock {
   public:
    time_point Now() const override { return inner.Now(); }
    LocalDateTime Local() const override {
      LocalDateTime t{2021, 8, 1, 13, 5, 9, 42};
      t.second += readings++;
      return t;
    }
    bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, time_point until,
                   const std::function<bool()>& ready) const override {
      return inner.WaitUntil(lock, cv, until, ready);
    }
    ManualClock inner;
    mutable int readings = 0;
  } ticking;
  LogOutput log(dir_, ticking);
  log.SetLogFile(dir_ + "/log/20210801", "log");
  EventLog events(list_, colours_, log, host_);
  events.AddEventRow("a.txt", EventKind::FileCreated, "/data/a.txt");
  events.LogAction("复制文件", "/backup/a.txt");
  events.LogNotice("变动丢失", "3 个变动");
  ASSERT_EQ(list_.RowCount(), 3u);
  const std::string records = Gb18030ToUtf8(LogBytes());
  std::size_t at = 0;
  for (std::size_t row = 0; row < 3; ++row) {
    SCOPED_TRACE(row);
    const std::string time(list_.Cell(row, 0));
    const std::size_t line = records.find("\r\n", at);
    ASSERT_NE(line, std::string::npos);
    EXPECT_EQ(records.substr(at, time.size()), time) << records;
    at = records.find("2021", line);
    if (at == std::string::npos) at = records.size();
  }
}

TEST_F(EventLogTest, RecolouringReadsTheSettingsAgainAndTellsRowsByTheirMark) {
  events_.AddEventRow("a", EventKind::FileCreated, "/a");
  events_.AddEventRow("【odd", EventKind::FileCreated, "/b");
  events_.LogAction("移动文件", "/c");
  ASSERT_TRUE(host_.config.Write("日志颜色", " 类型", "65280"));
  ASSERT_TRUE(host_.config.Write("日志颜色", " 执行", "abc"));
  events_.RecolourRows();
  EXPECT_EQ(colours_.CellColourAt(0, 2)->text, 65280u);
  EXPECT_EQ(colours_.CellColourAt(1, 2)->text, 0u) << "a name starting with 【 is taken for an action row";
  EXPECT_EQ(colours_.CellColourAt(2, 0)->text, 0u) << "a colour that is not a number is black";
  EXPECT_EQ(host_.recoloured, 1);
}

// A failed action stands apart from a done one, in a colour of its own that
// a config.ini written before has no key for; recolouring tells it by its
// type, and its record and the file stay as they were.
TEST_F(EventLogTest, AFailedActionHasAColourOfItsOwn) {
  events_.LogAction("复制文件", "/out/a.txt");
  events_.LogAction("复制文件失败", "/out/b.txt (只读文件系统)", true);
  const CellColour done = *colours_.CellColourAt(0, 3), failed = *colours_.CellColourAt(1, 3);
  EXPECT_EQ(done, (CellColour{16711680u, EventLog::kWhite}));
  EXPECT_EQ(failed, (CellColour{160u, EventLog::kFailedBackground})) << "the default, with no key in config.ini";
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/config.ini")) << "a default is not written";
  ASSERT_TRUE(host_.config.Write("日志颜色", "失败", "255"));
  events_.RecolourRows();
  EXPECT_EQ(*colours_.CellColourAt(1, 0), (CellColour{255u, EventLog::kFailedBackground}));
  EXPECT_EQ(*colours_.CellColourAt(0, 0), done);
  EXPECT_NE(LogBytes().find(Utf8ToGb18030("复制文件失败】/out/b.txt (只读文件系统)")), std::string::npos);
}

TEST(ExportText, RowsJoinedInCodePage936) {
  EventList list;
  list.Append("2021-08-01 13:05:10", "【执行操作】", "复制文件", "/backup/a.txt");
  list.Append("2021-08-01 13:05:11", "b", "删除文件", "/b");
  EXPECT_EQ(Utf8ToGb18030(ExportText(list)),
            "2021-08-01 13:05:10 \xA9\xA7 \xA1\xBE\xD6\xB4\xD0\xD0\xB2\xD9\xD7\xF7\xA1\xBF \xA9\xA7 "
            "\xB8\xB4\xD6\xC6\xCE\xC4\xBC\xFE \xA9\xA7 /backup/a.txt\r\n"
            "2021-08-01 13:05:11 \xA9\xA7 b \xA9\xA7 \xC9\xBE\xB3\xFD\xCE\xC4\xBC\xFE \xA9\xA7 /b\r\n");
  EXPECT_EQ(ExportText(EventList()), "");
}

TEST(LogOutput, SetLogFileAndRecordFormat) {
  LogOutput log("/prog");
  EXPECT_EQ(log.SetLogFile("/x", "a"), "/x/a.txt");
  EXPECT_EQ(log.SetLogFile("/x/", "B.TXT"), "/x/B.TXT");
  EXPECT_EQ(log.SetLogFile(), "/x/B.TXT");
  EXPECT_EQ(LogOutput::FormatLogRecord("t", 0, {2021, 8, 1, 9, 5, 3, 7}), "2021-08-01 09:05:03.007 信息:t\r\n");
  EXPECT_EQ(LogOutput::FormatLogRecord("t", 2, {2021, 8, 1, 21, 5, 3, 7}), "2021-08-01 21:05:03.007 错误:t\r\n");
  EXPECT_EQ(LogOutput::FormatLogRecord("t", 9, {2021, 8, 1, 21, 5, 3, 7}), "2021-08-01 21:05:03.007 信息:t\r\n");
}

TEST(LogOutput, AppendsAcrossRunsAndRetriesWhenTheFileCannotBeOpened) {
  char templ[] = "/tmp/vantrel-log-XXXXXX";
  std::string dir = ::mkdtemp(templ);
  {
    LogOutput first(dir);
    first.SetLogFile(dir + "/log/day", "log.txt");
    EXPECT_TRUE(first.WriteLogRecord("one"));
  }
  LogOutput second(dir);
  second.SetLogFile(dir + "/log/day", "log.txt");
  EXPECT_TRUE(second.WriteLogRecord("two"));
  std::string bytes;
  ReadWholeFile(dir + "/log/day/log.txt", bytes);
  EXPECT_NE(bytes.find("one"), std::string::npos) << "the earlier run's records stay";
  EXPECT_NE(bytes.find("two"), std::string::npos);

  std::filesystem::create_directories(dir + "/blocked/log.txt");  // a folder where the file should be
  LogOutput blocked(dir);
  blocked.SetLogFile(dir + "/blocked", "log.txt");
  EXPECT_FALSE(blocked.WriteLogRecord("lost"));
  std::filesystem::remove_all(dir + "/blocked/log.txt");
  EXPECT_TRUE(blocked.WriteLogRecord("kept")) << "the next record opens the file again";
  std::filesystem::remove_all(dir);
}


// Everything written to the pipe so far.
std::string Drain(int fd) {
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
  return out;
}

TEST_F(EventLogTest, DiagnosticOutputsWithAndWithoutTheLogFile) {
  int pipe[2];
  ASSERT_EQ(::pipe2(pipe, O_NONBLOCK), 0);
  log_.SetConsoleFdForTesting(pipe[1]);
  EXPECT_TRUE(log_.WriteConsoleRecord("console only", 1));
  EXPECT_EQ(Drain(pipe[0]), "2021-08-01 13:05:09.042 警告:console only\r\n") << "no colour codes into a pipe";
  EXPECT_EQ(LogBytes(), "");
  log_.WriteConsoleRecord("both", 2, true);
  log_.WriteFileOnlyRecord("not written", 0, false);
  log_.WriteFileOnlyRecord("file only", 0, true);
  log_.WriteDebuggerRecord("system log only", 3, false);
  log_.WriteDebuggerRecord("system log and file", 3, true);
  EXPECT_EQ(Drain(pipe[0]), "2021-08-01 13:05:09.042 错误:both\r\n");
  EXPECT_EQ(Gb18030ToUtf8(LogBytes()),
            "2021-08-01 13:05:09.042 错误:both\r\n2021-08-01 13:05:09.042 信息:file only\r\n"
            "2021-08-01 13:05:09.042 调试:system log and file\r\n");

  // On a terminal the level's colour: warning bright red.
  int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0) {
    int follower = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY);
    ASSERT_GE(follower, 0);
    log_.SetConsoleFdForTesting(follower);
    log_.WriteConsoleRecord("red", 1);
    char buf[256] = {};
    ssize_t n = ::read(terminal, buf, sizeof buf - 1);
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0).rfind("\033[91m", 0), 0u);
    ::close(follower);
  }
  if (terminal >= 0) ::close(terminal);

  // Mirrored: every row's record reaches the console, with the log file off.
  log_.SetConsoleFdForTesting(pipe[1]);
  host_.saveLog = false;
  events_.SetConsoleMirror(true);
  events_.AddEventRow("a.txt", EventKind::FileCreated, "/data/a.txt");
  EXPECT_EQ(Drain(pipe[0]), "2021-08-01 13:05:09.042 信息: ┃ a.txt ┃ 新建文件 ┃ /data/a.txt\r\n\r\n");
  EXPECT_EQ(LogBytes().find("a.txt"), std::string::npos);
  ::close(pipe[0]);
  ::close(pipe[1]);
}

TEST(EnsureDirectoryPath, CreatesEveryMissingLevel) {
  char templ[] = "/tmp/vantrel-dirs-XXXXXX";
  std::string dir = ::mkdtemp(templ);
  EXPECT_TRUE(EnsureDirectoryPath(dir + "/a/b/c/"));
  EXPECT_TRUE(std::filesystem::is_directory(dir + "/a/b/c"));
  EXPECT_TRUE(EnsureDirectoryPath(dir + "/a/b/c")) << "existing levels are no failure";
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vantrel
