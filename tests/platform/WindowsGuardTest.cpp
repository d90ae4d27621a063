#include "platform/InstanceGuard.h"

#include "TestDir.h"
#include "platform/Waker.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>

namespace vantrel {
namespace {

TEST(WindowsGuard, OneCopyPerHomeWhateverItsNameAndRequestsReachIt) {
  TestDir temp;
  std::filesystem::create_directories(PathFromUtf8(temp.Path() + "/家 home"));
  const std::string home = temp.Path() + "\\家 home";
  std::string error;
  auto first = std::make_unique<InstanceGuard>(home, "vantrel-headless");
  ASSERT_EQ(first->Acquire(error), InstanceGuard::Result::Acquired) << error;

  // Other spellings of the same folder: forward slashes, a trailing
  // separator, ".." through a sibling.
  for (const std::string& other : {temp.Path() + "/家 home/", temp.Path() + "\\x\\..\\家 home"}) {
    std::filesystem::create_directories(PathFromUtf8(temp.Path() + "/x"));
    InstanceGuard second(other, "vantrel");
    EXPECT_EQ(second.Acquire(error), InstanceGuard::Result::Running) << other;
    EXPECT_EQ(second.RunningKind(), "vantrel-headless");
  }

  InstanceGuard later(home, "vantrel-headless");
  ASSERT_EQ(later.Acquire(error), InstanceGuard::Result::Running);
  EXPECT_FALSE(platform::IsRaised(first->RequestHandle(InstanceGuard::Request::Reload)));
  EXPECT_TRUE(later.Ask(InstanceGuard::Request::Reload));
  EXPECT_EQ(::WaitForSingleObject(first->RequestHandle(InstanceGuard::Request::Reload), 0), WAIT_OBJECT_0);
  EXPECT_NE(::WaitForSingleObject(first->RequestHandle(InstanceGuard::Request::Quit), 0), WAIT_OBJECT_0)
      << "a reload is not a quit";
  EXPECT_TRUE(later.Ask(InstanceGuard::Request::Quit));
  EXPECT_EQ(::WaitForSingleObject(first->RequestHandle(InstanceGuard::Request::Quit), 0), WAIT_OBJECT_0);
  EXPECT_TRUE(later.AskToComeForward());
  EXPECT_TRUE(first->TakeRequests());
  EXPECT_FALSE(first->TakeRequests()) << "one answer however often it was asked";

  EXPECT_FALSE(later.WaitUntilEnded(100)) << "the first copy still runs";
  first.reset();
  EXPECT_TRUE(later.WaitUntilEnded(1000));
  InstanceGuard next(home, "vantrel");
  EXPECT_EQ(next.Acquire(error), InstanceGuard::Result::Acquired) << "the home is free again";

  TestDir elsewhere;
  InstanceGuard another(elsewhere.Path(), "vantrel");
  EXPECT_EQ(another.Acquire(error), InstanceGuard::Result::Acquired) << "another home runs its own copy";
}

}  // namespace
}  // namespace vantrel
