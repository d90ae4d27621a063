// The kernel-backed change sources against real temporary directories:
// inotify, fanotify in this process, and fanotify through the watch helper.
#include "monitor/ChangeSource.h"
#include "monitor/linux/FanotifySource.h"
#include "monitor/linux/HelperSource.h"
#include "monitor/linux/InotifySource.h"
#include "text/AtomicFile.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <limits.h>
#include <map>
#include <poll.h>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

void WriteFile(const std::string& path, const std::string& content) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
  ::close(fd);
}

std::string MakeTempDir(const char* base) {
  std::string templ = std::string(base) + "/vantrel-test-XXXXXX";
  char* made = ::mkdtemp(templ.data());
  return made ? std::string(made) : std::string();
}

enum class Backend { Inotify, Fanotify, Helper };

class ChangeSourceTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("/tmp");
    outside_ = MakeTempDir("/tmp");
    ASSERT_FALSE(dir_.empty());
    fs::create_directory(dir_ + "/pre");
    WriteFile(dir_ + "/pre/existing.txt", "old");
    // A tree the source has never seen made: its folders' handles are known
    // to it only once they are gone.
    for (int d = 1; d <= 3; ++d) {
      for (int e = 1; e <= 3; ++e) {
        std::string folder = dir_ + "/old/d" + std::to_string(d) + "/e" + std::to_string(e);
        fs::create_directories(folder);
        for (int f = 1; f <= 4; ++f) WriteFile(folder + "/f" + std::to_string(f), "x");
      }
    }
    WriteFile(outside_ + "/incoming.txt", "from outside");
    if (GetParam() == Backend::Fanotify) {
      source_ = std::make_unique<FanotifySource>();
    } else if (GetParam() == Backend::Helper) {
      source_ = std::make_unique<HelperSource>(VANTREL_WATCH_HELPER);
    } else {
      source_ = std::make_unique<InotifySource>();
      source_->SetRoots({dir_});
    }
    std::string why;
    if (!source_->Start(why)) {
      if (GetParam() == Backend::Fanotify) GTEST_SKIP() << "fanotify cannot run in this process: " << why;
      if (GetParam() == Backend::Helper)
        GTEST_SKIP() << "the watch helper cannot run here (it needs its capabilities, or root): " << why;
      FAIL() << why;
    }
    if (auto* inotify = dynamic_cast<InotifySource*>(source_.get())) WaitFor([&] { return inotify->WatchCount() >= 2; });
  }

  void TearDown() override {
    if (source_) source_->Stop();
    std::error_code ec;
    fs::remove_all(dir_, ec);
    fs::remove_all(outside_, ec);
  }

  // Whole file systems are watched.
  bool Fanotify() const { return GetParam() != Backend::Inotify; }

  static void WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
    auto end = Steady::now() + limit;
    while (!done() && Steady::now() < end) std::this_thread::sleep_for(5ms);
  }

  // Notifications about our two folders, gathered until done() holds or the
  // time runs out.
  void Collect(const std::function<bool()>& done, std::chrono::milliseconds limit = 8000ms) {
    auto end = Steady::now() + limit;
    while (!done() && Steady::now() < end) {
      pollfd p{source_->Queue().ReadyHandle(), POLLIN, 0};
      ::poll(&p, 1, 20);
      std::vector<ChangeNotification> batch;
      source_->Queue().TakeAll(batch);
      for (SourceReport& r : source_->Queue().TakeReports()) reports_.push_back(std::move(r));
      for (auto& n : batch) {
        auto mine = [&](const std::optional<std::string>& item) {
          return item && (item->rfind(dir_, 0) == 0 || item->rfind(outside_, 0) == 0);
        };
        if (n.item1 && n.item1->rfind(dir_ + "/.mark-", 0) == 0) {
          marks_.push_back(std::move(n));
        } else if (mine(n.item1) || mine(n.item2)) {
          got_.push_back(std::move(n));
        }
      }
    }
  }

  // Waits until the source has read everything done so far: a file made and
  // closed now is told at once, after whatever came before it. Marks are
  // kept apart from what the tests look at.
  std::string Caught() {
    const std::string mark = dir_ + "/.mark-" + std::to_string(marksMade_++);
    WriteFile(mark, "m");
    Collect([&] { return Marked(SHCNE_CREATE, mark); });
    EXPECT_TRUE(Marked(SHCNE_CREATE, mark)) << "the source never told a mark" << Describe();
    return mark;
  }
  // ... and until the write tracker has also told everything it held: a
  // mark written again and left open is told after the tracker's quiet,
  // later than anything held from before it.
  void Settled() {
    const std::string mark = Caught();
    const int fd = ::open(mark.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "m", 1), 1);
    Collect([&] { return Marked(SHCNE_UPDATEITEM, mark); });
    ::close(fd);
    EXPECT_TRUE(Marked(SHCNE_UPDATEITEM, mark)) << "the source never told a mark's update" << Describe();
  }
  bool Marked(std::uint32_t code, const std::string& mark) const {
    return std::any_of(marks_.begin(), marks_.end(), [&](const auto& n) { return n.code == code && n.item1 == mark; });
  }

  // Waits for the notification and a little longer, so that duplicates show.
  void Expect(std::uint32_t code, const std::string& item1, const std::optional<std::string>& item2 = std::nullopt) {
    Collect([&] { return Count(code, item1, item2) > 0; });
    EXPECT_EQ(Count(code, item1, item2), 1u) << Describe();
  }

  std::size_t Count(std::uint32_t code, const std::string& item1,
                    const std::optional<std::string>& item2 = std::nullopt) const {
    std::size_t n = 0;
    for (const auto& c : got_)
      if (c.code == code && c.item1 == item1 && (!item2 || c.item2 == item2)) ++n;
    return n;
  }

  std::size_t Index(std::uint32_t code, const std::string& item1) const {
    for (std::size_t i = 0; i < got_.size(); ++i)
      if (got_[i].code == code && got_[i].item1 == item1) return i;
    return got_.size();
  }

  std::string Describe() const {
    std::string out = "\nseen:";
    for (const auto& c : got_) {
      char code[16];
      std::snprintf(code, sizeof code, "%#x", c.code);
      out += std::string("\n  ") + code + " " + c.item1.value_or("-") + " " + c.item2.value_or("");
    }
    // A loss or a turn in the source explains what is missing.
    for (const SourceReport& r : reports_) out += "\nreported: " + SourceReportText(r);
    return out;
  }

  std::string dir_, outside_;
  std::size_t Reported(SourceReport::Kind kind) const {
    std::size_t n = 0;
    for (const auto& r : reports_)
      if (r.kind == kind) n += r.count;
    return n;
  }

  std::unique_ptr<ChangeSource> source_;
  std::vector<ChangeNotification> got_, marks_;
  int marksMade_ = 0;
  std::vector<SourceReport> reports_;
};

