// The program's side of the watch helper's pipe. Stand-in helpers say what
// a broken or hostile helper might; none of it may crash the program, hang
// it or pass for a change, and the real helper without its capabilities is
// not taken.
#include "time/Timing.h"
#include "platform/linux/PosixFile.h"
#include "monitor/linux/HelperRecords.h"
#include "monitor/linux/HelperSource.h"

#include "../TestDir.h"
#include "text/AtomicFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

class HelperSourceTest : public ::testing::Test {
 protected:
  // A helper that writes these bytes (kept beside it, in NAME.bytes) and
  // then does what `then` says.
  std::string FakeHelper(const std::string& bytes, const std::string& then = "exit 0") {
    const std::string script = dir_.Path() + "/helper" + std::to_string(++made_);
    const std::string data = script + ".bytes";
    EXPECT_TRUE(WriteFileAtomically(data, bytes));
    EXPECT_TRUE(WriteFileAtomically(script, "#!/bin/sh\n/bin/cat '" + data + "'\n" + then + "\n"));
    ::chmod(script.c_str(), 0755);
    return script;
  }

  static std::string Ready() {
    std::string s;
    AppendReadyRecord(s);
    return s;
  }

  // What reaches the program until a report comes or the time is up.
  void Collect(ChangeSource& source, std::chrono::milliseconds limit = 3000ms) {
    Collect(source, [&] { return !reports_.empty(); }, limit);
  }
  template <typename Done>
  void Collect(ChangeSource& source, Done done, std::chrono::milliseconds limit = 5000ms) {
    auto end = Steady::now() + limit;
    while (!done() && Steady::now() < end) {
      pollfd p{source.Queue().ReadyHandle(), POLLIN, 0};
      ::poll(&p, 1, 20);
      source.Queue().TakeAll(got_);
      for (auto& r : source.Queue().TakeReports()) reports_.push_back(r);
    }
  }
  bool Told(std::string_view words) const {
    return std::any_of(reports_.begin(), reports_.end(),
                       [&](const SourceReport& r) { return r.detail.find(words) != std::string::npos; });
  }
  bool Listed(const std::string& path) const {
    return std::any_of(got_.begin(), got_.end(), [&](const ChangeNotification& n) { return n.item1 == path; });
  }
  std::string Reports() const {
    std::string all;
    for (const SourceReport& r : reports_) all += r.detail + "\n";
    return all;
  }

  TestDir dir_;
  int made_ = 0;
  std::vector<ChangeNotification> got_;
  std::vector<SourceReport> reports_;
};

TEST_F(HelperSourceTest, AHelperThatCannotWatchIsNotTakenAndSaysWhy) {
  std::string failed;
  AppendFailedRecord(failed, "lacks CAP_SYS_ADMIN");
  std::string truncated = Ready().substr(0, 3);
  struct Case {
    std::string helper;
    const char* said;
  };
  const std::vector<Case> cases = {
      {FakeHelper(failed), "lacks CAP_SYS_ADMIN"},
      {FakeHelper(""), "without a word"},
      {FakeHelper(truncated), "without a word"},
      {FakeHelper("\xff\xff\xff\xff"), "record length"},
      {FakeHelper(std::string("\x05\x00\x00\x00\x09zzzz", 9)), "unknown record type"},
      {dir_.Path() + "/missing", "No such file"},
      {"vantrel-watch-helper", "folder is unknown"},
  };
  for (const Case& c : cases) {
    HelperSource source(c.helper);
    std::string why;
    auto start = Steady::now();
    EXPECT_FALSE(source.Start(why)) << c.helper;
    EXPECT_NE(why.find(c.said), std::string::npos) << why;
    EXPECT_LT(Steady::now() - start, 2s) << "a helper that ended is not waited for";
  }
}

TEST_F(HelperSourceTest, AHelperThatNeverAnswersIsGivenUpAfterItsTime) {
  HelperSource source(FakeHelper("", "exec /bin/sleep 60"), 500);
  std::string why;
  auto start = Steady::now();
  EXPECT_FALSE(source.Start(why));
  EXPECT_NE(why.find("no answer"), std::string::npos) << why;
  EXPECT_LT(Steady::now() - start, 3s);
}

