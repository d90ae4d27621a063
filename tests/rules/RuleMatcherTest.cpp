#include "time/Timing.h"
#include "rules/ActionQueue.h"
#include "rules/RuleMatcher.h"
#include "text/AtomicFile.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <thread>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

// The rules' walk as the engine hands it over: the rules that fire, to the
// action queue, which carries out each and knows the echoes of its own.
class RuleMatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ + "/data");
    fs::create_directories(dir_ + "/bak");
  }
  void MatchRules(const std::string& path, EventKind kind, const std::string& name) {
    ActionJob job{path, kind, name, {}, false, {}};
    for (const MonitorRule& rule : rules_)
      if (RuleFires(rule, path, kind)) job.rules.push_back(rule);
    queue_.Submit(std::move(job));
    // A file just written waits to be seen whole where the kernel gives no
    // lease; either way the job is done before the test looks.
    queue_.WaitIdle();
    for (int i = 0; i < 1000 && queue_.WaitingCount() > 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      queue_.WaitIdle();
    }
    ASSERT_EQ(queue_.WaitingCount(), 0u) << "a file never seen whole";
  }
  std::vector<std::string> Log() {
    std::lock_guard lock(mutex_);
    return log_;
  }
  std::vector<std::string> Prompts() {
    std::lock_guard lock(mutex_);
    return prompts_;
  }
  TestDir temp_;
  std::string dir_ = temp_.Path();
  RuleList rules_;
  std::mutex mutex_;
  std::vector<std::string> log_, prompts_;
  ActionQueue queue_{ActionOutputs{[this](const ActionOutcome& outcome) {
                                     std::lock_guard lock(mutex_);
                                     log_.push_back(ActionOutcomeText(outcome));
                                   },
                                   [this](const std::string& title, const std::string& text) {
                                     std::lock_guard lock(mutex_);
                                     prompts_.push_back(title + "/" + text);
                                   },
                                   {}}};
};

TEST(RuleMatcherParts, OperationOperandAndEffectivePath) {
  EXPECT_EQ(OperationName("【复制文件】/x】y"), "复制文件");
  EXPECT_EQ(Operand("【复制文件】/x】y"), "y");
  EXPECT_EQ(OperationName("复制文件】/x"), "");
  EXPECT_EQ(Operand("no mark"), "");
  EXPECT_EQ(EffectivePath("/in/a.txt", EventKind::FileRenamed, "b.txt"), "/in/b.txt");
  EXPECT_EQ(EffectivePath("/in/A.TXT", EventKind::FileRenamed, "b.txt"), "/in/b.txt");
  EXPECT_EQ(EffectivePath("/in/a.txt", EventKind::FileCreated, "b.txt"), "/in/a.txt");
  EXPECT_EQ(EffectivePath("/w/t1", EventKind::FileRenamed, "t2", "/w/sub/t2"), "/w/sub/t2") << "never the /w/t2 that never was";
  EXPECT_EQ(EffectivePath("/in/A.TXT", EventKind::FileRenamed, "b.txt", "/in/b.txt"), "/in/b.txt");
}

TEST_F(RuleMatcherTest, PathEnabledAndEventTests) {
  std::string file = dir_ + "/data/a.txt";
  ASSERT_TRUE(WriteFileAtomically(file, "x"));
  rules_ = {{"新建文件", "/Data", "【删除文件】", true},
            {"新建目录", "/data", "【删除文件】", true},
            {"新建文件", "/data", "【删除文件】", false},
            {"新建文件", "ta/a", "【不存在】", true},
            {"新建文件", std::string(GlobalPathMarker), "【复制文件】" + dir_ + "/bak", true},
            {"新建文件", "/data", "【复制文件】" + dir_ + "/bak", true}};
  MatchRules(file, EventKind::FileCreated, "a.txt");
  ASSERT_EQ(Log().size(), 2u) << "the unknown operation fires but does nothing";
  EXPECT_EQ(Log()[0], "复制文件】" + dir_ + "/bak/a.txt");
  EXPECT_EQ(Log()[1], "复制文件】" + dir_ + "/bak/a(1).txt") << "both fire, in row order";
  EXPECT_EQ(queue_.LastActionTarget(), dir_ + "/bak");
  EXPECT_TRUE(fs::exists(dir_ + "/bak/a(1).txt"));
}

