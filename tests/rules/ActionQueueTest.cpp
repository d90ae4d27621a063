#include "time/Timing.h"
#include "rules/ActionQueue.h"
#include "FileHelpers.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Gives the queue time until the condition holds; false when it never does.
template <typename F>
bool Until(F done, std::chrono::milliseconds limit = 20s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

class ActionQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(in_);
    fs::create_directories(in_ + "/copies");
  }
  ActionJob Job(const std::string& path, bool ours = false) {
    ActionJob job{path, EventKind::FileCreated, fs::path(path).filename().string(), {}, ours, {}};
    for (const MonitorRule& rule : rules_)
      if (RuleFires(rule, path, job.kind)) job.rules.push_back(rule);
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
  ActionQueue queue_{ActionOutputs{[this](const ActionOutcome& outcome) {
                                     std::lock_guard lock(mutex_);
                                     reports_.push_back(ActionOutcomeText(outcome));
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
  const std::uint64_t looks = queue_.LooksAtWaiting();
  ASSERT_TRUE(Until([&] { return queue_.LooksAtWaiting() >= looks + 2; }));
  EXPECT_FALSE(fs::exists(out + "/dl.bin")) << "still being written";
  EXPECT_EQ(queue_.WaitingCount(), 1u) << "the second event joined the job that waits";
  ASSERT_EQ(::write(writer, "second", 6), 6);
  ::close(writer);
  // Once nothing waits and the queue is idle, nothing more can be done.
  ASSERT_TRUE(Until([&] { return queue_.WaitingCount() == 0; }));
  queue_.WaitIdle();
  EXPECT_EQ(Read(out + "/dl.bin"), "first second");
  EXPECT_EQ(EntriesIn(out), 2u) << "acted on once";
}

// A job waiting for its file keeps the file, not the name: renamed when
// done (a download's ".part"), it is acted on once under its final name;
// replaced by another file, once on that file, whatever other events for
// it come; removed, it ends with a row that says so.
TEST_F(ActionQueueTest, AWaitingJobFollowsItsFileByIdentity) {
  const std::string out = temp_.Path() + "/out";
  fs::create_directories(out);
  rules_ = {{"新建文件", in_, "【复制文件】" + out, true}};
  struct Case {
    const char* what;
    std::string name;
    std::function<void(int writer, const std::string& path)> then;
    std::string copied;  // the one file expected in out, or none
    std::string content;
  };
  const std::vector<Case> cases{
      {"renamed when done", "a.part",
       [&](int writer, const std::string& path) {
         ASSERT_EQ(::write(writer, "second", 6), 6);
         ::close(writer);
         fs::rename(path, in_ + "/a");
       },
       "a", "first second"},
      {"replaced while written", "b.bin",
       [&](int writer, const std::string& path) {
         Put(in_ + "/b.new", "replacement");
         fs::rename(in_ + "/b.new", path);
         ::close(writer);
       },
       "b.bin", "replacement"},
      {"removed", "c.bin",
       [&](int writer, const std::string& path) {
         ::close(writer);
         fs::remove(path);
       },
       "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(out);
    fs::create_directories(out);
    const std::string path = in_ + "/" + c.name;
    int writer = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "first ", 6), 6);
    const std::size_t before = Reports().size();
    queue_.Submit(Job(path));
    queue_.WaitIdle();
    ASSERT_EQ(Reports().size(), before + 1);
    EXPECT_EQ(Reports().back(), "等待写入完成】" + path);
    c.then(writer, path);
    if (c.copied.empty()) {
      ASSERT_TRUE(Until([&] { return Reports().size() > before + 1; }));
      EXPECT_EQ(Reports().back(), "文件已删除, 规则未执行】" + path);
      EXPECT_EQ(EntriesIn(out), 0u);
      continue;
    }
    EXPECT_TRUE(Until([&] { return fs::exists(out + "/" + c.copied); })) << "never acted on";
    // The event of the file that took the name, come after the job acted.
    queue_.Submit(Job(in_ + "/" + c.copied));
    queue_.WaitIdle();
    EXPECT_EQ(Read(out + "/" + c.copied), c.content);
    EXPECT_EQ(EntriesIn(out), 1u) << "acted on once";
    EXPECT_EQ(Reports().back(), "复制文件】" + out + "/" + c.copied);
  }
}

// A writer that holds a write lease refuses every open that will not wait.
// That refusal means "being written", never "not a file" or a failure: a
// copy waits and is whole, a delete waits until the writer is done.
TEST_F(ActionQueueTest, AWriterHoldingAWriteLeaseIsWaitedForByCopyAndDelete) {
  const std::string out = temp_.Path() + "/out";
  fs::create_directories(out);
  const std::string kept = in_ + "/leased.bin", doomed = in_ + "/doomed.bin";
  rules_ = {{"新建文件", kept, "【复制文件】" + out, true}, {"新建文件", doomed, "【删除文件】", true}};
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t writer = ::fork();
  if (writer == 0) {
    // The lease holder is told of every open with SIGIO; it ignores it and
    // writes on, as a program that holds its lease to the end would.
    ::signal(SIGIO, SIG_IGN);
    int fds[2] = {::open(kept.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644),
                  ::open(doomed.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644)};
    for (int fd : fds)
      if (fd < 0 || ::fcntl(fd, F_SETLEASE, F_WRLCK) != 0) ::_exit(2);
    for (int chunk = 0; chunk < 8; ++chunk) {
      for (int fd : fds) {
        struct stat st {};
        // Deleted while still written: the fault this test is about.
        if (::fstat(fd, &st) != 0 || st.st_nlink == 0) ::_exit(3);
        if (::write(fd, "0123456789", 10) != 10) ::_exit(4);
      }
      if (chunk == 0 && ::write(ready[1], "r", 1) != 1) ::_exit(5);
      ::usleep(300 * 1000);
    }
    for (int fd : fds) {
      ::fcntl(fd, F_SETLEASE, F_UNLCK);
      ::close(fd);
    }
    ::_exit(0);
  }
  ::close(ready[1]);
  char r = 0;
  ASSERT_EQ(::read(ready[0], &r, 1), 1) << "the writer could not take its leases";
  queue_.Submit(Job(kept));
  queue_.Submit(Job(doomed));
  int status = 0;
  ASSERT_EQ(::waitpid(writer, &status, 0), writer);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "3: the file was deleted while its writer still wrote it";
  ASSERT_TRUE(Until([&] { return fs::exists(out + "/leased.bin") && !fs::exists(doomed); }));
  std::string written;
  for (int chunk = 0; chunk < 8; ++chunk) written += "0123456789";
  EXPECT_EQ(Read(out + "/leased.bin"), written) << "copied whole, once the writer was done";
  for (const std::string& report : Reports()) EXPECT_EQ(report.find("失败"), std::string::npos) << report;
}

// A download by another user into a shared folder, read by an ordinary
// user: the kernel grants that user no lease, so only steadiness can tell
// that the file is whole. A copy and a move to another file system act on
// the whole file; the move takes the source away only then.
TEST(WholeFileGate, ASharedDownloadIsCopiedAndMovedAcrossFileSystemsOnlyWhole) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  TestDir temp, shm("/dev/shm");
  const std::string in = temp.Path() + "/shared", out = temp.Path() + "/out", away = shm.Path() + "/away";
  for (const std::string& dir : {in, out, away}) fs::create_directories(dir);
  for (const std::string& dir : {temp.Path(), shm.Path(), in, out, away}) ASSERT_EQ(::chmod(dir.c_str(), 0777), 0);
  const std::string copied = in + "/c.bin", moved = in + "/m.bin";
  std::string whole;
  for (int chunk = 0; chunk < 8; ++chunk) whole += std::string(100000, static_cast<char>('a' + chunk));
  int writers[2] = {::open(copied.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
                    ::open(moved.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)};
  for (int fd : writers) ASSERT_EQ(::write(fd, whole.data(), 100000), 100000);
  pid_t reader = ::fork();
  if (reader == 0) {
    if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) ::_exit(2);
    ActionQueue queue({});
    const RuleList rules{{"新建文件", copied, "【复制文件】" + out, true}, {"新建文件", moved, "【移动文件】" + away, true}};
    for (const std::string& path : {copied, moved}) {
      ActionJob job{path, EventKind::FileCreated, fs::path(path).filename().string(), {}, false, {}};
      for (const MonitorRule& rule : rules)
        if (RuleFires(rule, path, job.kind)) job.rules.push_back(rule);
      queue.Submit(std::move(job));
    }
    const bool done = Until([&] { return fs::exists(out + "/c.bin") && fs::exists(away + "/m.bin"); }, 30s);
    queue.Stop();
    ::_exit(done ? 0 : 1);
  }
  // The rest comes in chunks, each well within the steadiness look's wait.
  for (int chunk = 1; chunk < 8; ++chunk) {
    std::this_thread::sleep_for(400ms);
    for (int fd : writers) ASSERT_EQ(::write(fd, whole.data() + chunk * 100000, 100000), 100000);
  }
  for (int fd : writers) ::close(fd);
  int status = 0;
  ASSERT_EQ(::waitpid(reader, &status, 0), reader);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0) << "the rules never acted";
  EXPECT_EQ(Read(out + "/c.bin"), whole) << "the copy is the whole file";
  EXPECT_EQ(Read(away + "/m.bin"), whole) << "the move carried the whole file";
  EXPECT_FALSE(fs::exists(moved)) << "and took the source away";
}

