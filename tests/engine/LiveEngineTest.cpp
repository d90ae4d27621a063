// The engine on a real folder with the system's own change source, on both
// systems: what a user does to a file the program has just made is the
// user's change, heard by the rules, not the echo of the program's own.
#include "engine/Engine.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/PathRoutines.h"

#include "EngineTurns.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <fstream>
#include <thread>

namespace vantrel {
namespace {

using namespace std::chrono_literals;

std::string Read(const std::string& path) { return ReadAll(path); }

class LiveEngineTest : public ::testing::Test {
 protected:
  void Start(const std::string& moreSettings = {}) {
    for (const std::string& dir : {home_, in_, mid_, out_}) std::filesystem::create_directories(PathFromUtf8(dir));
    ASSERT_TRUE(WriteFileAtomically(JoinPath(home_, "config.ini"),
                                    Utf8ToGb18030("[监控设置]\r\n全盘监控=假\r\n自定义路径=真\r\n" + moreSettings)));
    Engine::Options options;
    options.home = home_;
    // Windows has one source whatever is asked for.
    options.backend = WatchBackend::Inotify;
    engine_ = std::make_unique<Engine>(std::move(options), EngineFace{});
    std::string error;
    ASSERT_TRUE(engine_->StartSource(error)) << error;
    engine_->Start();
  }
  template <typename F>
  bool Until(F done, std::chrono::milliseconds limit = 20s) {
    return GiveTurnsUntil(*engine_, done, limit);
  }

  std::string Rows() {
    std::string rows;
    EventList& list = engine_->Events();
    for (std::size_t r = 0; r < list.RowCount(); ++r)
      rows += std::string(list.Cell(r, 1)) + " | " + std::string(list.Cell(r, 2)) + " | " + std::string(list.Cell(r, 3)) + "\n";
    return rows;
  }

