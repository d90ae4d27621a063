#include "rules/ActionJournal.h"
#include "rules/ActionQueue.h"
#include "text/PathRoutines.h"
#include "FileHelpers.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <vector>

#ifdef _WIN32
#include "platform/windows/Wide.h"
#include "rules/windows/RecycleBin.h"
#endif

namespace vantrel {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
// Removes, at the end, the Recycle Bin a test made.
struct MadeBin {
  std::string folder;
  ~MadeBin() {
    std::error_code ec;
    if (!folder.empty()) fs::remove_all(PathFromUtf8(folder), ec);
  }
};
#endif

class ActionJournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"in", "out", "moved"}) fs::create_directories(PathFromUtf8(Path(d)));
    queue_.SetJournal(&journal_);
  }
  std::string Path(const std::string& name) const { return CleanPath(JoinPath(temp_.Path(), name)); }
  void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(PathFromUtf8(path), std::ios::binary) << bytes;
  }
  // A file made in "in", and the rule's action on it, done.
  void Act(const std::string& name, const std::string& action, bool toTrash = false) {
    const std::string path = JoinPath(Path("in"), name);
    Put(path, "bytes of " + name);
    ActionJob job{path, EventKind::FileCreated, name, {}, false, {{"新建文件", Path("in"), action}}};
    job.judgedWhole = true;
    job.toTrash = toTrash;
    queue_.Submit(std::move(job));
    queue_.WaitIdle();
  }
  bool Exists(const std::string& path) { return fs::exists(PathFromUtf8(path)); }

  TestDir temp_;
  ActionJournal journal_{Path("journal.txt")};
  ActionQueue queue_{ActionOutputs{}};
};

// Copies and moves are recorded with what they made; the newest are taken
// back first; what changed since, or whose place is taken, is left alone.
TEST_F(ActionJournalTest, CopiesAndMovesAreTakenBackOnlyWhileAsTheyWereLeft) {
  Act("a.txt", "【复制文件】" + Path("out"));
  Act("b.txt", "【移动文件】" + Path("moved"));
  Act("c.txt", "【复制文件】" + Path("out"));
  Act("d.txt", "【移动文件】" + Path("moved"));
  const std::vector<JournalEntry> entries = journal_.Entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].operation, Operation::Copy);
  EXPECT_EQ(entries[0].source, JoinPath(Path("in"), "a.txt"));
  EXPECT_EQ(entries[0].target, JoinPath(Path("out"), "a.txt")) << "the copy made, not the folder";
  EXPECT_EQ(entries[1].target, JoinPath(Path("moved"), "b.txt"));
  for (const JournalEntry& e : entries) {
    EXPECT_EQ(e.state, JournalEntry::State::Done);
    EXPECT_TRUE(e.result.has_value());
    EXPECT_LT(entries[0].seq, e.seq + 1);
  }

  // The move of d: its old place is taken meanwhile, so it stays; the copy
  // of c was written to since, so it stays too.
  Put(JoinPath(Path("in"), "d.txt"), "somebody else's");
  Put(JoinPath(Path("out"), "c.txt"), "changed by the user");
  std::vector<TakeBackResult> results = TakeBackLast(journal_, 2);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_FALSE(results[0].done);
  EXPECT_NE(results[0].text.find("已被占用"), std::string::npos) << results[0].text;
  EXPECT_FALSE(results[1].done);
  EXPECT_NE(results[1].text.find("已被改变"), std::string::npos) << results[1].text;
  EXPECT_EQ(Read(JoinPath(Path("in"), "d.txt")), "somebody else's") << "nothing replaced";
  EXPECT_EQ(Read(JoinPath(Path("moved"), "d.txt")), "bytes of d.txt");
  EXPECT_EQ(Read(JoinPath(Path("out"), "c.txt")), "changed by the user");

  // Once the place is free again, the move goes back; then b's, then a's copy.
  fs::remove(PathFromUtf8(JoinPath(Path("in"), "d.txt")));
  results = TakeBackLast(journal_, 1);
  ASSERT_TRUE(results[0].done) << results[0].text;
  EXPECT_EQ(Read(JoinPath(Path("in"), "d.txt")), "bytes of d.txt");
  EXPECT_FALSE(Exists(JoinPath(Path("moved"), "d.txt")));
  results = TakeBackLast(journal_, 3);
  ASSERT_EQ(results.size(), 3u) << "c's copy is asked again, and refused again";
  EXPECT_FALSE(results[0].done);
  EXPECT_TRUE(results[1].done) << results[1].text;
  EXPECT_TRUE(results[2].done) << results[2].text;
  EXPECT_EQ(Read(JoinPath(Path("in"), "b.txt")), "bytes of b.txt");
  EXPECT_FALSE(Exists(JoinPath(Path("out"), "a.txt")));
  EXPECT_TRUE(Exists(JoinPath(Path("in"), "a.txt"))) << "a copy's source is never touched";
  EXPECT_EQ(ActionJournal(Path("journal.txt")).Entries()[0].state, JournalEntry::State::TakenBack)
      << "recorded, and so never taken back twice";
  EXPECT_FALSE(TakeBackLast(journal_, 1)[0].done);
}