TEST_F(HelperSourceTest, AHelperThatEndsStopsAnsweringOrSaysSomethingMalformedIsToldAndStartedAgain) {
  std::string change;
  RawChange gone;
  gone.kind = RawChange::Delete;
  gone.path = "/tmp/gone.txt";
  AppendChangeRecord(change, gone);
  struct Case {
    std::string after;  // what follows the ready record and one change
    const char* said;
    std::string then = "exec /bin/sleep 60";  // a helper that went on would never be reaped
  };
  const std::vector<Case> cases = {
      {"", "已退出 (退出码 3)", "exit 3"},
      {change.substr(0, 9), "已退出", "exit 0"},
      {"\xff\xff\xff\x7f", "无法解读"},
      // A path said to be 16 bytes long in a record that holds two.
      {std::string("\x0d\x00\x00\x00\x03\x04\x00", 7) + std::string(4, '\0') + std::string("\x10\x00\x00\x00/a", 6),
       "无法解读"},
      {Ready(), "无法解读"},
      // Stopped, or stuck: not even its sign of life comes.
      {"", "没有应答"},
  };
  for (const Case& c : cases) {
    got_.clear();
    reports_.clear();
    HelperSource source(FakeHelper(Ready() + change + c.after, c.then), 10000, 600);
    std::string why;
    ASSERT_TRUE(source.Start(why)) << why;
    // Each helper started tells the change once: a second one is the proof
    // that the source started it again.
    Collect(source, [&] { return got_.size() >= 2 && Told("已重新启动"); });
    ASSERT_GE(got_.size(), 2u) << c.said;
    EXPECT_EQ(got_[0].code, SHCNE_DELETE);
    EXPECT_EQ(got_[0].item1, "/tmp/gone.txt");
    ASSERT_FALSE(reports_.empty()) << c.said;
    EXPECT_EQ(reports_[0].kind, SourceReport::WatchChanged);
    EXPECT_NE(reports_[0].detail.find(c.said), std::string::npos) << reports_[0].detail;
    EXPECT_TRUE(Told("已重新启动")) << c.said;
    auto stop = Steady::now();
    source.Stop();
    EXPECT_LT(Steady::now() - stop, 2s);
  }
}

TEST_F(HelperSourceTest, WhileTheHelperCannotStartInotifyStandsInUntilItCanAgain) {
  // The first start works, then it ends; the next ones fail until the
  // switch file goes.
  const std::string blocked = dir_.Path() + "/blocked";
  std::string failed;
  AppendFailedRecord(failed, "cannot for now");
  const std::string helper = dir_.Path() + "/switched";
  ASSERT_TRUE(WriteFileAtomically(helper, "#!/bin/sh\nif [ -e '" + blocked + "' ]; then /bin/cat '" + FakeHelper(failed) +
                                              "'.bytes; exit 0; fi\n/bin/cat '" + FakeHelper(Ready()) + "'.bytes\ntouch '" +
                                              blocked + "'\n"));
  ::chmod(helper.c_str(), 0755);
  const std::string watched = dir_.Path() + "/watched";
  ASSERT_EQ(::mkdir(watched.c_str(), 0755), 0);
  HelperSource source(helper);
  source.SetRoots({watched});
  std::string why;
  ASSERT_TRUE(source.Start(why)) << why;
  Collect(source, [&] { return Told("cannot for now"); });
  ASSERT_TRUE(Told("其间由 inotify 监控")) << Reports();
  // The stand-in sees what the helper would have.
  ASSERT_TRUE(WriteFileAtomically(watched + "/seen.txt", "x"));
  Collect(source, [&] { return Listed(watched + "/seen.txt"); });
  EXPECT_TRUE(Listed(watched + "/seen.txt")) << Reports();
  // Back once the helper starts again; the retry comes within its first pause.
  ::unlink(blocked.c_str());
  Collect(source, [&] { return Told("全盘监控已恢复"); }, std::chrono::milliseconds(timing::kHelperFirstRetry.count() * 4));
  EXPECT_TRUE(Told("inotify 停止代替")) << Reports();
  source.Stop();
}
// The shared service's side as the program meets it: a socket that answers
// each connection with the records a test gives, then closes or stays.
class FakeService {
 public:
  FakeService(const std::string& path, std::vector<std::string> answers) : answers_(std::move(answers)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listen_, 8), 0);
    thread_ = std::thread([this] {
      // The last answer is given to every connection after it, which stays.
      for (std::size_t i = 0;; ++i) {
        int fd = ::accept(listen_, nullptr, nullptr);
        if (fd < 0) return;
        const std::string& answer = answers_[std::min(i, answers_.size() - 1)];
        [[maybe_unused]] bool sent = WriteAllBytes(fd, answer);
        if (i + 1 < answers_.size()) {
          ::close(fd);
        } else {
          kept_.push_back(fd);
        }
      }
    });
  }
  ~FakeService() {
    ::shutdown(listen_, SHUT_RDWR);
    thread_.join();
    ::close(listen_);
    for (int fd : kept_) ::close(fd);
  }

 private:
  std::vector<std::string> answers_;
  int listen_ = -1;
  std::vector<int> kept_;
  std::thread thread_;
};