  TestDir temp_;
  std::string home_ = CleanPath(JoinPath(temp_.Path(), "home")), in_ = CleanPath(JoinPath(temp_.Path(), "in")),
              mid_ = CleanPath(JoinPath(temp_.Path(), "mid")), out_ = CleanPath(JoinPath(temp_.Path(), "out"));
  std::unique_ptr<Engine> engine_;
};

// A copy lands in a folder another rule watches; the user adds to it at
// once, while its creation is still held back for its writer. The copy's
// echo fires nothing, the user's addition does.
TEST_F(LiveEngineTest, AUsersChangeToAFreshCopyIsHeardByTheRules) {
  Start();
  engine_->Rules().Add("新建文件", in_, "【复制文件】" + mid_);
  // Either event may carry the user's change, depending on whether the
  // creation was still held when the user wrote.
  engine_->Rules().Add("新建文件", mid_, "【复制文件】" + out_);
  engine_->Rules().Add("更新文件", mid_, "【复制文件】" + out_);
  // The source takes up the rules' folders on a thread of its own (on
  // Windows a moment later): a file made before that is not seen. Fresh
  // files are tried until each folder is heard.
  auto heard = [&](const std::string& folder, const std::string& copies, const char* stem) {
    for (int i = 0; i < 10; ++i) {
      const std::string name = stem + std::to_string(i) + ".txt";
      if (!WriteFileAtomically(JoinPath(folder, name), name)) return false;
      if (Until([&] { return Read(JoinPath(copies, name)) == name; }, 3s)) return true;
    }
    return false;
  };
  ASSERT_TRUE(heard(in_, mid_, "probe-in-")) << Rows();
  ASSERT_TRUE(heard(mid_, out_, "probe-mid-")) << Rows();
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
    SCOPED_TRACE(name);
    const std::string copy = JoinPath(mid_, name);
    ASSERT_TRUE(WriteFileAtomically(JoinPath(in_, name), "made"));
    ASSERT_TRUE(Until([&] { return Read(copy) == "made"; })) << "the first rule never copied";
    // On Windows the copy's own handle may hold the file a moment longer
    // without sharing writing: the user's save is tried until it opens.
    ASSERT_TRUE(Until([&] {
      std::ofstream add(PathFromUtf8(copy), std::ios::binary | std::ios::app);
      return add && (add << " and added to");
    }));
    EXPECT_TRUE(Until([&] { return Read(JoinPath(out_, name)) == "made and added to"; }))
        << "the user's change was taken for the copy's echo; the copy holds \"" << Read(JoinPath(out_, name))
        << "\", the rows:\n" << Rows();
  }
  engine_->Stop();
}

// A move taken back from its row brings the file back into the rule's
// folder: that is the user's wish, not a new file for the rule to move.
TEST_F(LiveEngineTest, AMoveTakenBackStaysWhereItCameBack) {
  Start();
  engine_->Rules().Add("新建文件", in_, "【移动文件】" + out_);
  std::string name;
  for (int i = 0; i < 10 && name.empty(); ++i) {
    const std::string probe = "m" + std::to_string(i) + ".txt";
    ASSERT_TRUE(WriteFileAtomically(JoinPath(in_, probe), probe));
    if (Until([&] { return Read(JoinPath(out_, probe)) == probe; }, 3s)) name = probe;
  }
  ASSERT_FALSE(name.empty()) << Rows();
  auto rowsOf = [&](const std::string& text) {
    std::size_t n = 0;
    for (std::size_t at = Rows().find(text); at != std::string::npos; at = Rows().find(text, at + 1)) ++n;
    return n;
  };
  const std::string moveRow = "【执行操作】 | 移动文件 | " + JoinPath(out_, name);
  ASSERT_TRUE(Until([&] { return rowsOf(moveRow) == 1; })) << Rows();
  std::size_t row = 0;
  while (row < engine_->Events().RowCount() && engine_->Events().Cell(row, 3) != JoinPath(out_, name)) ++row;
  ASSERT_TRUE(engine_->CanTakeBack(row)) << Rows();
  const TakeBackResult back = engine_->TakeBackRow(row);
  ASSERT_TRUE(back.done) << back.text;
  // Its return is heard and listed; then whatever it set off has run.
  const std::string cameBack = name + " | 新建文件 | " + JoinPath(in_, name);
  ASSERT_TRUE(Until([&] { return rowsOf(cameBack) >= 2; })) << Rows();
  engine_->FinishPendingActions();
  EXPECT_EQ(Read(JoinPath(in_, name)), name) << Rows();
  EXPECT_EQ(rowsOf("| 移动文件 |"), 1u) << "moved again:\n" << Rows();
  engine_->Stop();
}

// What changed in a rule's folder while the program was stopped is listed
// once at the next start, marked, and acted on as the setting says; a
// second restart finds nothing, and nothing is acted on twice.
TEST_F(LiveEngineTest, WhatChangedWhileStoppedIsFoundAtStartOnceAndActedOn) {
  const std::string always = "启动时补做=总是\r\n";
  auto put = [](const std::string& path, const std::string& bytes) { ASSERT_TRUE(WriteFileAtomically(path, bytes)); };
  std::filesystem::create_directories(PathFromUtf8(in_));
  for (const char* name : {"b.txt", "c.txt", "d.txt"}) put(JoinPath(in_, name), name);
  Start(always);
  engine_->Rules().Add("新建文件", in_, "【复制文件】" + out_);
  engine_->Stop();
  engine_.reset();

  put(JoinPath(in_, "a.txt"), "a");
  {
    std::ofstream append(PathFromUtf8(JoinPath(in_, "b.txt")), std::ios::binary | std::ios::app);
    append << " and more";
  }
  std::filesystem::rename(PathFromUtf8(JoinPath(in_, "c.txt")), PathFromUtf8(JoinPath(in_, "c2.txt")));
  std::filesystem::remove(PathFromUtf8(JoinPath(in_, "d.txt")));
  auto found = [&] { return MarkedRows(engine_->Events(), "【启动时发现】"); };
  Start(always);
  engine_->FinishPendingActions();
  EXPECT_EQ(found(), (std::vector<std::string>{"删除文件 " + JoinPath(in_, "d.txt"), "新建文件 " + JoinPath(in_, "a.txt"),
                                               "更新文件 " + JoinPath(in_, "b.txt"),
                                               "重命名文件 " + JoinPath(in_, "c2.txt")}));
  EXPECT_TRUE(Until([&] { return Read(JoinPath(out_, "a.txt")) == "a"; })) << "the copy rule acted on what came meanwhile";
  engine_->Stop();
  engine_.reset();

  Start(always);
  engine_->FinishPendingActions();
  EXPECT_TRUE(found().empty()) << "found once";
  std::size_t copies = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(PathFromUtf8(out_))) ++copies;
  EXPECT_EQ(copies, 1u) << "never acted on twice";
  engine_->Stop();
}

