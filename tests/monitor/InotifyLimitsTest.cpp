// The inotify source at the kernel's limits: a full watch table and an
// overflowing event queue. Both limits are system settings, so these tests
// change them for the moment (as root only) and run alone.
#include "monitor/linux/InotifySource.h"

#include <gtest/gtest.h>

#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Sets a /proc/sys value for the test's duration.
class SysctlOverride {
 public:
  SysctlOverride(std::string path, long value) : path_(std::move(path)) {
    std::ifstream in(path_);
    ok_ = static_cast<bool>(in >> old_);
    if (ok_) ok_ = Write(value);
  }
  ~SysctlOverride() {
    if (ok_) Write(old_);
  }
  bool ok() const { return ok_; }

 private:
  bool Write(long value) {
    std::ofstream out(path_);
    out << value;
    out.flush();
    return static_cast<bool>(out);
  }
  std::string path_;
  long old_ = 0;
  bool ok_ = false;
};

// Watches all of this user's inotify instances hold now.
long WatchesInUse() {
  long count = 0;
  for (const auto& proc : fs::directory_iterator("/proc")) {
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator(proc.path() / "fdinfo", ec)) {
      std::ifstream in(fd.path());
      std::string line;
      while (std::getline(in, line))
        if (line.rfind("inotify wd:", 0) == 0) ++count;
    }
  }
  return count;
}

std::string TempDir() {
  char templ[] = "/tmp/vantrel-limit-XXXXXX";
  return ::mkdtemp(templ);
}

std::vector<SourceReport> WaitForReports(InotifySource& source, std::chrono::milliseconds limit) {
  std::vector<SourceReport> reports;
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    for (auto& r : source.Queue().TakeReports()) reports.push_back(r);
    std::this_thread::sleep_for(20ms);
  }
  return reports;
}

TEST(InotifyLimits, AFullWatchTableIsReportedOnceWithTheSettingToRaise) {
  if (::geteuid() != 0) GTEST_SKIP() << "changing fs.inotify.max_user_watches needs root";
  std::string dir = TempDir();
  for (int i = 0; i < 30; ++i) fs::create_directory(dir + "/d" + std::to_string(i));
  {
    const auto watchLimit = WatchesInUse() + 5;
    SysctlOverride limit("/proc/sys/fs/inotify/max_user_watches", watchLimit);
    if (!limit.ok()) GTEST_SKIP() << "fs.inotify.max_user_watches cannot be changed here";
    InotifySource source;
    std::string why;
    ASSERT_TRUE(source.Start(why)) << why;
    source.SetRoots({dir});
    for (int i = 0; i < 30; ++i) fs::create_directory(dir + "/late" + std::to_string(i));
    auto reports = WaitForReports(source, 1500ms);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, SourceReport::WatchLimit);
    const std::string text = SourceReportText(reports[0]);
    EXPECT_NE(text.find("max_user_watches = " + std::to_string(watchLimit)), std::string::npos) << text;
    EXPECT_NE(text.find("sysctl"), std::string::npos) << text;
    EXPECT_LE(source.WatchCount(), 6u);
    source.Stop();
  }
  fs::remove_all(dir);
}

TEST(InotifyLimits, AnOverflowIsReportedAndFoldersMadeMeanwhileAreWatched) {
  if (::geteuid() != 0) GTEST_SKIP() << "changing fs.inotify.max_queued_events needs root";
  std::string dir = TempDir();
  SysctlOverride queue("/proc/sys/fs/inotify/max_queued_events", 16);
  if (!queue.ok()) GTEST_SKIP() << "fs.inotify.max_queued_events cannot be changed here";
  InotifySource source;  // the limit applies to instances made after it
  std::string why;
  ASSERT_TRUE(source.Start(why)) << why;
  source.SetRoots({dir});
  while (source.WatchCount() < 1) std::this_thread::sleep_for(1ms);
  // A burst far larger than the queue, with a folder made in the middle.
  for (int i = 0; i < 4000; ++i) {
    if (i == 2000) fs::create_directory(dir + "/made-during-burst");
    std::ofstream(dir + "/f" + std::to_string(i)) << "x";
  }
  bool overflowed = false;
  for (auto& r : WaitForReports(source, 1500ms))
    if (r.kind == SourceReport::QueueOverflow) overflowed = true;
  if (!overflowed) GTEST_SKIP() << "the reader kept up with the burst; no overflow to observe";
  std::vector<ChangeNotification> got;
  source.Queue().TakeAll(got);
  got.clear();
  std::ofstream(dir + "/made-during-burst/after.txt") << "y";
  for (int i = 0; i < 300; ++i) {
    source.Queue().TakeAll(got);
    bool seen = false;
    for (auto& n : got) seen |= n.item1 == dir + "/made-during-burst/after.txt";
    if (seen) break;
    std::this_thread::sleep_for(10ms);
  }
  bool seen = false;
  for (auto& n : got) seen |= n.code == SHCNE_CREATE && n.item1 == dir + "/made-during-burst/after.txt";
  EXPECT_TRUE(seen) << "the rescan after the overflow watches the new folder";
  source.Stop();
  fs::remove_all(dir);
}

}  // namespace
}  // namespace vantrel
