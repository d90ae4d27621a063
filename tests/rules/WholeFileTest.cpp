// The judgement of a whole file keeps the file it first saw, on both
// systems: renamed within its folder it is followed, replaced it is judged
// afresh, removed it is gone once it has stayed away a while.
#include "rules/ActionQueue.h"
#include "rules/WholeFile.h"
#include "text/AtomicFile.h"
#include "text/PathRoutines.h"
#include "time/Clock.h"
#include "time/Timing.h"

#include "TestDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

namespace vantrel {
namespace {

using State = WholeFileWatch::State;
using namespace std::chrono_literals;

TEST(WholeFileWatchTest, KeepsTheFileItSawByIdentity) {
  TestDir dir;
  const std::string part = JoinPath(dir.Path(), "report.part"), done = JoinPath(dir.Path(), "report.pdf");
  ASSERT_TRUE(WriteFileAtomically(part, "content"));
  WholeFileWatch watch(part);
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(watch.Check(t0), State::Whole);
  ASSERT_TRUE(watch.LastSeen());
  const platform::FileStamp first = *watch.LastSeen();

  std::filesystem::rename(PathFromUtf8(part), PathFromUtf8(done));
  EXPECT_EQ(watch.Check(t0), State::Whole);
  EXPECT_EQ(watch.Path(), done) << "followed to its new name in the folder";

  // A save by rename: another file takes the name.
  ASSERT_TRUE(WriteFileAtomically(done, "saved again"));
  EXPECT_EQ(watch.Check(t0), State::Whole);
  ASSERT_TRUE(watch.LastSeen());
  EXPECT_NE(watch.LastSeen()->id, first.id) << "the newcomer is the one judged";

  // A rename told by the change source, into another folder.
  const std::string sub = JoinPath(dir.Path(), "sub");
  std::filesystem::create_directory(PathFromUtf8(sub));
  std::filesystem::rename(PathFromUtf8(done), PathFromUtf8(JoinPath(sub, "report.pdf")));
  EXPECT_EQ(watch.Check(t0), State::BeingWritten) << "out of sight: not yet taken as removed";
  EXPECT_TRUE(watch.Follow(done, JoinPath(sub, "report.pdf")));
  EXPECT_EQ(watch.Check(t0), State::Whole);

  std::filesystem::remove(PathFromUtf8(JoinPath(sub, "report.pdf")));
  EXPECT_EQ(watch.Check(t0), State::BeingWritten);
  EXPECT_EQ(watch.Check(t0 + timing::kSteady - 1ms), State::BeingWritten);
  EXPECT_EQ(watch.Check(t0 + timing::kSteady), State::Gone);

  WholeFileWatch never(JoinPath(dir.Path(), "never-there"));
  EXPECT_EQ(never.Check(t0), State::Whole) << "never seen: the action tells what it finds";
}

// Ten minutes of a writer, on the queue's own clock: the file is told about
// once, still waited for, and acted on when whole.
TEST(WholeFileWatchTest, AFileWrittenForLongIsToldOnceAndStillWaitedFor) {
  TestDir dir;
  const std::string in = JoinPath(dir.Path(), "in"), out = JoinPath(dir.Path(), "out");
  std::filesystem::create_directory(PathFromUtf8(in));
  std::filesystem::create_directory(PathFromUtf8(out));
  const std::string path = JoinPath(in, "big.iso");
  auto writer = std::make_unique<std::ofstream>(PathFromUtf8(path), std::ios::binary);
  *writer << "part" << std::flush;

  ManualClock clock;
  std::mutex mutex;
  std::vector<std::string> notices;
  ActionQueue queue(ActionOutputs{{}, {}, [&](const std::string& type, const std::string& text) {
                                    std::lock_guard lock(mutex);
                                    notices.push_back(type + "/" + text);
                                  }},
                    clock);
  const MonitorRule rule{"新建文件", in, "【复制文件】" + out, true};
  queue.Submit(ActionJob{path, EventKind::FileCreated, "big.iso", {}, false, {rule}});
  queue.WaitIdle();
  ASSERT_EQ(queue.WaitingCount(), 1u);
  auto looked = [&](std::uint64_t after) {
    for (int i = 0; i < 2500 && queue.LooksAtWaiting() <= after; ++i) std::this_thread::sleep_for(2ms);
    return queue.LooksAtWaiting() > after;
  };
  auto told = [&] {
    std::lock_guard lock(mutex);
    return notices;
  };
  // Just short of the time, then past it, then long past it.
  for (const auto& [by, count] : std::vector<std::pair<Clock::duration, std::size_t>>{
           {timing::kLongWrite - timing::kRecheck, 0}, {2 * timing::kRecheck, 1}, {timing::kLongWrite, 1}}) {
    const std::uint64_t before = queue.LooksAtWaiting();
    clock.Advance(by);
    ASSERT_TRUE(looked(before));
    EXPECT_EQ(told().size(), count) << "after " << std::chrono::duration_cast<std::chrono::seconds>(by).count() << " s";
  }
  ASSERT_FALSE(told().empty());
  EXPECT_EQ(told()[0], "仍在写入/文件已被写入超过 10 分钟, 写完后再执行规则: " + path);
  EXPECT_TRUE(std::filesystem::is_empty(PathFromUtf8(out))) << "still waited for";
  EXPECT_EQ(queue.WaitingCount(), 1u);
  queue.Stop();
  writer.reset();
}

}  // namespace
}  // namespace vantrel
