// The whole window with a real change source, on real folders changed the
// way programs change them: what happens on disk reaches the list and the
// rules, and the rules' own actions silence nobody.
#include "faces/qt/app/MainWindow.h"
#include "FileHelpers.h"
#include "log/EventList.h"
#include "log/EventLog.h"
#include "log/FormatTime.h"
#include "text/Codec.h"
#include "faces/qt/support/Dialogs.h"
#include "faces/qt/tray/TrayIcon.h"

#include <algorithm>
#include <chrono>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <functional>
#include <set>
#include <gtest/gtest.h>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

class LiveWindowTest : public ::testing::TestWithParam<WatchBackend> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid() && files_.isValid());
    Dialogs::CaptureForTesting(true);
    MainWindow::Options options;
    options.home = home_.path().toStdString();
    options.backend = GetParam();
    window_ = std::make_unique<MainWindow>(options);
    window_->Tray().RecordPromptsForTesting(true);
    if (!window_->OnMainWindowCreated()) GTEST_SKIP() << "this change source cannot run in this process";
  }
  void TearDown() override {
    window_.reset();
    Dialogs::CaptureForTesting(false);
  }
  std::string Files() const { return files_.path().toStdString(); }

  // Lets the window work until done() holds, ten seconds at most.
  bool RunUntil(const std::function<bool()>& done, qint64 limitMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limitMs) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
  }
  // Changes made by another process, as a user's programs make them: the
  // program's own changes are known to it by their process.
  static void Shell(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }
  std::string Rows() {
    std::string text;
    EventList& rows = window_->EventRows();
    for (std::size_t r = 0; r < rows.RowCount(); ++r)
      text += std::string(rows.Cell(r, 2)) + " " + std::string(rows.Cell(r, 3)) + "\n";
    return text;
  }
  // Waits until the change source reports changes in folder: a rule's folder
  // is watched a moment after the rule is added.
  void Watching(const std::string& folder) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      std::string probe = folder + "/.probe-" + std::to_string(attempt);
      fs::create_directory(probe);
      bool seen = RunUntil([&] { return RowsOf("新建目录", probe) > 0; }, 500);
      fs::remove(probe);
      if (seen) return;
    }
    FAIL() << "changes in " << folder << " never reached the window";
  }
  std::size_t RowsOf(std::string_view type, const std::string& path) {
    EventList& rows = window_->EventRows();
    std::size_t n = 0;
    for (std::size_t r = 0; r < rows.RowCount(); ++r)
      if (rows.Cell(r, 2) == type && rows.Cell(r, 3) == path) ++n;
    return n;
  }

  QTemporaryDir home_, files_;
  std::unique_ptr<MainWindow> window_;
};

TEST_P(LiveWindowTest, EveryScanDroppedAgainAndAgainIsMovedAway) {
  fs::create_directories(Files() + "/scans");
  fs::create_directories(Files() + "/archive");
  window_->AddRule("新建文件", Files() + "/scans", "【移动文件】" + Files() + "/archive");
  Watching(Files() + "/scans");
  std::string scan = Files() + "/scans/scan.pdf";
  for (int i = 0; i < 3; ++i) {
    Shell("printf 'page " + std::to_string(i) + "' > '" + scan + "'");
    ASSERT_TRUE(RunUntil([&] { return !fs::exists(scan); })) << "scan " << i << " was not moved\n" << Rows();
  }
  EXPECT_EQ(Read(Files() + "/archive/scan.pdf"), "page 0");
  EXPECT_EQ(Read(Files() + "/archive/scan(2).pdf"), "page 2");
}

TEST_P(LiveWindowTest, ARuleFolderMadeAfterStartIsWatched) {
  std::string in = Files() + "/later/in";
  fs::create_directories(Files() + "/out");
  window_->AddRule("新建文件", in, "【复制文件】" + Files() + "/out");
  Shell("mkdir -p '" + in + "'");
  Watching(in);
  Shell("echo a > '" + in + "/a.txt'");
  EXPECT_TRUE(RunUntil([&] { return fs::exists(Files() + "/out/a.txt"); })) << "the rule never saw its folder\n" << Rows();
}

