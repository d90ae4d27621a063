// Folder actions on trees that are deep, that lead back into themselves, or
// that lie on a file system refusing the calls a copy would rather use.
#include "rules/FileActions.h"
#include "platform/linux/PosixFile.h"
#include "text/AtomicFile.h"
#include "text/PathRoutines.h"
#include "FileHelpers.h"
#include "TestDir.h"
#include "TreeHelpers.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

class TreeActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ + "/in/keep");
    fs::create_directories(dir_ + "/in/sub");
    fs::create_directories(dir_ + "/out");
    Put(dir_ + "/in/a.txt", "a");
    Put(dir_ + "/in/sub/b.txt", "b");
  }
  TestDir temp_;
  std::string dir_ = temp_.Path();
};

TEST_F(TreeActionsTest, AFolderIsNeverCopiedOrMovedIntoItselfHoweverTheTargetIsWritten) {
  fs::create_directory_symlink(dir_ + "/in/keep", dir_ + "/out/shortcut");
  const std::string source = dir_ + "/in";
  const std::vector<std::pair<std::string, std::string>> spellings = {
      {dir_ + "//in", dir_ + "/in//keep"},
      {dir_ + "/in", dir_ + "/./in/keep/"},
      {dir_ + "/in", dir_ + "/in/sub/../keep"},
      {dir_ + "/in", dir_ + "/out/shortcut"},
      {dir_ + "/in", dir_ + "/in"},
      {dir_ + "/in", dir_},
  };
  const auto before = Snapshot(dir_);
  for (const auto& [from, into] : spellings) {
    ActionResult copied = CopyDirectoryAction(from, into);
    EXPECT_FALSE(copied.ok) << from << " into " << into;
    EXPECT_EQ(copied.error, FileErrorText(kTargetInsideSource)) << from << " into " << into;
    ActionResult moved = MoveDirectoryAction(from, into);
    EXPECT_FALSE(moved.ok) << from << " into " << into;
    EXPECT_EQ(moved.error, FileErrorText(kTargetInsideSource)) << from << " into " << into;
  }
  EXPECT_EQ(Snapshot(dir_), before) << "a refusal makes, moves and removes nothing";
}

TEST_F(TreeActionsTest, DeepTreesAreCopiedAndDeletedWholeWithFewDescriptors) {
  MakeDeepTree(dir_ + "/in/deep", 1000);
  {
    DescriptorLimit limit(256);
    ASSERT_TRUE(limit.Set());
    ActionResult copied = CopyDirectoryAction(dir_ + "/in/deep", dir_ + "/out");
    EXPECT_TRUE(copied.ok) << copied.error;
    ActionResult again = CopyDirectoryAction(dir_ + "/in/deep", dir_ + "/out");
    EXPECT_TRUE(again.ok) << "merging into the earlier copy: " << again.error;
  }
  EXPECT_EQ(DeepTreeLevels(dir_ + "/out/deep"), 1000);
  EXPECT_EQ(DeepTreeLevels(dir_ + "/in/deep"), 1000) << "the source stays";
  {
    DescriptorLimit limit(256);
    ActionResult deleted = DeleteDirectoryTree(dir_ + "/out/deep");
    EXPECT_TRUE(deleted.ok) << deleted.error;
  }
  EXPECT_FALSE(fs::exists(dir_ + "/out/deep"));
  EXPECT_EQ(DeepTreeLevels(dir_ + "/in/deep"), 1000) << "only the named tree goes";
}

TEST_F(TreeActionsTest, ATreeMovedAwayWhileDeletedIsNotFollowedBackUpFromWhereItWent) {
  MakeDeepTree(dir_ + "/in/T", 40);
  fs::create_directories(dir_ + "/elsewhere");
  Put(dir_ + "/elsewhere/keep.txt", "keep");
  std::string level20 = dir_ + "/in/T";
  for (int i = 0; i < 20; ++i) level20 += "/d";
  bool moved = false;
  // Deep below the folders a walk keeps open, one of its folders is moved
  // out of the tree while the walk is below it.
  ActionResult r = DeleteDirectoryTree(dir_ + "/in/T", [&](const ActionChange& c) {
    if (!moved && c.kind == ActionChange::FileVanished && PathFileName(c.path) == "f30")
      moved = ::rename(level20.c_str(), (dir_ + "/elsewhere/d").c_str()) == 0;
  });
  ASSERT_TRUE(moved);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, FileErrorText(kFolderMoved));
  EXPECT_TRUE(fs::is_directory(dir_ + "/elsewhere/d")) << "the moved folder is not removed where it went";
  EXPECT_EQ(Read(dir_ + "/elsewhere/keep.txt"), "keep");
  EXPECT_TRUE(fs::is_directory(dir_ + "/in/T/d")) << "the folders above it stay";
}

// Runs body in a child process whose calls renameat2, link and linkat fail
// and whose files cannot be made unnamed, as on a file system that refuses
// them; returns what body returned, or why it could not run.
std::string WithoutRenameFlagsAndLinks(const std::function<std::string()>& body) {
#if defined(__x86_64__)
  constexpr unsigned arch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
  constexpr unsigned arch = AUDIT_ARCH_AARCH64;
#else
  return "skip: no filter for this architecture";
#endif
  constexpr unsigned flagsWord =
      offsetof(seccomp_data, args[2]) + (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 4 : 0);
  constexpr unsigned refuse = SECCOMP_RET_ERRNO;
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, arch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_renameat2, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, refuse | EINVAL),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_linkat, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, refuse | EPERM),
#ifdef __NR_link
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_link, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, refuse | EPERM),
#endif
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, flagsWord),
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_TMPFILE & ~O_DIRECTORY, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, refuse | EOPNOTSUPP),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return "skip: no pipe";
  pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    std::string said;
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
      said = "skip: no seccomp filter here";
    else
      said = body();
    WriteAllBytes(pipeFds[1], said);
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string said;
  char buf[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;) said.append(buf, static_cast<std::size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) said += " (child ended with status " + std::to_string(status) + ")";
  return said;
}