TEST_F(HelperSourceTest, TheServiceIsConnectedToAgainWhenItGoesAndARefusalSaysWhy) {
  std::string change, alive, refused;
  // A removal is told at once; a creation would wait for its writer.
  RawChange removed;
  removed.kind = RawChange::Delete;
  removed.path = "/tmp/served.txt";
  AppendChangeRecord(change, removed);
  AppendAliveRecord(alive);
  AppendFailedRecord(refused, "this user already has 4 connections");
  {
    const std::string path = dir_.Path() + "/refusing.sock";
    FakeService service(path, {refused});
    std::string why;
    EXPECT_FALSE(HelperSource::Service(path)->Start(why));
    EXPECT_NE(why.find("already has 4 connections"), std::string::npos) << why;
    EXPECT_FALSE(HelperSource::Service(dir_.Path() + "/none.sock")->Start(why));
    EXPECT_NE(why.find("No such file"), std::string::npos) << why;
  }
  const std::string watched = dir_.Path() + "/watched";
  ASSERT_EQ(::mkdir(watched.c_str(), 0755), 0);
  const std::string path = dir_.Path() + "/watch.sock";
  // The first connection tells a change and ends; the next stays.
  FakeService service(path, {Ready() + change, Ready() + alive});
  auto source = HelperSource::Service(path);
  source->SetRoots({watched});
  std::string why;
  ASSERT_TRUE(source->Start(why)) << why;
  EXPECT_STREQ(source->Name(), "fanotify (service)");
  Collect(*source, [&] { return Told("已重新连上") && Listed("/tmp/served.txt"); },
          std::chrono::milliseconds(timing::kHelperFirstRetry.count() * 4));
  EXPECT_TRUE(Listed("/tmp/served.txt"));
  EXPECT_TRUE(Told("监控服务已退出")) << Reports();
  EXPECT_TRUE(Told("其间由 inotify 监控")) << Reports();
  EXPECT_TRUE(Told("已重新连上")) << Reports();
  source->Stop();
}

TEST_F(HelperSourceTest, StoppingEndsAHelperThatStillRuns) {
  HelperSource source(FakeHelper(Ready(), "exec /bin/sleep 60"));
  std::string why;
  ASSERT_TRUE(source.Start(why)) << why;
  auto stop = Steady::now();
  source.Stop();
  EXPECT_LT(Steady::now() - stop, 2s);
  Collect(source, 200ms);
  EXPECT_TRUE(reports_.empty()) << "a stop asked for is no loss";
}

TEST_F(HelperSourceTest, TheRealHelperRunByAnOrdinaryUserWithoutItsCapabilitiesIsNotTaken) {
  if (::getuid() != 0) GTEST_SKIP() << "needs root to become another user";
  char caps[64];
  if (::getxattr(VANTREL_WATCH_HELPER, "security.capability", caps, sizeof caps) >= 0)
    GTEST_SKIP() << "this build's helper has been given its capabilities";
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  pid_t child = ::fork();
  if (child == 0) {
    ::close(out[0]);
    if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
      ::_exit(3);
    HelperSource source(VANTREL_WATCH_HELPER);
    std::string why;
    bool started = source.Start(why);
    why = (started ? "started " : "refused ") + why;
    [[maybe_unused]] ssize_t n = ::write(out[1], why.data(), why.size());
    ::_exit(0);
  }
  ::close(out[1]);
  std::string said;
  char buf[512];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) said.append(buf, static_cast<std::size_t>(n));
  ::close(out[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  if (said.find("Permission denied") != std::string::npos) GTEST_SKIP() << "the build is out of that user's reach: " << said;
  EXPECT_EQ(said.rfind("refused ", 0), 0u) << said;
  EXPECT_NE(said.find("CAP_SYS_ADMIN"), std::string::npos) << said;
}

}  // namespace
}  // namespace vantrel