TEST_P(LiveWindowTest, MovesIntoARuleFolderAndBetweenItsFoldersActOnTheRealPath) {
  std::string in = Files() + "/in", out = Files() + "/out", outside = Files() + "/outside";
  for (const std::string& d : {in + "/sub", out, outside}) fs::create_directories(d);
  window_->AddRule("新建文件", in, "【复制文件】" + out);
  window_->AddRule("重命名文件", in, "【复制文件】" + out);
  Watching(in);
  Shell("echo photo > '" + outside + "/photo.jpg' && mv '" + outside + "/photo.jpg' '" + in + "/'");
  EXPECT_TRUE(RunUntil([&] { return fs::exists(out + "/photo.jpg"); })) << "a file moved in from outside is new here\n"
                                                                        << Rows();
  Shell("mv '" + in + "/photo.jpg' '" + in + "/sub/moved.jpg'");
  EXPECT_TRUE(RunUntil([&] { return fs::exists(out + "/moved.jpg"); })) << "the copy acts on where it went\n" << Rows();
  EXPECT_EQ(RowsOf("重命名文件", in + "/sub/moved.jpg"), 1u);
  EXPECT_EQ(RowsOf("重命名文件", in + "/moved.jpg"), 0u) << "a path that never existed";

  window_->AddRule("新建目录", in, "【复制文件】" + out);
  Shell("mkdir -p '" + outside + "/album' && echo p > '" + outside + "/album/p1.jpg' && mv '" + outside + "/album' '" +
        in + "/'");
  EXPECT_TRUE(RunUntil([&] { return fs::exists(out + "/album/p1.jpg"); })) << "a folder moved in is new here\n"
                                                                            << Rows();
}

TEST_P(LiveWindowTest, NamesOfAnyBytesAreCopiedExactlyAndEachRecordIsOneLine) {
  std::string in = Files() + "/in", out = Files() + "/out", started = Files() + "/started";
  for (const std::string& d : {in, out, started}) fs::create_directories(d);
  window_->findChild<QCheckBox*>("选择框_保存日志")->click();
  window_->AddRule("新建文件", in, "【复制文件】" + out);
  window_->AddRule("新建文件", in, "【执行程序】/bin/cp§#路径 '" + started + "'§1");
  Watching(in);
  // A name made on Windows (GBK bytes), and one with a line break in it.
  const std::string gbk = "\xB1\xA8\xB8\xE6.txt", broken = "a\nforged.txt";
  Shell("printf gbk > \"$(printf '" + in + "/\\261\\250\\270\\346.txt')\"");
  Shell("printf nl > '" + in + "/a\nforged.txt'");
  ASSERT_TRUE(RunUntil([&] { return fs::exists(out + "/" + gbk) && fs::exists(out + "/" + broken); })) << Rows();
  EXPECT_EQ(Read(out + "/" + gbk), "gbk") << "the real file, by its real bytes";
  EXPECT_EQ(Read(out + "/" + broken), "nl");
  EXPECT_TRUE(RunUntil([&] { return fs::exists(started + "/" + gbk) && fs::exists(started + "/" + broken); }))
      << "a started program gets the real path as one argument";

  std::string log = Read(home_.path().toStdString() + "/log/" + FormatTime(std::nullopt, 3, 1, 2) + "/log.txt");
  EXPECT_NE(log.find(Utf8ToGb18030(in + "/报告.txt")), std::string::npos) << "shown as the name it was on Windows";
  EXPECT_NE(log.find(in + "/a\\nforged.txt"), std::string::npos);
  for (std::size_t at = log.find('\n'); at != std::string::npos; at = log.find('\n', at + 1))
    EXPECT_EQ(log[at - 1], '\r') << "a line break inside a record";
  // Qt's own clean-up cannot name files whose names are no UTF-8.
  for (const std::string& d : {in, out, started}) fs::remove_all(d);
}

