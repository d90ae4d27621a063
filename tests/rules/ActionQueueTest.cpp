#include "rules/ActionQueue.h"
#include "FileHelpers.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ActionQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(in_);
    fs::create_directories(in_ + "/copies");
  }
  ActionJob Job(const std::string& path, bool ours = false) {
    ActionJob job{path, "新建文件", fs::path(path).filename().string(), {}, ours, {}};
    for (const MonitorRule& rule : rules_)
      if (RuleFires(rule, path, job.eventName)) job.rules.push_back(rule);
    return job;
  }
  std::vector<std::string> Reports() {
    std::lock_guard lock(mutex_);
    return reports_;
  }

  TestDir temp_;
  std::string in_ = temp_.Path() + "/in";
  // A copy rule whose target lies inside its own folder: each copy is a new
  // file there, which must not be copied again.
  RuleList rules_{{"新建文件", in_, "【复制文件】" + in_ + "/copies", true}};
  std::mutex mutex_;
  std::vector<std::string> reports_;
  ActionQueue queue_{ActionOutputs{[this](const std::string& r) {
                                     std::lock_guard lock(mutex_);
                                     reports_.push_back(r);
                                   },
                                   {},
                                   {}}};
};

// The echo of a copy may reach the queue while the copy still runs: it is
// known as ours all the same, because jobs run one after another.
TEST_F(ActionQueueTest, JobsRunInOrderAndTheEchoOfARunningCopyIsOurs) {
  Put(in_ + "/big.bin", std::string(64 << 20, 'b'));
  for (int i = 0; i < 3; ++i) Put(in_ + "/s" + std::to_string(i) + ".txt", std::to_string(i));
  queue_.Submit(Job(in_ + "/big.bin"));
  ActionJob echo = Job(in_ + "/copies/big.bin");
  ASSERT_FALSE(echo.rules.empty()) << "the copy's folder lies inside the rule's";
  EXPECT_TRUE(queue_.Wanted(echo));
  queue_.Submit(std::move(echo));
  for (int i = 0; i < 3; ++i) queue_.Submit(Job(in_ + "/s" + std::to_string(i) + ".txt"));
  queue_.WaitIdle();

  const std::vector<std::string> expected{"复制文件】" + in_ + "/copies/big.bin", "复制文件】" + in_ + "/copies/s0.txt",
                                          "复制文件】" + in_ + "/copies/s1.txt", "复制文件】" + in_ + "/copies/s2.txt"};
  EXPECT_EQ(Reports(), expected);
  EXPECT_EQ(EntriesIn(in_ + "/copies"), 4u) << "no copy of a copy";
  EXPECT_EQ(fs::file_size(in_ + "/copies/big.bin"), std::size_t{64} << 20);
  EXPECT_EQ(queue_.LastActionTarget(), in_ + "/copies");
}

TEST_F(ActionQueueTest, OnlyEventsThatFireARuleOrMayBeOurEchoAreWanted) {
  EXPECT_FALSE(queue_.Wanted(Job(temp_.Path() + "/elsewhere.txt"))) << "no rule, nothing of ours outstanding";
  Put(in_ + "/a.txt", "a");
  queue_.Submit(Job(in_ + "/a.txt"));
  queue_.WaitIdle();
  EXPECT_TRUE(queue_.Wanted(Job(temp_.Path() + "/elsewhere.txt"))) << "the copy's echo may still come";
  // A change made by this very process fires nothing, and its echo memory
  // is used up by the echo itself.
  Put(in_ + "/ours.txt", "o");
  queue_.Submit(Job(in_ + "/ours.txt", true));
  queue_.Submit(Job(in_ + "/copies/a.txt"));
  queue_.WaitIdle();
  EXPECT_EQ(Reports().size(), 1u);
  EXPECT_FALSE(fs::exists(in_ + "/copies/ours.txt"));
}

