// Rule actions against what a folder other people can write to may hold:
// planted links, links swapped in mid-action, FIFOs, writers that are not
// done, and a disk that fills up.
#include "rules/FileActions.h"
#include "platform/linux/PosixFile.h"
#include "text/AtomicFile.h"
#include "FileHelpers.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode & 07777;
}

class HostileFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"/in", "/out", "/victim/dir"}) fs::create_directories(dir_ + d);
    Put(dir_ + "/victim/secret.txt", "secret");
  }
  TestDir temp_;
  std::string dir_ = temp_.Path();
};

TEST_F(HostileFilesTest, FolderCopyNeverWritesThroughLinksItCopiedBefore) {
  std::string d = dir_ + "/in/D";
  fs::create_directories(d);
  fs::create_symlink(dir_ + "/victim/secret.txt", d + "/f");
  fs::create_directory_symlink(dir_ + "/victim/dir", d + "/sub");
  ASSERT_TRUE(CopyDirectoryAction(d, dir_ + "/out").ok);
  ASSERT_TRUE(fs::is_symlink(dir_ + "/out/D/f"));

  // The same folder name arrives again, now with real entries in place of the links.
  fs::remove_all(d);
  fs::create_directories(d + "/sub");
  Put(d + "/f", "hostile");
  Put(d + "/sub/planted.txt", "planted");
  Put(d + "/plain.txt", "plain");
  ActionResult r = CopyDirectoryAction(d, dir_ + "/out");
  EXPECT_FALSE(r.ok) << "the entries that met a link failed, and the row says so";
  EXPECT_NE(r.error.find(FileErrorText(kLinkInTarget)), std::string::npos) << r.error;
  EXPECT_EQ(Read(dir_ + "/victim/secret.txt"), "secret");
  EXPECT_FALSE(fs::exists(dir_ + "/victim/dir/planted.txt"));
  EXPECT_EQ(Read(dir_ + "/out/D/plain.txt"), "plain") << "the rest is still copied";
}

TEST_F(HostileFilesTest, TreeDeletionChangesNoModeOutsideTheTree) {
  std::string victim = dir_ + "/victim/secret.txt";
  ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
  // A read-only set-id file keeps being swapped for a link to the victim
  // while the tree is deleted: whatever the timing, the victim keeps its mode.
  for (int round = 0; round < 150; ++round) {
    std::string tree = dir_ + "/in/t" + std::to_string(round);
    fs::create_directories(tree);
    for (int i = 0; i < 20; ++i) {
      std::string f = tree + "/ro" + std::to_string(i);
      Put(f, "x");
      ::chmod(f.c_str(), 04555);
    }
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
      for (int i = 0; !stop; i = (i + 1) % 20) {
        std::string link = tree + "/l" + std::to_string(i);
        ::symlink(victim.c_str(), link.c_str());
        ::rename(link.c_str(), (tree + "/ro" + std::to_string(i)).c_str());
      }
    });
    DeleteDirectoryTree(tree);
    stop = true;
    swapper.join();
    fs::remove_all(tree);
    ASSERT_EQ(ModeOf(victim), 0600u) << "round " << round;
  }
}

TEST_F(HostileFilesTest, ALinkIsCopiedAsALinkNeverAsItsTargetsContent) {
  std::string hidden = dir_ + "/private";
  fs::create_directories(hidden);
  Put(hidden + "/only-mine.txt", "mine");
  ::chmod(hidden.c_str(), 0700);
  fs::create_symlink(hidden + "/only-mine.txt", dir_ + "/in/looks-harmless.txt");
  ActionResult r = CopyFileAction(dir_ + "/in/looks-harmless.txt", dir_ + "/out", dir_ + "/in");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(fs::is_symlink(r.target));
  EXPECT_EQ(fs::read_symlink(r.target), hidden + "/only-mine.txt");
}

TEST_F(HostileFilesTest, AFileStillBeingWrittenIsNeitherMovedAwayNorReportedCopied) {
  TestDir shm("/dev/shm");
  if (!shm.Made()) GTEST_SKIP() << "no tmpfs at /dev/shm to move from";
  std::string source = shm.Path() + "/scan.pdf";
  int writer = ::open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(writer, 0);
  std::string chunk(100 << 10, 'p');
  ASSERT_TRUE(WriteAllBytes(writer, chunk));  // the writer pauses here, its file still open

  ActionResult moved = MoveFileAction(source, dir_ + "/out", shm.Path());
  EXPECT_FALSE(moved.ok);
  EXPECT_EQ(moved.error, FileErrorText(kSourceBeingWritten));
  ActionResult copied = CopyFileAction(source, dir_ + "/out", shm.Path());
  EXPECT_FALSE(copied.ok) << "a 100 kB copy of a file still being written is no success";
  EXPECT_EQ(EntriesIn(dir_ + "/out"), 0u) << "nothing partial is left in the target";

  for (int i = 0; i < 7; ++i) ASSERT_TRUE(WriteAllBytes(writer, chunk));
  ::close(writer);
  EXPECT_EQ(fs::file_size(source), 800u << 10) << "nothing was lost meanwhile";
  moved = MoveFileAction(source, dir_ + "/out", shm.Path());
  ASSERT_TRUE(moved.ok) << moved.error;
  EXPECT_EQ(fs::file_size(dir_ + "/out/scan.pdf"), 800u << 10);
  EXPECT_FALSE(fs::exists(source));
}