// Every file below dir, and every folder, by path.
std::set<std::string> TreeOf(const std::string& dir, bool folders) {
  std::set<std::string> paths;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_directory() == folders && !e.is_symlink()) paths.insert(e.path().string());
  return paths;
}

TEST_P(LiveWindowTest, SafeSavesAndSedInPlaceAreListedEveryTime) {
  std::string in = Files() + "/in", file = in + "/notes.txt";
  fs::create_directories(in);
  window_->AddRule("新建文件", in, "【仅列出】");
  Watching(in);
  Shell("echo a > '" + file + "'");
  for (int i = 0; i < 3; ++i) Shell("sed -i s/a/b/ '" + file + "'");
  Shell("printf saved > '" + in + "/.notes.txt.tmp' && mv '" + in + "/.notes.txt.tmp' '" + file + "'");
  EXPECT_TRUE(RunUntil([&] { return RowsOf("重命名文件", file) == 4; })) << Rows();
}

TEST_P(LiveWindowTest, ABurstMadeAndRemovedWithinSecondsIsListedWhole) {
  std::string burst = Files() + "/in/burst";
  fs::create_directories(burst);
  window_->AddRule("新建文件", Files() + "/in", "【仅列出】");
  Watching(Files() + "/in");
  constexpr int kFiles = 2000;
  Shell("cd '" + burst + "' && seq 1 " + std::to_string(kFiles) + " | xargs touch");
  auto all = [&](std::string_view type) {
    return [&, type] {
      for (int i = 1; i <= kFiles; ++i)
        if (!RowsOf(type, burst + "/" + std::to_string(i))) return false;
      return true;
    };
  };
  ASSERT_TRUE(RunUntil(all("新建文件")));
  Shell("find '" + burst + "' -type f -delete");
  EXPECT_TRUE(RunUntil(all("删除文件"))) << "every file find removed, though each name stands in some row";
}

TEST_P(LiveWindowTest, AGitCheckoutAndRemovingTheCloneListEveryChange) {
  std::string repo = Files() + "/repo", clone = Files() + "/watched/clone";
  fs::create_directories(Files() + "/watched");
  Shell("set -e; git init -q '" + repo + "'; cd '" + repo + "'; git config user.email t@t; git config user.name t;"
        "mkdir -p src/a src/b doc; for i in 1 2 3 4 5; do echo $i > src/a/f$i.c; echo $i > doc/d$i.txt; done;"
        "git add -A; git commit -qm one; mkdir -p src/new/deep; for i in 1 2 3; do echo $i > src/new/deep/n$i.c; done;"
        "echo changed > src/a/f1.c; git rm -q doc/d2.txt doc/d3.txt; git add -A; git commit -qm two");
  window_->AddRule("新建文件", Files() + "/watched", "【仅列出】");
  Watching(Files() + "/watched");
  Shell("git clone -q '" + repo + "' '" + clone + "'");
  ASSERT_TRUE(RunUntil([&] { return RowsOf("新建文件", clone + "/src/new/deep/n3.c") == 1; })) << Rows();

  // Checkout of the older commit: what it removes, adds and changes.
  // The clone's last changes are in: a file made after them is listed.
  Shell("touch '" + Files() + "/watched/after-the-clone'");
  ASSERT_TRUE(RunUntil([&] { return RowsOf("新建文件", Files() + "/watched/after-the-clone") == 1; })) << Rows();
  std::set<std::string> before = TreeOf(clone + "/src", false), docsBefore = TreeOf(clone + "/doc", false);
  Shell("cd '" + clone + "' && git checkout -q HEAD~1");
  std::set<std::string> after = TreeOf(clone + "/src", false), docsAfter = TreeOf(clone + "/doc", false);
  before.insert(docsBefore.begin(), docsBefore.end());
  after.insert(docsAfter.begin(), docsAfter.end());
  std::vector<std::string> gone, came;
  for (const auto& p : before)
    if (!after.count(p)) gone.push_back(p);
  for (const auto& p : after)
    if (!before.count(p)) came.push_back(p);
  ASSERT_EQ(gone.size(), 3u);
  ASSERT_EQ(came.size(), 2u);
  auto listed = [&] {
    for (const auto& p : gone)
      if (!RowsOf("删除文件", p)) return false;
    for (const auto& p : came)
      if (!RowsOf("新建文件", p)) return false;
    return RowsOf("删除目录", clone + "/src/new/deep") == 1;
  };
  EXPECT_TRUE(RunUntil(listed)) << Rows();

  std::set<std::string> files = TreeOf(clone, false), folders = TreeOf(clone, true);
  Shell("rm -rf '" + clone + "'");
  auto removed = [&] {
    for (const auto& p : files)
      if (!RowsOf("删除文件", p)) return false;
    for (const auto& p : folders)
      if (!RowsOf("删除目录", p)) return false;
    return true;
  };
  EXPECT_TRUE(RunUntil(removed)) << "of " << files.size() << " files and " << folders.size() << " folders";
}

