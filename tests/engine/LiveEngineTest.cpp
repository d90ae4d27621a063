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

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace vantrel {
namespace {

using namespace std::chrono_literals;

std::string Read(const std::string& path) { return ReadAll(path); }

class LiveEngineTest : public ::testing::Test {
 protected:
  void Start() {
    for (const std::string& dir : {home_, in_, mid_, out_}) std::filesystem::create_directories(PathFromUtf8(dir));
    ASSERT_TRUE(WriteFileAtomically(JoinPath(home_, "config.ini"),
                                    Utf8ToGb18030("[监控设置]\r\n全盘监控=假\r\n自定义路径=真\r\n")));
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

}  // namespace
}  // namespace vantrel
