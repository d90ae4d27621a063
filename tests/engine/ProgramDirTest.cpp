#include "engine/ProgramDir.h"

#include "TestDir.h"
#include "platform/ThisProcess.h"
#include "text/PathRoutines.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace vantrel {
namespace {

// The files stay where an earlier version kept them beside the program;
// otherwise they go to the user's data folder, never into the program's.
TEST(ProgramDir, BesideTheProgramOnlyWhereEarlierFilesAreThere) {
  const std::string beside = platform::ExecutableFolder();
  ASSERT_FALSE(beside.empty());
  ASSERT_TRUE(IsAbsolutePath(beside)) << beside;
  const std::string marker = JoinPath(beside, "config.ini");
  ASSERT_FALSE(std::filesystem::exists(PathFromUtf8(marker))) << "a config.ini was left beside the tests";

  TestDir temp;
#ifndef _WIN32
  // Not the real user's data folder.
  ::setenv("XDG_DATA_HOME", temp.Path().c_str(), 1);
#endif
  std::string error;
  ASSERT_TRUE(InitProgramDir(std::nullopt, error)) << error;
  EXPECT_EQ(ProgramDir(), CleanPath(platform::DefaultHome()));
#ifdef _WIN32
  EXPECT_NE(ProgramDir().find("\\Vantrel"), std::string::npos) << ProgramDir();
  EXPECT_TRUE(IsAbsolutePath(ProgramDir())) << ProgramDir();
#endif
  EXPECT_TRUE(IsDirectoryPath(ProgramDir())) << "the data folder is made";

  std::ofstream(PathFromUtf8(marker), std::ios::binary) << "[x]\r\n";
  const bool found = InitProgramDir(std::nullopt, error);
  std::filesystem::remove(PathFromUtf8(marker));
  ASSERT_TRUE(found) << error;
  EXPECT_EQ(ProgramDir(), CleanPath(beside));

  const std::string given = JoinPath(temp.Path(), "新 home/deeper");
  ASSERT_TRUE(InitProgramDir(given, error)) << error;
  EXPECT_EQ(ProgramDir(), CleanPath(given)) << "a given home is made, with its parents";
  EXPECT_TRUE(IsDirectoryPath(ProgramDir()));
}

}  // namespace
}  // namespace vantrel