// A copy of a large file runs while the window goes on: the files made
// after it are listed before it is done, the window's timers keep firing,
// and the actions still happen one at a time in the order of their events.
TEST_P(LiveWindowTest, ALongCopyLetsLaterChangesThroughAndKeepsTheOrder) {
  std::string in = Files() + "/in", out = Files() + "/out";
  fs::create_directories(in);
  fs::create_directories(out);
  // Where copies share blocks instead of writing them, no copy is long.
  Put(in + "/../probe", "p");
  const int probe = ::open((in + "/../probe").c_str(), O_RDONLY | O_CLOEXEC);
  const int clone = ::open((out + "/../clone").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const bool shares = probe >= 0 && clone >= 0 && ::ioctl(clone, FICLONE, probe) == 0;
  ::close(probe);
  ::close(clone);
  if (shares) GTEST_SKIP() << "this file system shares blocks between copies";
  window_->AddRule("新建文件", in, "【复制文件】" + out);
  Watching(in);
  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(10);
  Shell("head -c 300000000 /dev/zero > '" + in + "/big.bin'");
  ASSERT_TRUE(RunUntil([&] { return RowsOf("新建文件", in + "/big.bin") == 1; })) << Rows();
  const int ticksAtStart = ticks;
  const auto tickingSince = std::chrono::steady_clock::now();
  Shell("for i in 1 2 3 4 5; do echo $i > '" + in + "'/small$i.txt; done");

  auto actionRows = [&] {
    std::vector<std::string> targets;
    EventList& rows = window_->EventRows();
    for (std::size_t r = 0; r < rows.RowCount(); ++r)
      if (rows.Cell(r, 1) == EventLog::kActionMark) targets.push_back(std::string(rows.Cell(r, 3)));
    return targets;
  };
  auto allListed = [&] {
    for (int i = 1; i <= 5; ++i)
      if (RowsOf("新建文件", in + "/small" + std::to_string(i) + ".txt") != 1) return false;
    return true;
  };
  ASSERT_TRUE(RunUntil(allListed)) << Rows();
  EXPECT_TRUE(actionRows().empty()) << "the later files were listed while the large copy ran\n" << Rows();
  ASSERT_TRUE(RunUntil([&] { return actionRows().size() == 6; }, 60000)) << Rows();
  // However fast the copy was, a window never held up ticks at least at a
  // quarter of its timer's rate meanwhile, even on a loaded machine.
  const auto tickingMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - tickingSince).count();
  EXPECT_GE(ticks - ticksAtStart, std::max<long long>(1, tickingMs / 40))
      << "the window's timers ran during the copy (" << tickingMs << " ms)";
  const std::vector<std::string> expected{out + "/big.bin",    out + "/small1.txt", out + "/small2.txt",
                                          out + "/small3.txt", out + "/small4.txt", out + "/small5.txt"};
  EXPECT_EQ(actionRows(), expected) << "actions in the order of their events";
  EXPECT_EQ(fs::file_size(out + "/big.bin"), 300000000u);
  EXPECT_EQ(Read(out + "/small3.txt"), "3\n");
}