// A folder's copy and move are taken back item by item: what changed since
// stays and is named; a move goes back whole by its name, or item by item
// when it crossed file systems; a taken place refuses it.
TEST_F(ActionJournalTest, FoldersAreTakenBackItemByItem) {
  auto tree = [&](const std::string& top) {
    fs::create_directories(PathFromUtf8(JoinPath(top, "sub")));
    Put(JoinPath(top, "a.txt"), "a");
    Put(JoinPath(JoinPath(top, "sub"), "b.txt"), "b");
    Put(JoinPath(JoinPath(top, "sub"), "c.txt"), "c");
  };
  auto actOnFolder = [&](const std::string& folder, const std::string& watched, const std::string& action) {
    ActionJob job{folder, EventKind::FolderCreated, PathFileName(folder), {}, false, {{"新建目录", watched, action}}};
    queue_.Submit(std::move(job));
    queue_.WaitIdle();
    return journal_.Entries().back();
  };
  const std::string out = Path("out"), moved = Path("moved");

  // The copy: b changed by the user stays, with its folder; the rest goes.
  tree(JoinPath(Path("in"), "D"));
  const JournalEntry copied = actOnFolder(JoinPath(Path("in"), "D"), Path("in"), "【复制文件】" + out);
  EXPECT_EQ(copied.target, JoinPath(out, "D"));
  EXPECT_EQ(copied.items.size(), 5u) << "the folder, sub and three files";
  ASSERT_TRUE(CanBeTakenBack(copied));
  Put(JoinPath(out, "D/sub/b.txt"), "the user's b");
  TakeBackResult r = TakeBack(copied);
  EXPECT_FALSE(r.done);
  ASSERT_EQ(r.left.size(), 1u) << r.text;
  EXPECT_NE(r.left[0].find("b.txt (此后已被改变)"), std::string::npos) << r.left[0];
  EXPECT_EQ(Read(JoinPath(out, "D/sub/b.txt")), "the user's b");
  EXPECT_FALSE(Exists(JoinPath(out, "D/a.txt")));
  EXPECT_FALSE(Exists(JoinPath(out, "D/sub/c.txt")));
  EXPECT_EQ(Read(JoinPath(Path("in"), "D/sub/b.txt")), "b") << "a copy's source is never touched";

  // The move by its name: refused while the old place is taken.
  tree(JoinPath(Path("in"), "M"));
  const JournalEntry move = actOnFolder(JoinPath(Path("in"), "M"), Path("in"), "【移动文件】" + moved);
  ASSERT_TRUE(CanBeTakenBack(move));
  fs::create_directories(PathFromUtf8(JoinPath(Path("in"), "M")));
  r = TakeBack(move);
  EXPECT_FALSE(r.done);
  EXPECT_NE(r.text.find("已被占用"), std::string::npos) << r.text;
  fs::remove(PathFromUtf8(JoinPath(Path("in"), "M")));
  r = TakeBack(move);
  EXPECT_TRUE(r.done) << r.text;
  EXPECT_EQ(Read(JoinPath(Path("in"), "M/sub/c.txt")), "c");
  EXPECT_FALSE(Exists(JoinPath(moved, "M")));

#ifndef _WIN32
  // Across file systems: each file back to its place, the folders made at
  // the target gone once empty; one whose place is taken stays.
  TestDir shm("/dev/shm");
  if (!shm.Made()) GTEST_SKIP() << "no tmpfs at /dev/shm to move from";
  const std::string far = JoinPath(shm.Path(), "X");
  tree(far);
  const JournalEntry across = actOnFolder(far, shm.Path(), "【移动文件】" + moved);
  ASSERT_FALSE(Exists(far)) << "moved across";
  EXPECT_EQ(across.items.size(), 5u);
  fs::create_directories(PathFromUtf8(JoinPath(far, "sub")));
  Put(JoinPath(far, "sub/c.txt"), "somebody's c");
  r = TakeBack(across);
  EXPECT_FALSE(r.done);
  ASSERT_EQ(r.left.size(), 1u) << r.text;
  EXPECT_NE(r.left[0].find("已被占用"), std::string::npos) << r.left[0];
  EXPECT_EQ(Read(JoinPath(far, "a.txt")), "a");
  EXPECT_EQ(Read(JoinPath(far, "sub/b.txt")), "b");
  EXPECT_EQ(Read(JoinPath(far, "sub/c.txt")), "somebody's c") << "nothing replaced";
  EXPECT_EQ(Read(JoinPath(moved, "X/sub/c.txt")), "c");
  EXPECT_FALSE(Exists(JoinPath(moved, "X/a.txt")));

  // A single file moved across comes back the same way.
  Put(JoinPath(shm.Path(), "f.txt"), "f");
  ActionJob job{JoinPath(shm.Path(), "f.txt"), EventKind::FileCreated, "f.txt", {}, false,
                {{"新建文件", shm.Path(), "【移动文件】" + moved}}};
  job.judgedWhole = true;
  queue_.Submit(std::move(job));
  queue_.WaitIdle();
  r = TakeBack(journal_.Entries().back());
  EXPECT_TRUE(r.done) << r.text;
  EXPECT_EQ(Read(JoinPath(shm.Path(), "f.txt")), "f");
  EXPECT_FALSE(Exists(JoinPath(moved, "f.txt")));
#endif
}

