// The engine on Windows with the directory-reads source on a real folder:
// a rule acts on a new file, and an overflow reaches the user as a loss
// notice in the log and on the face, after which rules act again.
#include "engine/Engine.h"
#include "monitor/windows/DirectoryChangesSource.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/PathRoutines.h"

#include "EngineTurns.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace vantrel {
namespace {

using namespace std::chrono_literals;

void Put(const std::string& path, const std::string& text) {
  std::ofstream(PathFromUtf8(path), std::ios::binary) << text;
}

std::string Read(const std::string& path) { return ReadAll(path); }

class WindowsEngineTest : public ::testing::Test {
 protected:
  void Start(std::size_t bufferBytes = DirectoryChangesSource::kBufferBytes) {
    for (const std::string& dir : {home_, in_, out_}) std::filesystem::create_directories(PathFromUtf8(dir));
    // Only the rules' folders, and the log kept.
    ASSERT_TRUE(WriteFileAtomically(JoinPath(home_, "config.ini"),
                                    Utf8ToGb18030("[监控设置]\r\n全盘监控=假\r\n自定义路径=真\r\n保存日志=真\r\n")));
    Engine::Options options;
    options.home = home_;
    options.sourceFactory = [bufferBytes](const std::vector<std::string>& roots, std::string& error) {
      auto source = std::make_unique<DirectoryChangesSource>(bufferBytes);
      source->SetRoots(roots);
      std::unique_ptr<ChangeSource> made;
      if (source->Start(error)) made = std::move(source);
      return made;
    };
    EngineFace face;
    face.sourceReported = [this](const std::string& text) { reported_.push_back(text); };
    engine_ = std::make_unique<Engine>(std::move(options), std::move(face));
    std::string error;
    ASSERT_TRUE(engine_->StartSource(error)) << error;
    engine_->Start();
    engine_->Rules().Add("新建文件", in_, "【复制文件】" + out_);
  }
  template <typename F>
  bool Until(F done, std::chrono::milliseconds limit = 30s) {
    return GiveTurnsUntil(*engine_, done, limit);
  }
  std::string Log() {
    std::string log;
    std::error_code ec;
    for (const auto& day : std::filesystem::directory_iterator(PathFromUtf8(JoinPath(home_, "log")), ec))
      log += Gb18030ToUtf8(Read(JoinPath(Utf8FromPath(day.path()), "log.txt")));
    return log;
  }
  bool Copied(const std::string& name, const std::string& text, const std::string& to = {}) {
    return Read(JoinPath(to.empty() ? out_ : to, name)) == text;
  }
  // Adds a rule and waits until the source has taken up the folders it
  // names: a file made before that is nobody's change.
  void AddRule(const std::string& event, const std::string& path, const std::string& action) {
    auto* source = dynamic_cast<DirectoryChangesSource*>(engine_->Source());
    ASSERT_NE(source, nullptr);
    const std::uint64_t applied = source->RootSetsApplied();
    engine_->Rules().Add(event, path, action);
    ASSERT_TRUE(Until([&] { return source->RootSetsApplied() > applied; }, 10s));
  }
  std::string Dump() {
    std::string all;
    const EventList& list = engine_->Events();
    for (std::size_t row = 0; row < list.RowCount(); ++row)
      for (int c = 0; c < 4; ++c) all += std::string(list.Cell(row, c)) + (c == 3 ? "\n" : " | ");
    for (const auto& r : engine_->WatchRoots()) all += "root " + r + "\n";
    return all;
  }
  // Rows (of the type, if given) whose cells, letter case aside, hold the text.
  int RowsWith(const std::string& text, std::string_view type = {}) {
    int rows = 0;
    const EventList& list = engine_->Events();
    for (std::size_t row = 0; row < list.RowCount(); ++row) {
      bool found = false;
      if (!type.empty() && list.Cell(row, 2) != type) continue;
      for (int column = 0; column < 4 && !found; ++column) found = PathContains(list.Cell(row, column), text);
      rows += found;
    }
    return rows;
  }
  bool ActsOnANewFile(const std::string& stem) {
    for (int i = 0; i < 10; ++i) {
      const std::string name = stem + std::to_string(i) + ".txt";
      Put(JoinPath(in_, name), name);
      if (Until([&] { return Copied(name, name); }, 3s)) return true;
    }
    return false;
  }

