// The rule actions on real folders, the same tests on both systems:
// numbering, never replacing, read-only files, folder copies and moves,
// tree deletions, names beyond the code page. What only one system has
// (links copied as links, share modes, junctions) is tested beside it.
#include "platform/OwnTemporary.h"
#include "rules/FileActions.h"
#include "text/AtomicFile.h"
#include "text/PathRoutines.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

class FileActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.Made());
    MakeDir(in_);
    MakeDir(out_);
  }
  // A path below the test's folder, written with "/" and told, as the
  // actions tell paths, with the system's separators.
  std::string At(std::string relative) const {
    std::replace(relative.begin(), relative.end(), '/', kPathSeparator);
    return JoinPath(dir_, relative);
  }
  static void MakeDir(const std::string& path) { fs::create_directories(PathFromUtf8(path)); }
  static std::string Put(const std::string& path, const std::string& content = "data") {
    EXPECT_TRUE(WriteFileAtomically(path, content)) << path;
    return path;
  }
  static std::string Read(const std::string& path) {
    std::string bytes;
    ReadWholeFile(path, bytes);
    return bytes;
  }
  static bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(PathFromUtf8(path), ec));
  }
  // Without write permission on Linux, with the read-only attribute on
  // Windows: the same call does both.
  static void SetReadOnly(const std::string& path) {
    fs::permissions(PathFromUtf8(path), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }
  static std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(PathFromUtf8(dir), ec))
      names.push_back(Utf8FromPath(e.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
  }
  static bool HasOwnTemporary(const std::string& dir) {
    const std::vector<std::string> names = Names(dir);
    return std::any_of(names.begin(), names.end(), [](const std::string& n) { return IsOwnTemporaryName(n); });
  }

  TestDir temp_;
  std::string dir_ = CleanPath(temp_.Path());
  std::string in_ = At("in"), out_ = At("out");
};

// Into the target under the file's name, else base(n).ext with n from the
// count of the target's files matching "*" and the monitored path's
// extension, going up past taken names; folders are never counted.
TEST_F(FileActionsTest, CopiesAndMovesAreNumberedAndNeverReplace) {
  const std::string report = Put(At("in/report.txt"), "new");
  struct Step {
    std::string monitored, expected, why;
    bool before = false;  // a.doc is put into the target first
  } steps[] = {
    {in_, "report.txt", "its own name"},
    {in_, "report(1).txt", "one file matches *"},
    {in_, "report(3).txt", "* counts every file, a.doc too", true},
    {".txt", "report(4).txt", "*.txt: report, (1) and (3) are three, and (3) is taken"},
  };
  for (const Step& step : steps) {
    if (step.before) Put(JoinPath(out_, "a.doc"));
    ActionResult r = CopyFileAction(report, out_, step.monitored);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.target, JoinPath(out_, step.expected)) << step.why;
  }
  EXPECT_EQ(Read(JoinPath(out_, "report.txt")), "new");
  EXPECT_EQ(Read(report), "new") << "a copy leaves the source";
  EXPECT_EQ(CountMatchingFiles(out_, "*.txt|*.doc"), 5u);

  // No extension, a taken numbered name skipped, a folder not counted.
  const std::string other = At("other");
  MakeDir(JoinPath(other, "sub"));
  Put(JoinPath(other, "readme"), "old");
  Put(JoinPath(other, "readme(1)"), "taken");
  ActionResult r = CopyFileAction(Put(At("in/readme"), "r"), other + kPathSeparator, in_);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.target, JoinPath(other, "readme(2)")) << "two files, not the folder; (1) is taken";
  EXPECT_EQ(Read(JoinPath(other, "readme(1)")), "taken");
  EXPECT_EQ(Read(JoinPath(other, "readme")), "old");

  // A move takes the same names.
  r = MoveFileAction(At("in/readme"), other, in_);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.target, JoinPath(other, "readme(3)"));
  EXPECT_FALSE(Exists(At("in/readme")));
  EXPECT_EQ(Read(r.target), "r");
  EXPECT_FALSE(HasOwnTemporary(other));
  EXPECT_FALSE(HasOwnTemporary(out_));
}

// A copy is known by its state as the action left it, not as it stands
// when looked at by name: a user's write right after it appears (an editor
// saving into the target) is theirs, and must not pass for the copy's echo.
TEST_F(FileActionsTest, ACopyTellsItselfAsItLeftItNotAsAWriterMadeIt) {
  const std::string src = Put(At("in/note.txt"), "made");
  std::optional<platform::FileStamp> made;
  bool written = false;
  ActionResult r = CopyFileAction(src, out_, in_, [&](const ActionChange& c) {
    if (c.kind != ActionChange::FileAppeared) return;
    made = c.made;
    // Windows keeps the copy's handle unshared until it lets go.
    std::ofstream add(PathFromUtf8(c.path), std::ios::binary | std::ios::app);
    written = add && (add << " and added to") && add.flush();
  });
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_TRUE(made.has_value()) << "the copy was told without its state";
  EXPECT_EQ(made->size, 4u);
  const std::optional<platform::FileStamp> now = platform::StampOf(r.target);
  ASSERT_TRUE(now.has_value());
  EXPECT_TRUE(now->SameFile(*made));
#ifndef _WIN32
  EXPECT_TRUE(written) << "nothing stops a user's write once the copy has its name";
#endif
  EXPECT_EQ(!now->SameContent(*made), written) << Read(r.target);
}