// With deletions set to go to the trash, a deleted file can be put back: on
// Linux from the freedesktop.org trash of its file system, with its info
// file; on Windows from the user's part of the volume's Recycle Bin, as an
// item and its information the Recycle Bin lists itself. Where the volume
// has none yet, the shell's own deletion keeps where it went to itself, and
// the Recycle Bin puts it back.
TEST_F(ActionJournalTest, ADeletionToTheTrashIsPutBack) {
#ifndef _WIN32
  const char* was = std::getenv("XDG_DATA_HOME");
  const std::string before = was ? was : "";
  fs::create_directories(PathFromUtf8(Path("data")));
  ::setenv("XDG_DATA_HOME", Path("data").c_str(), 1);
  const std::string bin = Path("data") + "/Trash/files";
#else
  const std::string bin = RecycleBinFor(Path("in"));
  ASSERT_FALSE(bin.empty());
  std::error_code ec;
  const bool made = !fs::exists(PathFromUtf8(bin), ec);
  if (made) {
    Act("shell.txt", "【删除文件】", true);
    EXPECT_FALSE(Exists(JoinPath(Path("in"), "shell.txt")));
    const JournalEntry byShell = journal_.Entries().back();
    EXPECT_FALSE(CanBeTakenBack(byShell));
    const TakeBackResult refused = TakeBack(byShell);
    EXPECT_FALSE(refused.done);
    EXPECT_NE(refused.text.find("请从回收站还原"), std::string::npos) << refused.text;
    fs::create_directories(PathFromUtf8(bin));
  }
  const MadeBin cleanup{made ? std::string(FolderPart(bin)) : std::string()};
#endif
  Act("gone.txt", "【删除文件】", true);
  const std::string gone = JoinPath(Path("in"), "gone.txt");
  EXPECT_FALSE(Exists(gone));
  const JournalEntry entry = journal_.Entries().back();
  EXPECT_EQ(entry.operation, Operation::Delete);
  EXPECT_EQ(entry.source, gone);
  EXPECT_EQ(std::string(FolderPart(entry.target)), bin) << entry.target;
#ifndef _WIN32
  EXPECT_EQ(entry.target, bin + "/gone.txt");
  const std::string info = Read(Path("data") + "/Trash/info/gone.txt.trashinfo");
  const std::string infoPath = Path("data") + "/Trash/info/gone.txt.trashinfo";
#else
  const std::string name = PathFileName(entry.target);
  EXPECT_EQ(name.substr(0, 2), "$R") << name;
  EXPECT_EQ(name.substr(name.size() - 4), ".txt") << name;
  const std::string infoPath = JoinPath(bin, "$I" + name.substr(2));
  const std::string info = Read(infoPath);
  // The shell's own form: version 2, the size, the time, the path's length
  // in characters and the path.
  ASSERT_GT(info.size(), 28u);
  EXPECT_EQ(info[0], 2);
  const std::wstring wide = platform::WideFromUtf8(gone);
  EXPECT_EQ(info.substr(28, wide.size() * 2), std::string(reinterpret_cast<const char*>(wide.c_str()), wide.size() * 2));
#endif
  const std::vector<TakeBackResult> results = TakeBackLast(journal_, 1);
#ifndef _WIN32
  ::setenv("XDG_DATA_HOME", before.c_str(), 1);
  if (!was) ::unsetenv("XDG_DATA_HOME");
  EXPECT_NE(info.find("Path=" + gone + "\n"), std::string::npos) << info;
#endif
  ASSERT_TRUE(results[0].done) << results[0].text;
  EXPECT_EQ(Read(gone), "bytes of gone.txt");
  EXPECT_FALSE(Exists(infoPath));
  // For good, as by default: nothing to take back.
  Act("for-good.txt", "【删除文件】");
  EXPECT_FALSE(Exists(JoinPath(Path("in"), "for-good.txt")));
  EXPECT_FALSE(CanBeTakenBack(journal_.Entries().back()));
}

