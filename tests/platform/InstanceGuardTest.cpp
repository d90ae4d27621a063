#include "platform/InstanceGuard.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {
namespace {

class InstanceGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_ = dir_.Path() + "/runtime";
    ::mkdir(runtime_.c_str(), 0700);
    home_ = dir_.Path() + "/home";
    ::mkdir(home_.c_str(), 0755);
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old) saved_ = old;
    ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
  }
  void TearDown() override {
    if (saved_.empty()) {
      ::unsetenv("XDG_RUNTIME_DIR");
    } else {
      ::setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
    }
  }
  TestDir dir_;
  std::string runtime_, home_, saved_;
};

TEST_F(InstanceGuardTest, TheHomeUnderAnotherNameIsTheSameHomeAndTellsWhoRuns) {
  std::string error;
  InstanceGuard first(home_, "vantrel-headless");
  ASSERT_EQ(first.Acquire(error), InstanceGuard::Result::Acquired) << error;
  EXPECT_EQ(first.Folder(), runtime_ + "/vantrel");
  std::filesystem::create_directory_symlink(home_, dir_.Path() + "/link");
  InstanceGuard second(dir_.Path() + "/link/", "vantrel");
  ASSERT_EQ(second.Acquire(error), InstanceGuard::Result::Running);
  EXPECT_EQ(second.RunningKind(), "vantrel-headless");

  EXPECT_FALSE(first.TakeRequests());
  ASSERT_TRUE(second.AskToComeForward());
  EXPECT_TRUE(first.TakeRequests());
  EXPECT_FALSE(first.TakeRequests()) << "each request counts once";

  InstanceGuard other(dir_.Path(), "vantrel");
  EXPECT_EQ(other.Acquire(error), InstanceGuard::Result::Acquired) << "another home runs beside it";
}

TEST_F(InstanceGuardTest, ARuntimeFolderOthersCanEnterIsNotUsed) {
  ::chmod(runtime_.c_str(), 0755);
  std::string error;
  InstanceGuard guard(home_, "vantrel");
  ASSERT_EQ(guard.Acquire(error), InstanceGuard::Result::Acquired) << error;
  EXPECT_NE(guard.Folder().rfind(runtime_, 0), 0u) << guard.Folder();
  struct stat st {};
  ASSERT_EQ(::lstat(guard.Folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace vantrel