TEST_F(FileActionsTest, FailuresCarryTheSystemsReason) {
  const std::string in = Put(At("in/a.txt"));
  ActionResult r = CopyFileAction(in, At("missing"), in_);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.code, ENOENT);
  EXPECT_EQ(r.error, "没有那个文件或目录");
  r = MoveFileAction(At("in/none.txt"), out_, in_);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.code, ENOENT);
  r = DeleteFileAction(in_);
  EXPECT_EQ(r.code, EISDIR) << "not a file";
  r = DeleteDirectoryTree(At("in/none"));
  EXPECT_EQ(r.code, ENOENT);
  r = DeleteDirectoryTree(in);
  EXPECT_EQ(r.code, ENOTDIR);
}

TEST_F(FileActionsTest, ReadOnlyFilesAreNeitherDeletedNorReplaced) {
  const std::string plain = Put(At("in/plain.txt"));
  const std::string locked = Put(At("in/locked.txt"));
  SetReadOnly(locked);
  EXPECT_TRUE(DeleteFileAction(plain).ok);
  EXPECT_FALSE(Exists(plain));
  ActionResult r = DeleteFileAction(locked);
  EXPECT_EQ(r.code, EACCES) << r.error;
  EXPECT_TRUE(Exists(locked));

  // A copy numbers beside it.
  MakeDir(At("in/x"));
  r = CopyFileAction(Put(At("in/x/locked.txt"), "new"), in_, in_);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(Read(locked), "data");
}

TEST_F(FileActionsTest, FolderCopiesMergeAndMovesNeverReplace) {
  const std::string src = At("in/notes.2019");
  MakeDir(JoinPath(src, "sub"));
  Put(JoinPath(src, "a.txt"), "new a");
  Put(At("in/notes.2019/sub/b.txt"), "b");
  MakeDir(At("out/notes"));
  Put(At("out/notes/a.txt"), "old a");
  Put(At("out/notes/keep.txt"), "keep");
  ActionResult r = CopyDirectoryAction(src, out_);
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.target, At("out/notes")) << "the copy drops the last dot-suffix";
  EXPECT_EQ(Read(At("out/notes/a.txt")), "new a") << "existing files are replaced";
  EXPECT_EQ(Read(At("out/notes/keep.txt")), "keep");
  EXPECT_EQ(Read(At("out/notes/sub/b.txt")), "b");
  EXPECT_FALSE(HasOwnTemporary(At("out/notes")));
  EXPECT_EQ(CopyDirectoryAction(src, src).code, kTargetInsideSource);
  EXPECT_EQ(MoveDirectoryAction(src, JoinPath(src, "sub")).code, kTargetInsideSource);

  r = MoveDirectoryAction(src, out_);
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.target, At("out/notes.2019")) << "the move keeps the suffix";
  EXPECT_FALSE(Exists(src));
  MakeDir(src);
  EXPECT_FALSE(MoveDirectoryAction(src, out_).ok) << "never replaces";
  EXPECT_EQ(Read(At("out/notes.2019/sub/b.txt")), "b");

  // A tree deletion leaves nothing, a read-only file in it included where
  // the system removes such files (Linux); Windows keeps it.
  const std::string tree = At("out/notes.2019");
  MakeDir(JoinPath(tree, "deep/er"));
  Put(At("out/notes.2019/deep/er/x.txt"));
  r = DeleteDirectoryTree(tree);
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(Exists(tree));
}

// Names are UTF-8 on both systems: on Windows, UTF-16 beyond the code page.
TEST_F(FileActionsTest, NamesBeyondTheCodePageSurviveEveryAction) {
  const std::string name = "报告 😀 ünï";
  const std::string file = Put(JoinPath(in_, name + ".txt"), "内容");
  ActionResult r = CopyFileAction(file, out_, in_);
  ASSERT_TRUE(r.ok) << r.error;
  r = CopyFileAction(file, out_, in_);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.target, JoinPath(out_, name + "(1).txt"));
  EXPECT_EQ(Read(r.target), "内容");

  const std::string folder = JoinPath(in_, "目录 🌲.2019");
  MakeDir(JoinPath(folder, "子"));
  Put(JoinPath(JoinPath(folder, "子"), "文件.txt"), "深");
  r = CopyDirectoryAction(folder, out_);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.target, JoinPath(out_, "目录 🌲")) << "the copy drops the dot-suffix";
  EXPECT_EQ(Read(JoinPath(JoinPath(r.target, "子"), "文件.txt")), "深");
  r = MoveDirectoryAction(folder, out_);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(Read(JoinPath(JoinPath(r.target, "子"), "文件.txt")), "深");
  r = MoveFileAction(file, out_, in_);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.target, JoinPath(out_, name + "(2).txt")) << "two files counted, the folders not";
  r = DeleteDirectoryTree(JoinPath(out_, "目录 🌲"));
  ASSERT_TRUE(r.ok) << r.error;
  r = DeleteFileAction(JoinPath(out_, name + ".txt"));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(Names(out_), (std::vector<std::string>{name + "(1).txt", name + "(2).txt", "目录 🌲.2019"}));
}

}  // namespace
}  // namespace vantrel