// A kill between the start of an action and its end leaves a begun record:
// the next start tells it once; a line the kill cut short is skipped; the
// journal turns over at its bound and still holds what came before.
TEST_F(ActionJournalTest, UnfinishedActionsAreToldOnceAndTheJournalIsBounded) {
  Act("a.txt", "【复制文件】" + Path("out"));
  const std::uint64_t cut = journal_.Begin(Operation::Move, false, JoinPath(Path("in"), "big.iso"), Path("moved"));
  {
    std::ofstream torn(PathFromUtf8(Path("journal.txt")), std::ios::binary | std::ios::app);
    torn << "E\t" << cut << "\t1\t/half";
  }
  ActionJournal next(Path("journal.txt"));
  const std::vector<JournalEntry> unfinished = next.Recover();
  ASSERT_EQ(unfinished.size(), 1u);
  EXPECT_EQ(unfinished[0].seq, cut);
  EXPECT_EQ(unfinished[0].source, JoinPath(Path("in"), "big.iso"));
  EXPECT_TRUE(ActionJournal(Path("journal.txt")).Recover().empty()) << "told once";
  EXPECT_EQ(next.Entries()[0].state, JournalEntry::State::Done) << "the finished one can still be taken back";

  ActionJournal small(Path("small.txt"), 400);
  std::uint64_t last = 0;
  for (int i = 0; i < 20; ++i) {
    last = small.Begin(Operation::Copy, false, "/in/" + std::to_string(i) + "\tname\n", "/out");
    small.End(last, true, "/out/" + std::to_string(i), std::nullopt);
  }
  EXPECT_TRUE(Exists(Path("small.txt.1"))) << "turned over";
  EXPECT_LE(fs::file_size(PathFromUtf8(Path("small.txt"))), 400u);
  const std::vector<JournalEntry> kept = small.Entries();
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(kept.back().seq, last);
  EXPECT_EQ(kept.back().source, "/in/19\tname\n") << "tabs and line ends survive";
  EXPECT_EQ(ActionJournal(Path("small.txt"), 400).Begin(Operation::Copy, false, "/x", "/y"), last + 1)
      << "numbers go on across the turn";
}

}  // namespace
}  // namespace vantrel