// A download in progress is not refused: its job waits aside while later
// jobs go on, and acts once, on the whole file, when the writer is done.
TEST_F(ActionQueueTest, AFileStillBeingWrittenIsActedOnOnceWhenWhole) {
  const std::string out = temp_.Path() + "/out";
  fs::create_directories(out);
  rules_ = {{"新建文件", in_, "【复制文件】" + out, true}};
  int writer = ::open((in_ + "/dl.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::write(writer, "first ", 6), 6);
  Put(in_ + "/other.txt", "other");
  queue_.Submit(Job(in_ + "/dl.bin"));
  queue_.Submit(Job(in_ + "/other.txt"));
  queue_.WaitIdle();
  EXPECT_EQ(Read(out + "/other.txt"), "other") << "a later job went on meanwhile";
  EXPECT_FALSE(fs::exists(out + "/dl.bin"));
  ASSERT_FALSE(Reports().empty());
  EXPECT_EQ(Reports()[0], "等待写入完成】" + in_ + "/dl.bin") << "the list shows that it waits";

  queue_.Submit(Job(in_ + "/dl.bin"));  // the writer's close, say: nothing of its own
  queue_.WaitIdle();
  std::this_thread::sleep_for(2 * ActionQueue::kRecheck);
  EXPECT_FALSE(fs::exists(out + "/dl.bin")) << "still being written";
  ASSERT_EQ(::write(writer, "second", 6), 6);
  ::close(writer);
  for (int i = 0; i < 100 && !fs::exists(out + "/dl.bin"); ++i) std::this_thread::sleep_for(50ms);
  std::this_thread::sleep_for(2 * ActionQueue::kRecheck);
  EXPECT_EQ(Read(out + "/dl.bin"), "first second");
  EXPECT_EQ(EntriesIn(out), 2u) << "acted on once";
}

// Where the kernel grants no lease (the file is someone else's), a file is
// whole once it has stayed unchanged for a while.
TEST(WholeFileWatchTest, WithoutALeaseAFileIsWholeOnceSteady) {
  TestDir temp;
  ASSERT_EQ(::chmod(temp.Path().c_str(), 0755), 0);
  const std::string path = temp.Path() + "/slow.bin";
  int writer = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(writer, 0);
  int answers[2];
  ASSERT_EQ(::pipe(answers), 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t child = ::fork();
  if (child == 0) {
    // Not the owner and without the right to leases: nothing to ask the kernel.
    if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) ::_exit(2);
    WholeFileWatch watch(path);
    for (int i = 0; i < 100; ++i) {
      if (watch.Check() == WholeFileWatch::State::Whole) {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        [[maybe_unused]] ssize_t n = ::write(answers[1], &ms, sizeof ms);
        ::_exit(0);
      }
      std::this_thread::sleep_for(100ms);
    }
    ::_exit(1);
  }
  ::close(answers[1]);
  for (int chunk = 0; chunk < 5; ++chunk) {
    ASSERT_EQ(::write(writer, "chunk", 5), 5);
    std::this_thread::sleep_for(400ms);
  }
  const auto lastWrite = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count() - 400;
  ::close(writer);
  long long wholeAt = -1;
  ASSERT_EQ(::read(answers[0], &wholeAt, sizeof wholeAt), static_cast<ssize_t>(sizeof wholeAt)) << "never whole";
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_GE(wholeAt, lastWrite + 1900) << "whole only after two steady seconds";
  EXPECT_LE(wholeAt, lastWrite + 3500);
}

// Quitting does not wait for a large copy: it is given up at once and
// leaves nothing, while the source stays whole.
TEST(ActionQueueStop, AQueueEndedDuringALargeCopyGivesItUpAndLeavesNothing) {
  TestDir temp;
  const std::string in = temp.Path() + "/in", out = temp.Path() + "/out";
  fs::create_directories(in);
  fs::create_directories(out);
  const std::size_t size = std::size_t{1} << 30;
  {
    std::FILE* f = std::fopen((in + "/big.bin").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(::ftruncate(::fileno(f), static_cast<off_t>(size)), 0);
    std::fclose(f);
  }
  std::vector<std::string> reports;
  std::mutex mutex;
  ActionQueue queue({[&](const std::string& r) {
                       std::lock_guard lock(mutex);
                       reports.push_back(r);
                     },
                     {},
                     {}});
  RuleList rules{{"新建文件", in, "【复制文件】" + out, true}};
  queue.Submit({in + "/big.bin", "新建文件", "big.bin", {}, false, rules});
  queue.Submit({in + "/second.bin", "新建文件", "second.bin", {}, false, rules});
  // The copy has begun once its target is the last one.
  while (queue.LastActionTarget() != out) std::this_thread::yield();
  queue.Stop();
  queue.Submit({in + "/third.bin", "新建文件", "third.bin", {}, false, rules});
  EXPECT_FALSE(fs::exists(out + "/big.bin")) << "the copy was given up, not finished";
  EXPECT_EQ(EntriesIn(out), 0u) << "nothing half-written stays";
  EXPECT_EQ(fs::file_size(in + "/big.bin"), size);
  ASSERT_EQ(reports.size(), 1u) << "the second job never started";
  EXPECT_NE(reports[0].find("复制文件失败"), std::string::npos) << reports[0];
  std::vector<ActionJob> left = queue.TakeNotDone();
  ASSERT_EQ(left.size(), 2u) << "what never began is kept to be told, also when handed over after the stop";
  EXPECT_EQ(left[0].path, in + "/second.bin");
  EXPECT_EQ(left[1].path, in + "/third.bin");

  // A queue made afterwards copies again.
  Put(in + "/small.txt", "s");
  ActionQueue again({});
  again.Submit({in + "/small.txt", "新建文件", "small.txt", {}, false, {{"新建文件", in, "【复制文件】" + out, true}}});
  again.WaitIdle();
  EXPECT_EQ(Read(out + "/small.txt"), "s");
}

}  // namespace
}  // namespace vantrel