// Two engines in one process, each on its own home, rules and folders, as
// two faces would run them: each acts on its own folder alone, and one
// ending stops nothing of the other's.
TEST(TwoEngines, RunSideBySideAndEndApart) {
  TestDir temp;
  struct One {
    std::string home, in, out;
    std::unique_ptr<Engine> engine;
  };
  std::array<One, 2> engines;
  for (std::size_t i = 0; i < engines.size(); ++i) {
    One& one = engines[i];
    const std::string base = CleanPath(JoinPath(temp.Path(), "e" + std::to_string(i)));
    one.home = JoinPath(base, "home");
    one.in = JoinPath(base, "in");
    one.out = JoinPath(base, "out");
    for (const std::string& dir : {one.home, one.in, one.out}) std::filesystem::create_directories(PathFromUtf8(dir));
    ASSERT_TRUE(WriteFileAtomically(JoinPath(one.home, "config.ini"),
                                    Utf8ToGb18030("[监控设置]\r\n全盘监控=假\r\n自定义路径=真\r\n")));
    Engine::Options options;
    options.home = one.home;
    options.backend = WatchBackend::Inotify;
    one.engine = std::make_unique<Engine>(std::move(options), EngineFace{});
    std::string error;
    ASSERT_TRUE(one.engine->StartSource(error)) << error;
    one.engine->Start();
    one.engine->Rules().Add("新建文件", one.in, "【复制文件】" + one.out);
  }
  auto until = [&](const std::function<bool()>& done) {
    for (int i = 0; i < 2000 && !done(); ++i) {
      for (One& one : engines) one.engine->Work();
      std::this_thread::sleep_for(10ms);
    }
    return done();
  };
  // A file in each engine's folder, tried afresh until its source watches.
  auto copied = [&](One& one, const std::string& stem) {
    for (int i = 0; i < 10; ++i) {
      const std::string name = stem + std::to_string(i) + ".bin";
      if (!WriteFileAtomically(JoinPath(one.in, name), std::string(3 << 20, 'x'))) return std::string();
      const std::string copy = JoinPath(one.out, name);
      if (until([&] { return Read(copy).size() == (3u << 20); })) return name;
    }
    return std::string();
  };
  for (std::size_t i = 0; i < engines.size(); ++i)
    ASSERT_FALSE(copied(engines[i], "of-engine-" + std::to_string(i) + "-").empty());
  for (std::size_t i = 0; i < engines.size(); ++i) {
    const std::string& other = engines[1 - i].out;
    for (const auto& entry : std::filesystem::directory_iterator(PathFromUtf8(engines[i].in)))
      EXPECT_FALSE(std::filesystem::exists(PathFromUtf8(other) / entry.path().filename()))
          << "one engine acted on the other's folder";
  }
  // The first ends; the second's copies go on whole.
  engines[0].engine->Stop();
  engines[0].engine.reset();
  const std::string name = "after-the-other-ended.bin";
  ASSERT_TRUE(WriteFileAtomically(JoinPath(engines[1].in, name), std::string(3 << 20, 'y')));
  const std::string copy = JoinPath(engines[1].out, name);
  EXPECT_TRUE(GiveTurnsUntil(*engines[1].engine, [&] { return Read(copy).size() == (3u << 20); }, 20s))
      << "the second engine's copy was stopped by the first's end";
  engines[1].engine->Stop();
}

}  // namespace
}  // namespace vantrel
