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
  std::optional<std::string> dir = ChooseProgramDir(std::nullopt, error);
  ASSERT_TRUE(dir) << error;
  EXPECT_EQ(*dir, CleanPath(platform::DefaultHome()));
#ifdef _WIN32
  EXPECT_NE(dir->find("\\Vantrel"), std::string::npos) << *dir;
  EXPECT_TRUE(IsAbsolutePath(*dir)) << *dir;
#endif
  EXPECT_TRUE(IsDirectoryPath(*dir)) << "the data folder is made";

  std::ofstream(PathFromUtf8(marker), std::ios::binary) << "[x]\r\n";
  dir = ChooseProgramDir(std::nullopt, error);
  std::filesystem::remove(PathFromUtf8(marker));
  ASSERT_TRUE(dir) << error;
  EXPECT_EQ(*dir, CleanPath(beside));

  const std::string given = JoinPath(temp.Path(), "新 home/deeper");
  dir = ChooseProgramDir(given, error);
  ASSERT_TRUE(dir) << error;
  EXPECT_EQ(*dir, CleanPath(given)) << "a given home is made, with its parents";
  EXPECT_TRUE(IsDirectoryPath(*dir));
}

}  // namespace
}  // namespace vantrel