TEST(GatheredNoticesTest, TheFirstAtOnceThenOneAMinuteWithCounts) {
  using Clock = std::chrono::steady_clock;
  GatheredNotices notices;
  const Clock::time_point t0{std::chrono::hours(1)};
  EXPECT_FALSE(notices.Take(t0)) << "nothing gathered";
  notices.Add(300, "/d/last");
  auto due = notices.Take(t0);
  ASSERT_TRUE(due);
  EXPECT_EQ(due->count, 300u) << "three hundred at once make one notice";
  EXPECT_EQ(due->example, "/d/last");
  notices.Add(1, "/d/a");
  notices.Add(2, "/d/b");
  EXPECT_FALSE(notices.Take(t0 + 59s)) << "within the minute they are gathered";
  due = notices.Take(t0 + 60s);
  ASSERT_TRUE(due);
  EXPECT_EQ(due->count, 3u);
  EXPECT_EQ(due->example, "/d/b");
  EXPECT_FALSE(notices.Take(t0 + 200s)) << "told once";
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
      if (watch.Check(std::chrono::steady_clock::now()) == WholeFileWatch::State::Whole) {
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
  ActionQueue queue({[&](const ActionOutcome& outcome) {
                       std::lock_guard lock(mutex);
                       reports.push_back(ActionOutcomeText(outcome));
                     },
                     {},
                     {}});
  RuleList rules{{"新建文件", in, "【复制文件】" + out, true}};
  queue.Submit({in + "/big.bin", EventKind::FileCreated, "big.bin", {}, false, rules});
  queue.Submit({in + "/second.bin", EventKind::FileCreated, "second.bin", {}, false, rules});
  // The copy has begun once its target is the last one.
  while (queue.LastActionTarget() != out) std::this_thread::yield();
  queue.Stop();
  queue.Submit({in + "/third.bin", EventKind::FileCreated, "third.bin", {}, false, rules});
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
  again.Submit({in + "/small.txt", EventKind::FileCreated, "small.txt", {}, false, {{"新建文件", in, "【复制文件】" + out, true}}});
  again.WaitIdle();
  EXPECT_EQ(Read(out + "/small.txt"), "s");
}

}  // namespace
}  // namespace vantrel