TEST_P(ChangeSourceTest, NewFileIsReportedOnceItsWriterClosesIt) {
  std::string path = dir_ + "/new.txt";
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "part one ", 9), 9);
  // A file made after it and closed at once is told at once; had the new
  // file not been held for its writer, it would have been told before.
  Caught();
  EXPECT_EQ(Count(SHCNE_CREATE, path), 0u) << "reported while still being written" << Describe();
  ASSERT_EQ(::write(fd, "part two", 8), 8);
  ::close(fd);
  Expect(SHCNE_CREATE, path);
  Settled();
  EXPECT_EQ(Count(SHCNE_UPDATEITEM, path), 0u) << "the creating writes are part of the create" << Describe();
}

TEST_P(ChangeSourceTest, FileLeftOpenIsReportedAfterASecondOfQuietOrFiveSecondsOfWriting) {
  std::string quiet = dir_ + "/quiet.txt";
  std::string busy = dir_ + "/busy.txt";
  // Timed from before the files are made: their holds begin with the
  // creations, and a busy machine may pause this thread between the two.
  auto start = Steady::now();
  int q = ::open(quiet.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  int b = ::open(busy.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(q, 0);
  ASSERT_GE(b, 0);
  ASSERT_EQ(::write(q, "x", 1), 1);
  std::optional<double> quietAt, busyAt;
  while (Steady::now() - start < 7s && !(quietAt && busyAt)) {
    ASSERT_EQ(::write(b, "y", 1), 1);
    Collect([] { return false; }, 150ms);
    double t = std::chrono::duration<double>(Steady::now() - start).count();
    if (!quietAt && Count(SHCNE_CREATE, quiet)) quietAt = t;
    if (!busyAt && Count(SHCNE_CREATE, busy)) busyAt = t;
  }
  ::close(q);
  ::close(b);
  ASSERT_TRUE(quietAt && busyAt) << Describe();
  EXPECT_GE(*quietAt, 0.9);
  EXPECT_LT(*quietAt, 2.5);
  EXPECT_GE(*busyAt, 4.9);
  EXPECT_LT(*busyAt, 6.5);
}

TEST_P(ChangeSourceTest, ATreeFarDeeperThanAPathRemovedAtOnceLeavesTheSourceStanding) {
  if (!Fanotify()) GTEST_SKIP() << "inotify watches per folder: the depth costs it watches, not a stack";
  // Each folder made inside the last, through the one before: deeper than
  // any path names. Removed at once, every folder's events wait for their
  // parent's removal, and the top one's tells them all.
  const std::string top = dir_ + "/deep";
  ASSERT_EQ(::mkdir(top.c_str(), 0755), 0);
  int fd = ::open(top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  for (int i = 0; i < 30000 && fd >= 0; ++i) {
    ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
    int next = ::openat(fd, "d", O_PATH | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = next;
  }
  ASSERT_GE(fd, 0);
  ::close(fd);
  ASSERT_EQ(std::system(("rm -rf '" + top + "'").c_str()), 0);
  Collect([&] { return Count(SHCNE_RMDIR, top) > 0; }, 60000ms);
  EXPECT_EQ(Count(SHCNE_RMDIR, top), 1u) << Describe();
  EXPECT_EQ(Reported(SourceReport::WatchChanged), 0u) << "the helper ended on the way" << Describe();
}

TEST_P(ChangeSourceTest, RemovingATreeMadeBeforeStartListsEveryDeletion) {
  if (auto* inotify = dynamic_cast<InotifySource*>(source_.get())) WaitFor([&] { return inotify->WatchCount() >= 15; });
  std::vector<std::string> files, folders{dir_ + "/old"};
  for (int d = 1; d <= 3; ++d) {
    folders.push_back(dir_ + "/old/d" + std::to_string(d));
    for (int e = 1; e <= 3; ++e) {
      folders.push_back(folders.back().substr(0, folders.back().rfind("/d")) + "/d" + std::to_string(d) + "/e" +
                        std::to_string(e));
      for (int f = 1; f <= 4; ++f) files.push_back(folders.back() + "/f" + std::to_string(f));
    }
  }
  ASSERT_EQ(std::system(("rm -rf '" + dir_ + "/old'").c_str()), 0);
  auto all = [&] {
    for (const auto& f : files)
      if (!Count(SHCNE_DELETE, f)) return false;
    for (const auto& d : folders)
      if (!Count(SHCNE_RMDIR, d)) return false;
    return true;
  };
  Collect(all);
  for (const auto& f : files) EXPECT_EQ(Count(SHCNE_DELETE, f), 1u) << f << Describe();
  for (const auto& d : folders) EXPECT_EQ(Count(SHCNE_RMDIR, d), 1u) << d;
  // Every file went before its folder.
  for (const auto& f : files) EXPECT_LT(Index(SHCNE_DELETE, f), Index(SHCNE_RMDIR, f.substr(0, f.rfind('/'))));
}

TEST_P(ChangeSourceTest, AFileWrittenUnnamedAndLinkedInIsOneNewFileAndNoPhantom) {
  // How copies are made: written with no name (O_TMPFILE), then linked in.
  int fd = ::open(dir_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
  if (fd < 0) GTEST_SKIP() << "no O_TMPFILE here: " << std::strerror(errno);
  ASSERT_EQ(::write(fd, "whole", 5), 5);
  std::string self = "/proc/self/fd/" + std::to_string(fd);
  ASSERT_EQ(::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, (dir_ + "/copy.txt").c_str(), AT_SYMLINK_FOLLOW), 0);
  ::close(fd);
  Expect(SHCNE_CREATE, dir_ + "/copy.txt");
  Settled();
  EXPECT_EQ(got_.size(), 1u) << Describe();
}

TEST_P(ChangeSourceTest, DeleteUpdateAttributesAndRenameOfFiles) {
  std::string existing = dir_ + "/pre/existing.txt";
  WriteFile(dir_ + "/pre/victim.txt", "v");
  Expect(SHCNE_CREATE, dir_ + "/pre/victim.txt");

  int fd = ::open(existing.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "more", 4), 4);
  ASSERT_EQ(::write(fd, "more", 4), 4);
  ::close(fd);
  Expect(SHCNE_UPDATEITEM, existing);

  ASSERT_EQ(::chmod(existing.c_str(), 0600), 0);
  Expect(SHCNE_ATTRIBUTES, existing);

  ASSERT_EQ(::unlink((dir_ + "/pre/victim.txt").c_str()), 0);
  Expect(SHCNE_DELETE, dir_ + "/pre/victim.txt");

  ASSERT_EQ(::rename(existing.c_str(), (dir_ + "/pre/renamed.txt").c_str()), 0);
  Expect(SHCNE_RENAMEITEM, existing, dir_ + "/pre/renamed.txt");

  fs::create_directory(dir_ + "/sub");
  Expect(SHCNE_MKDIR, dir_ + "/sub");
  ASSERT_EQ(::rename((dir_ + "/pre/renamed.txt").c_str(), (dir_ + "/sub/moved.txt").c_str()), 0);
  Expect(SHCNE_RENAMEITEM, dir_ + "/pre/renamed.txt", dir_ + "/sub/moved.txt");

  ASSERT_EQ(::rmdir((dir_ + "/pre").c_str()), 0);
  Expect(SHCNE_RMDIR, dir_ + "/pre");
}

TEST_P(ChangeSourceTest, MovesIntoAndOutOfTheWatchedFolder) {
  std::string in = dir_ + "/incoming.txt";
  ASSERT_EQ(::rename((outside_ + "/incoming.txt").c_str(), in.c_str()), 0);
  if (Fanotify()) {
    // The whole file system is watched: the move is a rename within it.
    Expect(SHCNE_RENAMEITEM, outside_ + "/incoming.txt", in);
  } else {
    Expect(SHCNE_CREATE, in);
  }
  ASSERT_EQ(::rename(in.c_str(), (outside_ + "/gone.txt").c_str()), 0);
  if (Fanotify()) {
    Expect(SHCNE_RENAMEITEM, in, outside_ + "/gone.txt");
  } else {
    Expect(SHCNE_DELETE, in);
  }
  // Out and straight back in: its going is told before its coming, so that
  // the last word on the place is that the file is there.
  const std::string brief = dir_ + "/brief.txt";
  WriteFile(brief, "b");
  Expect(SHCNE_CREATE, brief);
  ASSERT_EQ(::rename(brief.c_str(), (outside_ + "/brief.txt").c_str()), 0);
  ASSERT_EQ(::rename((outside_ + "/brief.txt").c_str(), brief.c_str()), 0);
  Settled();
  if (!Fanotify()) {
    std::optional<std::size_t> lastDelete, lastCreate;
    for (std::size_t i = 0; i < got_.size(); ++i) {
      if (got_[i].item1 != brief) continue;
      if (got_[i].code == SHCNE_DELETE) lastDelete = i;
      if (got_[i].code == SHCNE_CREATE) lastCreate = i;
    }
    ASSERT_TRUE(lastDelete && lastCreate) << Describe();
    EXPECT_GT(*lastCreate, *lastDelete) << "the file back in its place was last told gone" << Describe();
  }
  // A folder moved out is no longer watched; moved back in, it is again.
  fs::create_directory(dir_ + "/wanderer");
  Expect(SHCNE_MKDIR, dir_ + "/wanderer");
  ASSERT_EQ(::rename((dir_ + "/wanderer").c_str(), (outside_ + "/wanderer").c_str()), 0);
  if (!Fanotify()) {
    Expect(SHCNE_RMDIR, dir_ + "/wanderer");
    WriteFile(outside_ + "/wanderer/unseen.txt", "u");
    ASSERT_EQ(::rename((outside_ + "/wanderer").c_str(), (dir_ + "/back").c_str()), 0);
    Expect(SHCNE_MKDIR, dir_ + "/back");
    WriteFile(dir_ + "/back/seen.txt", "s");
    Expect(SHCNE_CREATE, dir_ + "/back/seen.txt");
    EXPECT_EQ(Count(SHCNE_CREATE, outside_ + "/wanderer/unseen.txt"), 0u) << Describe();
  }
}

TEST_P(ChangeSourceTest, MkdirPFollowedAtOnceByFilesMissesNothing) {
  std::string deep = dir_ + "/a/b/c";
  fs::create_directories(deep);
  std::set<std::string> files;
  for (int i = 0; i < 40; ++i) {
    std::string f = deep + "/f" + std::to_string(i);
    WriteFile(f, "content");
    files.insert(f);
    if (i % 10 == 0) {
      std::string g = dir_ + "/a/b/g" + std::to_string(i);
      WriteFile(g, "content");
      files.insert(g);
    }
  }
  auto all = [&] {
    for (const auto& f : files)
      if (!Count(SHCNE_CREATE, f)) return false;
    return Count(SHCNE_MKDIR, deep) > 0;
  };
  Collect(all);
  Settled();
  for (const auto& d : {dir_ + "/a", dir_ + "/a/b", deep}) EXPECT_EQ(Count(SHCNE_MKDIR, d), 1u) << d << Describe();
  for (const auto& f : files) EXPECT_EQ(Count(SHCNE_CREATE, f), 1u) << f << Describe();
}

TEST_P(ChangeSourceTest, RenamedFolderKeepsReportingUnderItsNewName) {
  fs::create_directories(dir_ + "/old/inner");
  Expect(SHCNE_MKDIR, dir_ + "/old/inner");
  ASSERT_EQ(::rename((dir_ + "/old").c_str(), (dir_ + "/new").c_str()), 0);
  Expect(SHCNE_RENAMEFOLDER, dir_ + "/old", dir_ + "/new");
  WriteFile(dir_ + "/new/inner/after.txt", "a");
  Expect(SHCNE_CREATE, dir_ + "/new/inner/after.txt");
  ASSERT_EQ(::unlink((dir_ + "/new/inner/after.txt").c_str()), 0);
  Expect(SHCNE_DELETE, dir_ + "/new/inner/after.txt");
  ASSERT_EQ(::rmdir((dir_ + "/new/inner").c_str()), 0);
  Expect(SHCNE_RMDIR, dir_ + "/new/inner");
  EXPECT_LT(Index(SHCNE_RENAMEFOLDER, dir_ + "/old"), Index(SHCNE_CREATE, dir_ + "/new/inner/after.txt"));
}

TEST_P(ChangeSourceTest, FileBeingWrittenWhenItsFolderIsRenamedIsReportedUnderTheNewName) {
  fs::create_directory(dir_ + "/d");
  Expect(SHCNE_MKDIR, dir_ + "/d");
  int fd = ::open((dir_ + "/d/slow.txt").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "x", 1), 1);
  // The source has read the file's creation before its folder moves.
  Caught();
  ASSERT_EQ(::rename((dir_ + "/d").c_str(), (dir_ + "/e").c_str()), 0);
  ::close(fd);
  Expect(SHCNE_CREATE, dir_ + "/e/slow.txt");
  EXPECT_EQ(Count(SHCNE_CREATE, dir_ + "/d/slow.txt"), 0u) << Describe();
}

TEST_P(ChangeSourceTest, MountingAFileSystemIsADriveEvent) {
  std::string point = dir_ + "/mnt";
  fs::create_directory(point);
  Collect([&] { return Count(SHCNE_MKDIR, point) > 0; });
  if (::mount("vantrel-test", point.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "this process may not mount file systems: " << std::strerror(errno);
  Expect(SHCNE_DRIVEADD, point);
  if (Fanotify()) {
    // A file system mounted later is watched too.
    WriteFile(point + "/on-new-fs.txt", "n");
    Expect(SHCNE_CREATE, point + "/on-new-fs.txt");
  }
  // Detached: another program watching every file system (a second copy
  // under test, say) may hold the new one open for a moment.
  ASSERT_EQ(::umount2(point.c_str(), MNT_DETACH), 0) << std::strerror(errno);
  Expect(SHCNE_DRIVEREMOVED, point);
}

TEST_P(ChangeSourceTest, OwnTemporariesAreNotListedAndTheirRenamesAreCreationsOrDeletions) {
  // How the program writes: under a temporary name, then renamed into place.
  const std::string temp = dir_ + "/" + OwnTemporaryName();
  WriteFile(temp, "whole content");
  ASSERT_EQ(::chmod(temp.c_str(), 0600), 0);
  ASSERT_EQ(::rename(temp.c_str(), (dir_ + "/placed.txt").c_str()), 0);
  Expect(SHCNE_CREATE, dir_ + "/placed.txt");

  const std::string tempDir = dir_ + "/" + OwnTemporaryName();
  fs::create_directory(tempDir);
  ASSERT_EQ(::rename(tempDir.c_str(), (dir_ + "/placed-dir").c_str()), 0);
  Expect(SHCNE_MKDIR, dir_ + "/placed-dir");

  WriteFile(dir_ + "/replaced.txt", "r");
  Expect(SHCNE_CREATE, dir_ + "/replaced.txt");
  const std::string aside = dir_ + "/" + OwnTemporaryName();
  ASSERT_EQ(::rename((dir_ + "/replaced.txt").c_str(), aside.c_str()), 0);
  Expect(SHCNE_DELETE, dir_ + "/replaced.txt");
  ASSERT_EQ(::unlink(aside.c_str()), 0);

  // A name that only looks alike is the user's own.
  WriteFile(dir_ + "/.vantrel-short", "s");
  Expect(SHCNE_CREATE, dir_ + "/.vantrel-short");
  for (const auto& c : got_) {
    EXPECT_FALSE(c.item1 && NamesOwnTemporary(*c.item1)) << Describe();
    EXPECT_FALSE(c.item2 && NamesOwnTemporary(*c.item2)) << Describe();
  }
  EXPECT_EQ(got_.size(), 5u) << "nothing but the five above" << Describe();
}

// Makes a chain of folders below top whose last one lies deeper than the
// kernel can name, and a file in it; the path of that file.
std::string MakeTooDeepFile(const std::string& top) {
  const std::string name(200, 'd');
  std::string path = top;
  int fd = ::open(top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  while (fd >= 0 && path.size() <= PATH_MAX + 200) {
    if (::mkdirat(fd, name.c_str(), 0755) != 0) break;
    int next = ::openat(fd, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = next;
    path += "/" + name;
  }
  if (fd < 0) return {};
  int file = ::openat(fd, "deep.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ::close(fd);
  if (file < 0) return {};
  [[maybe_unused]] ssize_t n = ::write(file, "deep", 4);
  ::close(file);
  return path + "/deep.txt";
}

TEST_P(ChangeSourceTest, AChangeAtAPathLongerThanTheSystemNamesIsReportedNotLost) {
  const std::string deep = MakeTooDeepFile(dir_);
  ASSERT_GT(deep.size(), static_cast<std::size_t>(PATH_MAX));
  Collect([&] { return Reported(SourceReport::PathTooLong) > 0; });
  ASSERT_GT(Reported(SourceReport::PathTooLong), 0u) << Describe();
  for (const auto& r : reports_) {
    if (r.kind != SourceReport::PathTooLong) continue;
    // The deepest folder that has a name, so the user knows where to look.
    EXPECT_EQ(deep.rfind(r.detail, 0), 0u) << r.detail;
    EXPECT_GT(r.detail.size(), dir_.size()) << r.detail;
    EXPECT_LT(r.detail.size(), static_cast<std::size_t>(PATH_MAX));
  }
  for (const auto& c : got_) EXPECT_LT(c.item1->size(), static_cast<std::size_t>(PATH_MAX)) << "listed";
  // Deeper than the file-system library walks by name.
  EXPECT_EQ(std::system(("rm -rf '" + dir_ + "/" + std::string(200, 'd') + "'").c_str()), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, ChangeSourceTest,
                         ::testing::Values(Backend::Inotify, Backend::Fanotify, Backend::Helper),
                         [](const auto& info) {
                           return info.param == Backend::Inotify    ? "inotify"
                                  : info.param == Backend::Fanotify ? "fanotify"
                                                                    : "helper";
                         });

TEST(InotifyRoots, FollowTheRootSetWhenItChanges) {
  std::string a = MakeTempDir("/tmp"), b = MakeTempDir("/tmp");
  InotifySource source;
  std::string why;
  ASSERT_TRUE(source.Start(why)) << why;
  source.SetRoots({a});
  auto waitWatches = [&](std::size_t n) {
    for (int i = 0; i < 500 && source.WatchCount() != n; ++i) std::this_thread::sleep_for(5ms);
    return source.WatchCount();
  };
  EXPECT_EQ(waitWatches(1), 1u);
  fs::create_directory(b + "/sub");
  source.SetRoots({b, b + "/", b + "/sub"});
  EXPECT_EQ(waitWatches(2), 2u) << "b and its folder, once each; a no longer";
  WriteFile(a + "/ignored.txt", "i");
  WriteFile(b + "/seen.txt", "s");
  std::vector<ChangeNotification> got;
  for (int i = 0; i < 400; ++i) {
    source.Queue().TakeAll(got);
    // Other programs may mount or unmount meanwhile; only files count here.
    std::erase_if(got, [](const ChangeNotification& n) { return n.code == SHCNE_DRIVEADD || n.code == SHCNE_DRIVEREMOVED; });
    if (!got.empty()) break;
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].item1, b + "/seen.txt");
  source.SetRoots({});
  EXPECT_EQ(waitWatches(0), 0u);
  source.Stop();
  fs::remove_all(a);
  fs::remove_all(b);
}

}  // namespace
}  // namespace vantrel