TEST_F(HostileFilesTest, AFileThatChangesWhileCopiedIsNotPassedOffAsItsCopy) {
  TestDir shm("/dev/shm");
  if (!shm.Made()) GTEST_SKIP() << "no tmpfs at /dev/shm to move from";
  std::string source = shm.Path() + "/growing.log";
  Put(source, std::string(64 << 20, 'g'));
  // Appends that open and close the file each time, as a shell's >> does.
  std::atomic<bool> stop{false};
  std::thread appender([&] {
    while (!stop) {
      int fd = ::open(source.c_str(), O_WRONLY | O_APPEND);
      if (fd >= 0) {
        ::write(fd, "+", 1);
        ::close(fd);
      }
    }
  });
  ActionResult copied = CopyFileAction(source, dir_ + "/out", shm.Path());
  ActionResult moved = MoveFileAction(source, dir_ + "/out", shm.Path());
  stop = true;
  appender.join();
  EXPECT_FALSE(copied.ok);
  EXPECT_FALSE(moved.ok);
  EXPECT_TRUE(fs::exists(source)) << "the source of a failed move stays";
  EXPECT_EQ(EntriesIn(dir_ + "/out"), 0u);
}

TEST_F(HostileFilesTest, AFolderNamedWithALeadingDotIsCopiedUnderItsWholeName) {
  fs::create_directories(dir_ + "/in/.cache");
  Put(dir_ + "/in/.cache/x.txt", "cached");
  Put(dir_ + "/out/x.txt", "the user's own");
  EXPECT_EQ(DirectoryCopyName(dir_ + "/in/.cache"), ".cache");
  EXPECT_EQ(DirectoryCopyName(dir_ + "/in/notes.2019"), "notes");
  ActionResult r = CopyDirectoryAction(dir_ + "/in/.cache", dir_ + "/out");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.target, dir_ + "/out/.cache");
  EXPECT_EQ(Read(dir_ + "/out/.cache/x.txt"), "cached");
  EXPECT_EQ(Read(dir_ + "/out/x.txt"), "the user's own");
}

TEST_F(HostileFilesTest, FifosAreRefusedAtOnceNeverOpened) {
  std::string fifo = dir_ + "/in/pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  fs::create_directories(dir_ + "/in/F");
  ASSERT_EQ(::mkfifo((dir_ + "/in/F/pipe").c_str(), 0644), 0);
  Put(dir_ + "/in/F/data.txt", "data");
  auto actions = std::async(std::launch::async, [&] {
    return std::vector<ActionResult>{CopyFileAction(fifo, dir_ + "/out", dir_ + "/in"),
                                     MoveFileAction(fifo, dir_ + "/out", dir_ + "/in"),
                                     CopyDirectoryAction(dir_ + "/in/F", dir_ + "/out")};
  });
  if (actions.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // Release the blocked open so that the test can end, then fail.
    for (const std::string& pipe : {fifo, dir_ + "/in/F/pipe"}) ::close(::open(pipe.c_str(), O_RDWR | O_NONBLOCK));
    actions.wait();
    FAIL() << "an action blocked on a FIFO";
  }
  std::vector<ActionResult> results = actions.get();
  EXPECT_EQ(results[0].error, FileErrorText(kNotRegularFile));
  EXPECT_EQ(results[1].error, FileErrorText(kNotRegularFile));
  EXPECT_TRUE(fs::is_fifo(fifo)) << "a refused move leaves it";
  EXPECT_FALSE(results[2].ok);
  EXPECT_EQ(Read(dir_ + "/out/F/data.txt"), "data");
  EXPECT_FALSE(fs::exists(dir_ + "/out/F/pipe"));
}

TEST_F(HostileFilesTest, CopiesKeepPermissionBitsButNeverSetIdBits) {
  std::string tool = dir_ + "/in/tool";
  Put(tool, "#!/bin/sh\n");
  ASSERT_EQ(::chmod(tool.c_str(), 04750), 0);
  ActionResult r = CopyFileAction(tool, dir_ + "/out", dir_ + "/in");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(ModeOf(r.target), 0750u);
}

}  // namespace
}  // namespace vantrel