// A download that takes twenty seconds, written by another program that
// keeps the file open throughout: a copy rule and a move to another file
// system both act once, on the whole file.
TEST_P(LiveWindowTest, ASlowDownloadIsCopiedAndMovedOnceWhenWhole) {
  std::string in = Files() + "/in", out = Files() + "/out";
  fs::create_directories(in);
  fs::create_directories(out);
  QTemporaryDir elsewhere("/dev/shm/vantrel-test-XXXXXX");
  struct stat a {}, b {};
  if (!elsewhere.isValid() || ::stat(in.c_str(), &a) != 0 || ::stat(elsewhere.path().toUtf8().constData(), &b) != 0 ||
      a.st_dev == b.st_dev)
    GTEST_SKIP() << "no second file system at /dev/shm";
  const std::string moved = elsewhere.path().toStdString();
  window_->AddRule("新建文件", in, "【复制文件】" + out);
  window_->AddRule("新建文件", in, "【移动文件】" + moved);
  Watching(in);
  std::string expected;
  for (int i = 1; i <= 10; ++i) expected += "chunk " + std::to_string(i) + "\n";
  Shell("sh -c 'for i in 1 2 3 4 5 6 7 8 9 10; do echo chunk $i; sleep 2; done > \"" + in +
        "/download.iso\"' >/dev/null 2>&1 &");
  ASSERT_TRUE(RunUntil([&] { return fs::exists(moved + "/download.iso"); }, 40000)) << Rows();
  // The copy came before the move, and the move took the source: nothing
  // is left to act on again.
  ASSERT_TRUE(RunUntil([&] { return !fs::exists(in + "/download.iso") && Read(out + "/download.iso") == expected; }))
      << Rows();
  EXPECT_EQ(Read(out + "/download.iso"), expected);
  EXPECT_EQ(Read(moved + "/download.iso"), expected);
  EXPECT_FALSE(fs::exists(in + "/download.iso"));
  EXPECT_EQ(EntriesIn(out), 1u) << "copied once";
  EXPECT_EQ(EntriesIn(moved), 1u) << "moved once";
  EXPECT_EQ(RowsOf("等待写入完成", in + "/download.iso"), 1u) << "the list shows that it waits\n" << Rows();
}

// A folder rule removes D; the user makes D again a moment later: the new
// folder is the user's, not an echo of the removal, and the rule acts again.
TEST_P(LiveWindowTest, AFolderMadeAgainWhereARuleRemovedOneIsActedOn) {
  std::string in = Files() + "/in";
  fs::create_directories(in);
  window_->AddRule("新建目录", in, "【删除文件】");
  Watching(in);
  Shell("mkdir -p '" + in + "/D/inner' && echo x > '" + in + "/D/inner/f'");
  ASSERT_TRUE(RunUntil([&] { return !fs::exists(in + "/D"); })) << Rows();
  Shell("mkdir '" + in + "/D'");
  EXPECT_TRUE(RunUntil([&] { return !fs::exists(in + "/D"); })) << "the second D was left alone\n" << Rows();
}

INSTANTIATE_TEST_SUITE_P(Backends, LiveWindowTest, ::testing::Values(WatchBackend::Inotify, WatchBackend::Fanotify),
                         [](const auto& info) { return info.param == WatchBackend::Inotify ? "inotify" : "fanotify"; });

}  // namespace
}  // namespace vantrel