TEST_F(RuleMatcherTest, FailedActionsSaySoAndWhy) {
  rules_ = {{"新建文件", "/data", "【复制文件】" + dir_ + "/missing", true},
            {"删除文件", "/data", "【删除文件】ignored", true}};
  MatchRules(dir_ + "/data/gone.txt", EventKind::FileCreated, "gone.txt");
  ASSERT_EQ(Log().size(), 1u);
  EXPECT_EQ(Log()[0], "复制文件失败】" + dir_ + "/missing/gone.txt (没有那个文件或目录)") << "in the words of the interface";
  MatchRules(dir_ + "/data/gone.txt", EventKind::FileDeleted, "gone.txt");
  EXPECT_EQ(Log()[1], "删除文件失败】" + dir_ + "/data/gone.txt (没有那个文件或目录)");
}

TEST_F(RuleMatcherTest, DirectoryCopyAndBadExecuteEndTheWalk) {
  fs::create_directories(dir_ + "/data/photos");
  rules_ = {{"新建目录", "/data", "【复制文件】" + dir_ + "/bak", true},
            {"新建目录", "/data", "【执行程序】/bin/true§§1", true}};
  MatchRules(dir_ + "/data/photos", EventKind::FolderCreated, "photos");
  ASSERT_EQ(Log().size(), 1u);
  EXPECT_EQ(Log()[0], "复制文件】" + dir_ + "/bak/photos");
  EXPECT_TRUE(fs::is_directory(dir_ + "/bak/photos"));

  const std::size_t before = Log().size();
  rules_ = {{"新建文件", "/data", "【执行程序】/bin/true§x", true},
            {"新建文件", "/data", "【执行程序】/bin/true§§1", true}};
  MatchRules(dir_ + "/data/x", EventKind::FileCreated, "x");
  EXPECT_EQ(Log().size(), before);
  EXPECT_EQ(Prompts(), (std::vector<std::string>{"执行程序错误/参数不符合,请重新检查后再执行!"}));

  rules_.erase(rules_.begin());
  MatchRules(dir_ + "/data/y", EventKind::FileCreated, "y");
  ASSERT_EQ(Log().size(), before + 1);
  EXPECT_EQ(Log().back(), "执行程序】/bin/true ");
}

TEST_F(RuleMatcherTest, OwnChangesNeverFireARuleAgain) {
  // The target lies inside the monitored folder: without the guard every
  // copy would be copied again.
  std::string file = dir_ + "/data/a.txt";
  ASSERT_TRUE(WriteFileAtomically(file, "x"));
  fs::create_directories(dir_ + "/data/bak");
  rules_ = {{"新建文件", "/data", "【复制文件】" + dir_ + "/data/bak", true}};
  MatchRules(file, EventKind::FileCreated, "a.txt");
  ASSERT_EQ(Log().size(), 1u);
  MatchRules(dir_ + "/data/bak/a.txt", EventKind::FileCreated, "a.txt");
  EXPECT_EQ(Log().size(), 1u);
  EXPECT_FALSE(fs::exists(dir_ + "/data/bak/a(1).txt"));
}

