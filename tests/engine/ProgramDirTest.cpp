#include "engine/ProgramDir.h"

#include "TestDir.h"
#include "platform/ThisProcess.h"
#include "text/PathRoutines.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

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
  std::string error, notice;
  std::optional<std::string> dir = ChooseProgramDir(std::nullopt, error, notice);
  ASSERT_TRUE(dir) << error;
  EXPECT_EQ(*dir, CleanPath(platform::DefaultHome()));
#ifdef _WIN32
  EXPECT_NE(dir->find("\\Vantrel"), std::string::npos) << *dir;
  EXPECT_TRUE(IsAbsolutePath(*dir)) << *dir;
#endif
  EXPECT_TRUE(IsDirectoryPath(*dir)) << "the data folder is made";

  std::ofstream(PathFromUtf8(marker), std::ios::binary) << "[x]\r\n";
  dir = ChooseProgramDir(std::nullopt, error, notice);
  std::filesystem::remove(PathFromUtf8(marker));
  ASSERT_TRUE(dir) << error;
  EXPECT_EQ(*dir, CleanPath(beside));

  const std::string given = JoinPath(temp.Path(), "新 home/deeper");
  dir = ChooseProgramDir(given, error, notice);
  ASSERT_TRUE(dir) << error;
  EXPECT_EQ(*dir, CleanPath(given)) << "a given home is made, with its parents";
  EXPECT_TRUE(IsDirectoryPath(*dir));
  EXPECT_EQ(notice, "") << "nothing was carried anywhere";
}

// An install folder the user may not write: the rules an earlier version
// kept there are carried to the data home once, byte for byte, and said so;
// the originals stay, and a later start keeps what the user saved since.
TEST(ProgramDir, EarlierFilesBesideAProgramNobodyMayWriteAreCarriedOnce) {
  TestDir temp;
  const std::string beside = JoinPath(temp.Path(), "Program Files/Vantrel");
  const std::string dataHome = JoinPath(temp.Path(), "数据/Vantrel");
  std::filesystem::create_directories(PathFromUtf8(beside));
  const std::string rules = "\xd0\xc2\xbd\xa8\xce\xc4\xbc\xfe|C:\\in|\xa1\xbe\xb8\xb4\xd6\xc6\xce\xc4\xbc\xfe\xa1\xbf" "C:\\out|1\r\n";
  const std::string config = "[\xbc\xe0\xbf\xd8\xc9\xe8\xd6\xc3]\r\n";
  std::ofstream(PathFromUtf8(JoinPath(beside, "data.jl")), std::ios::binary) << rules;
  std::ofstream(PathFromUtf8(JoinPath(beside, "config.ini")), std::ios::binary) << config;
  auto read = [](const std::string& path) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };

  std::string error, notice;
  std::optional<std::string> dir = ChooseProgramDir(std::nullopt, {beside, false, dataHome}, error, notice);
  ASSERT_TRUE(dir) << error;
  EXPECT_EQ(*dir, CleanPath(dataHome));
  EXPECT_EQ(read(JoinPath(dataHome, "data.jl")), rules);
  EXPECT_EQ(read(JoinPath(dataHome, "config.ini")), config);
  EXPECT_EQ(read(JoinPath(beside, "data.jl")), rules) << "the originals stay";
  EXPECT_NE(notice.find(CleanPath(beside)), std::string::npos) << notice;
  EXPECT_NE(notice.find(CleanPath(dataHome)), std::string::npos) << notice;

  std::ofstream(PathFromUtf8(JoinPath(dataHome, "data.jl")), std::ios::binary) << "saved since";
  notice.clear();
  dir = ChooseProgramDir(std::nullopt, {beside, false, dataHome}, error, notice);
  ASSERT_TRUE(dir) << error;
  EXPECT_EQ(read(JoinPath(dataHome, "data.jl")), "saved since") << "carried once, never over the user's own";
  EXPECT_EQ(notice, "");

  // Where the user may write, the files stay in use where they are.
  const std::string otherHome = JoinPath(temp.Path(), "other");
  dir = ChooseProgramDir(std::nullopt, {beside, true, otherHome}, error, notice);
  ASSERT_TRUE(dir) << error;
  EXPECT_EQ(*dir, CleanPath(beside));
  EXPECT_FALSE(std::filesystem::exists(PathFromUtf8(JoinPath(otherHome, "data.jl"))));
}

}  // namespace
}  // namespace vantrel
