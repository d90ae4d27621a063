// The judgement of a whole file keeps the file it first saw, on both
// systems: renamed within its folder it is followed, replaced it is judged
// afresh, removed it is gone once it has stayed away a while.
#include "rules/WholeFile.h"
#include "text/AtomicFile.h"
#include "text/PathRoutines.h"

#include "TestDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vantrel {
namespace {

using State = WholeFileWatch::State;
using namespace std::chrono_literals;

TEST(WholeFileWatchTest, KeepsTheFileItSawByIdentity) {
  TestDir dir;
  const std::string part = JoinPath(dir.Path(), "report.part"), done = JoinPath(dir.Path(), "report.pdf");
  ASSERT_TRUE(WriteFileAtomically(part, "content"));
  WholeFileWatch watch(part);
  const auto t0 = WholeFileWatch::Clock::now();
  ASSERT_EQ(watch.Check(t0), State::Whole);
  ASSERT_TRUE(watch.LastSeen());
  const platform::FileStamp first = *watch.LastSeen();

  std::filesystem::rename(PathFromUtf8(part), PathFromUtf8(done));
  EXPECT_EQ(watch.Check(t0), State::Whole);
  EXPECT_EQ(watch.Path(), done) << "followed to its new name in the folder";

  // A save by rename: another file takes the name.
  ASSERT_TRUE(WriteFileAtomically(done, "saved again"));
  EXPECT_EQ(watch.Check(t0), State::Whole);
  ASSERT_TRUE(watch.LastSeen());
  EXPECT_NE(watch.LastSeen()->id, first.id) << "the newcomer is the one judged";

  // A rename told by the change source, into another folder.
  const std::string sub = JoinPath(dir.Path(), "sub");
  std::filesystem::create_directory(PathFromUtf8(sub));
  std::filesystem::rename(PathFromUtf8(done), PathFromUtf8(JoinPath(sub, "report.pdf")));
  EXPECT_EQ(watch.Check(t0), State::BeingWritten) << "out of sight: not yet taken as removed";
  EXPECT_TRUE(watch.Follow(done, JoinPath(sub, "report.pdf")));
  EXPECT_EQ(watch.Check(t0), State::Whole);

  std::filesystem::remove(PathFromUtf8(JoinPath(sub, "report.pdf")));
  EXPECT_EQ(watch.Check(t0), State::BeingWritten);
  EXPECT_EQ(watch.Check(t0 + WholeFileWatch::kSteady - 1ms), State::BeingWritten);
  EXPECT_EQ(watch.Check(t0 + WholeFileWatch::kSteady), State::Gone);

  WholeFileWatch never(JoinPath(dir.Path(), "never-there"));
  EXPECT_EQ(never.Check(t0), State::Whole) << "never seen: the action tells what it finds";
}

}  // namespace
}  // namespace vantrel