TEST(OwnChanges, EachChangeIsUsedUpByItsOwnEventOfItsKind) {
  OwnChanges own;
  auto now = std::chrono::steady_clock::now();
  own.Remember({ActionChange::FileAppeared, "/t/a.txt", {}}, now);
  own.Remember({ActionChange::FolderAppeared, "/t/tree", {}}, now);
  own.Remember({ActionChange::FileAppeared, "/t/tree/x", {}}, now);
  EXPECT_FALSE(own.Consume("/t/a.txt", EventKind::FileDeleted, now)) << "a deletion is not the copy's appearance";
  EXPECT_FALSE(own.Consume("/t/a.txt.bak", EventKind::FileCreated, now));
  EXPECT_TRUE(own.Consume("/t/a.txt", EventKind::FileCreated, now));
  EXPECT_FALSE(own.Consume("/t/a.txt", EventKind::FileCreated, now)) << "the next creation there is somebody else's";
  EXPECT_FALSE(own.Consume("/t/tree", EventKind::FileCreated, now)) << "a folder was made there, not a file";
  EXPECT_TRUE(own.Consume("/t/tree", EventKind::FolderCreated, now));
  EXPECT_FALSE(own.Consume("/t/tree/y", EventKind::FileCreated, now)) << "nothing covers a whole tree";
  EXPECT_FALSE(own.Consume("/t/tree/x", EventKind::FileCreated, now + timing::kOwnChangeMemory + std::chrono::seconds(1)))
      << "an event handed over long after is not the echo";
  EXPECT_TRUE(own.Consume("/t/tree/x", EventKind::FileCreated, now + timing::kOwnChangeMemory - std::chrono::seconds(1)));

  // A move is one rename event or two events; either way both ends go together.
  own.Remember({ActionChange::Renamed, "/in/scan.pdf", "/out/scan.pdf"}, now);
  EXPECT_TRUE(own.Consume("/in/scan.pdf", EventKind::FileRenamed, now));
  EXPECT_FALSE(own.Consume("/out/scan.pdf", EventKind::FileCreated, now));
  own.Remember({ActionChange::Renamed, "/in/scan.pdf", "/out/scan(1).pdf"}, now);
  EXPECT_TRUE(own.Consume("/out/scan(1).pdf", EventKind::FileCreated, now));
  EXPECT_FALSE(own.Consume("/in/scan.pdf", EventKind::FileCreated, now)) << "the scanner's next scan.pdf is new";
}

// A folder rule acts on D; the user then makes a new folder at the same
// path: that one is the user's and is acted on too.
TEST_F(RuleMatcherTest, ANewFolderAtThePathOfOneWeRemovedIsTheUsers) {
  fs::create_directories(dir_ + "/data/D/inner");
  rules_ = {{"新建目录", "/data", "【删除文件】", true}};
  MatchRules(dir_ + "/data/D", EventKind::FolderCreated, "D");
  ASSERT_FALSE(fs::exists(dir_ + "/data/D"));
  // The deletion's own events.
  MatchRules(dir_ + "/data/D/inner", EventKind::FolderDeleted, "inner");
  MatchRules(dir_ + "/data/D", EventKind::FolderDeleted, "D");
  fs::create_directories(dir_ + "/data/D");
  MatchRules(dir_ + "/data/D", EventKind::FolderCreated, "D");
  EXPECT_EQ(Log().size(), 2u) << "acted on again";
  EXPECT_FALSE(fs::exists(dir_ + "/data/D"));
}

TEST_F(RuleMatcherTest, TheUsersNextFileAtAPathOurActionEmptiedFiresAgain) {
  // A scanner drops scan.pdf again and again; a move rule takes each one.
  fs::create_directories(dir_ + "/out");
  rules_ = {{"新建文件", "/data", "【移动文件】" + dir_ + "/out", true}};
  std::string scan = dir_ + "/data/scan.pdf";
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(WriteFileAtomically(scan, "page " + std::to_string(i)));
    MatchRules(scan, EventKind::FileCreated, "scan.pdf");
    MatchRules(scan, EventKind::FileDeleted, "scan.pdf");  // the event of our own move
  }
  EXPECT_EQ(Log().size(), 3u) << "every scan was moved";
  EXPECT_FALSE(fs::exists(scan));
  EXPECT_TRUE(fs::exists(dir_ + "/out/scan(2).pdf"));
}

}  // namespace
}  // namespace vantrel