TEST_F(TreeActionsTest, WhereRenameFlagsUnnamedFilesAndLinksAreRefusedCopiesAndMovesStillWork) {
  Put(dir_ + "/out/a.txt", "the user's own");
  Put(dir_ + "/in/m.txt", "moved");
  fs::create_directories(dir_ + "/out/in/sub");
  Put(dir_ + "/out/in/sub/b.txt", "older b");
  std::string said = WithoutRenameFlagsAndLinks([&] {
    std::string errors;
    for (const ActionResult& r :
         {CopyFileAction(dir_ + "/in/a.txt", dir_ + "/out", dir_ + "/in"),
          CopyFileAction(dir_ + "/in/a.txt", dir_ + "/out", dir_ + "/in"),
          MoveFileAction(dir_ + "/in/m.txt", dir_ + "/out", dir_ + "/in"),
          CopyDirectoryAction(dir_ + "/in", dir_ + "/out")})
      if (!r.ok) errors += r.target + ": " + r.error + "\n";
    return errors;
  });
  if (said.rfind("skip:", 0) == 0) GTEST_SKIP() << said;
  EXPECT_EQ(said, "");
  EXPECT_EQ(Read(dir_ + "/out/a.txt"), "the user's own") << "never replaced";
  EXPECT_EQ(Read(dir_ + "/out/a(1).txt"), "a");
  EXPECT_EQ(Read(dir_ + "/out/a(2).txt"), "a");
  EXPECT_EQ(Read(dir_ + "/out/m.txt"), "moved");
  EXPECT_FALSE(fs::exists(dir_ + "/in/m.txt"));
  EXPECT_EQ(Read(dir_ + "/out/in/sub/b.txt"), "b") << "a folder copy still replaces older files";
  EXPECT_EQ(Read(dir_ + "/out/in/a.txt"), "a");
  EXPECT_EQ(EntriesIn(dir_ + "/out"), 5u) << "no temporary left behind";
  EXPECT_EQ(EntriesIn(dir_ + "/out/in/sub"), 1u) << "no temporary left behind";

  said = WithoutRenameFlagsAndLinks([&] {
    ActionResult r = MoveDirectoryAction(dir_ + "/in/sub", dir_ + "/out");
    return r.ok ? std::string() : r.error;
  });
  EXPECT_EQ(said, "");
  EXPECT_EQ(Read(dir_ + "/out/sub/b.txt"), "b");
  EXPECT_FALSE(fs::exists(dir_ + "/in/sub"));
}

// What only Linux does: a link in a copied folder is copied as a link, a
// tree deletion removes links and read-only files without following or
// changing anything, and a move from another file system copies first.
TEST_F(TreeActionsTest, LinksAreCopiedAsLinksAndNeverFollowedByADeletion) {
  const std::string keep = dir_ + "/precious";
  fs::create_directories(keep);
  Put(keep + "/file.txt", "precious");
  fs::create_symlink("/etc/hostname", dir_ + "/in/sub/link");
  ActionResult r = CopyDirectoryAction(dir_ + "/in/sub", dir_ + "/out");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(fs::read_symlink(dir_ + "/out/sub/link"), "/etc/hostname");

  const std::string tree = dir_ + "/in/tree";
  fs::create_directories(tree + "/deep/er");
  Put(tree + "/deep/er/x.txt", "x");
  const std::string locked = tree + "/locked.txt";
  Put(locked, "l");
  ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
  fs::create_directory_symlink(keep, tree + "/dirlink");
  fs::create_symlink(keep + "/file.txt", tree + "/deep/filelink");
  r = DeleteDirectoryTree(tree);
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(fs::exists(tree));
  EXPECT_EQ(Read(keep + "/file.txt"), "precious");
  EXPECT_FALSE(DeleteDirectoryTree("/").ok);
  EXPECT_EQ(DeleteDirectoryTree(dir_ + "/in/sub/link").code, ELOOP);
}

TEST_F(TreeActionsTest, AMoveFromAnotherFileSystemCopiesWholeThenRemovesTheSource) {
  TestDir shmDir("/dev/shm");
  if (!shmDir.Made()) GTEST_SKIP() << "no tmpfs at /dev/shm to move from";
  const std::string& shm = shmDir.Path();
  const std::string big(3 << 20, 'b');
  Put(shm + "/big.bin", big);
  ActionResult r = MoveFileAction(shm + "/big.bin", dir_ + "/out", shm);
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(fs::exists(shm + "/big.bin")) << "the source goes once the copy is complete";
  EXPECT_EQ(Read(dir_ + "/out/big.bin"), big);
  Put(shm + "/big.bin", "second");
  r = MoveFileAction(shm + "/big.bin", dir_ + "/out", shm);
  EXPECT_EQ(r.target, dir_ + "/out/big(1).bin") << "numbered by the file already there";
  EXPECT_EQ(Read(dir_ + "/out/big.bin"), big) << "never replaced";
  fs::create_symlink("/etc/hostname", shm + "/link");
  r = MoveFileAction(shm + "/link", dir_ + "/out", shm);
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(fs::read_symlink(dir_ + "/out/link"), "/etc/hostname") << "a link moves as a link";
  EXPECT_FALSE(fs::is_symlink(shm + "/link"));
}

}  // namespace
}  // namespace vantrel