  TestDir temp_;
  // Paths as Windows writes them, the way a user types a rule's.
  std::string home_ = CleanPath(JoinPath(temp_.Path(), "home")), in_ = CleanPath(JoinPath(temp_.Path(), "在 in")),
              out_ = CleanPath(JoinPath(temp_.Path(), "out"));
  std::unique_ptr<Engine> engine_;
  std::vector<std::string> reported_;
};

TEST_F(WindowsEngineTest, AnOverflowIsToldAndRulesActAfterIt) {
  // Room for a record or two per read: a burst cannot fit.
  Start(256);
  // A read this small may overflow on any file's few records: a rule acts
  // when one of a few new files is copied.
  ASSERT_TRUE(ActsOnANewFile("first")) << "the rule never acted; the log:\n" << Log();

  for (int i = 0; i < 300; ++i) Put(JoinPath(in_, "burst-with-a-long-name-" + std::to_string(i) + ".txt"), "b");
  ASSERT_TRUE(Until([&] { return !reported_.empty(); })) << "no overflow was told";
  EXPECT_NE(reported_.front().find(in_), std::string::npos) << reported_.front();

  EXPECT_TRUE(ActsOnANewFile("after")) << "rules stopped acting after the overflow";
  engine_->Stop();
  // The user reads of the loss in the log, in its own words.
  const std::string log = Log();
  EXPECT_NE(log.find("变动丢失"), std::string::npos) << log;
  EXPECT_NE(log.find("已重新扫描 " + in_), std::string::npos) << log;
}

// Older data.jl files spell one folder in several ways: on Windows it is
// one folder, watched once, each change listed once and acted on once, and
// a rule spelled in another case than the disk's still acts.
TEST_F(WindowsEngineTest, AFolderIsOneWhateverTheCaseOfItsLetters) {
  const std::string sub = JoinPath(in_, "sub"), upper = PathKey(in_), out3 = JoinPath(temp_.Path(), "out3");
  ASSERT_TRUE(std::filesystem::create_directories(PathFromUtf8(sub)));
  ASSERT_TRUE(std::filesystem::create_directories(PathFromUtf8(out3)));
  Start();
  AddRule("重命名文件", upper, "【复制文件】" + JoinPath(temp_.Path(), "out2"));
  AddRule("新建文件", JoinPath(upper, "SUB"), "【复制文件】" + out3);
  EXPECT_EQ(engine_->WatchRoots().size(), 1u);

  Put(JoinPath(in_, "x.txt"), "x");
  ASSERT_TRUE(Until([&] { return Copied("x.txt", "x"); }));
  Put(JoinPath(sub, "y.txt"), "y");
  EXPECT_TRUE(Until([&] { return Copied("y.txt", "y", out3); }, 10s)) << "the rule spelled SUB never acted on sub" << Dump();
  // Changes reach the rules in order: once z is copied, every echo of x has
  // been listed.
  Put(JoinPath(in_, "z.txt"), "z");
  ASSERT_TRUE(Until([&] { return Copied("z.txt", "z"); }));
  EXPECT_EQ(RowsWith(JoinPath(in_, "x.txt"), "新建文件"), 1) << "a change listed once per spelling";
  EXPECT_FALSE(std::filesystem::exists(PathFromUtf8(JoinPath(out_, "x(1).txt")))) << "copied once per spelling";
}

// A rule on a drive that is not there waits for it, told once, and every
// other drive is left alone for it.
TEST_F(WindowsEngineTest, ARuleOnADriveThatIsNotThereWaitsForIt) {
  Start();
  char absent = 'Y';
  while (absent > 'D' && IsDirectoryPath(std::string(1, absent) + ":\\")) --absent;
  ASSERT_GT(absent, 'D') << "every drive letter is taken";
  const std::string away = std::string(1, absent) + ":\\照片\\新";
  engine_->Rules().Add("新建文件", away, "【复制文件】" + out_);
  engine_->Rules().Add("删除文件", away, "【删除文件】");
  EXPECT_EQ(engine_->WatchRoots(), (std::vector<std::string>{in_})) << "only the folder that is there";
  EXPECT_EQ(RowsWith(away), 1) << "told once while the drive is away";
  EXPECT_TRUE(ActsOnANewFile("still")) << "the other rules act";
  engine_->Stop();
  EXPECT_NE(Log().find(away), std::string::npos) << "and written to the log";
}

}  // namespace
}  // namespace vantrel
