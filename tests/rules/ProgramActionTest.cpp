#include "rules/ProgramAction.h"
#include "text/AtomicFile.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<std::string> Args(const std::string& file) {
  std::string bytes;
  for (int i = 0; i < 300 && !(ReadWholeFile(file, bytes) && !bytes.empty() && bytes.back() == '\n'); ++i)
    std::this_thread::sleep_for(10ms);
  std::vector<std::string> args;
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\0') {
      args.push_back(bytes.substr(start, i - start));
      start = i + 1;
    }
  }
  return args;
}

class ProgramActionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Writes its arguments after the first, NUL-terminated, into the first.
    script_ = dir_ + "/record args";
    std::ofstream(script_) << "#!/bin/sh\nout=\"$1\"; shift\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$out\"\n"
                              "echo >> \"$out\"\n";
    ::chmod(script_.c_str(), 0755);
  }
  TestDir temp_;
  std::string dir_ = temp_.Path(), script_;
};

TEST(SplitWords, QuotesAndBackslashesGroupNothingExpands) {
  EXPECT_EQ(SplitWords("a  b\tc"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(SplitWords("'x y' \"p q\" r\\ s"), (std::vector<std::string>{"x y", "p q", "r s"}));
  EXPECT_EQ(SplitWords("\"a\\\"b\" '$HOME' $(id)"), (std::vector<std::string>{"a\"b", "$HOME", "$(id)"}));
  EXPECT_EQ(SplitWords("''"), (std::vector<std::string>{""}));
  EXPECT_TRUE(SplitWords("   ").empty());
}

TEST_F(ProgramActionTest, HostileFileNamesArriveAsOneArgumentAndNothingElseRuns) {
  std::string out = dir_ + "/out.bin";
  std::string hostile = dir_ + "/a b 'q' \"d\"; touch " + dir_ + "/PWNED $(touch " + dir_ + "/PWNED2) `x`§y\nz.txt";
  ProgramLaunch launch = RunProgramAction(script_ + "§'" + out + "' #路径 --name=#文件名§1", "n§ame", hostile);
  ASSERT_TRUE(launch.fieldsOk);
  ASSERT_TRUE(launch.started) << launch.error;
  EXPECT_EQ(Args(out), (std::vector<std::string>{hostile, "--name=n§ame"}));
  EXPECT_FALSE(fs::exists(dir_ + "/PWNED"));
  EXPECT_FALSE(fs::exists(dir_ + "/PWNED2"));
  EXPECT_EQ(launch.detail, script_ + " '" + out + "' " + hostile + " --name=n§ame");
}

TEST_F(ProgramActionTest, APlaceholderInAFileNameIsNeverFilledInAgain) {
  std::string out = dir_ + "/names.bin";
  std::string path = dir_ + "/in/x#路径y#文件名z";
  ProgramLaunch launch = RunProgramAction(script_ + "§" + out + " #文件名 #路径 #路径#文件名§1", "x#路径y#文件名z", path);
  ASSERT_TRUE(launch.started) << launch.error;
  EXPECT_EQ(Args(out), (std::vector<std::string>{"x#路径y#文件名z", path, path + "x#路径y#文件名z"}));
}

// A file planted in a watched folder chooses its own name: one that a
// program would read as an option reaches it as the file's full path
// wherever the name would begin an argument, and as itself elsewhere.
TEST_F(ProgramActionTest, ANameThatWouldReadAsAnOptionIsGivenAsItsPath) {
  const std::string out = dir_ + "/options.bin";
  const struct {
    std::string name, parameters;
    std::vector<std::string> args;
  } cases[] = {
      {"--output=INJECTED.txt", "#文件名", {dir_ + "/--output=INJECTED.txt"}},
      {"-rf", "#文件名.bak --in=#文件名 x#文件名", {dir_ + "/-rf.bak", "--in=-rf", "x-rf"}},
      {"-", "'#文件名' #路径", {dir_ + "/-", dir_ + "/-"}},
      {"plain-name", "#文件名 -#文件名", {"plain-name", "-plain-name"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramLaunch launch = RunProgramAction(script_ + "§" + out + " " + c.parameters + "§1", c.name, dir_ + "/" + c.name);
    ASSERT_TRUE(launch.started) << launch.error;
    EXPECT_EQ(Args(out), c.args);
    fs::remove(out);
  }
  // As the attack is made: sort given a planted name writes no file of its
  // choosing, and sorts the file instead.
  const std::string planted = dir_ + "/--output=INJECTED.txt";
  ASSERT_TRUE(WriteFileAtomically(planted, "b\na\n"));
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  ProgramLaunch launch = RunProgramAction("sort§#文件名§1", "--output=INJECTED.txt", planted);
  ASSERT_TRUE(launch.started) << launch.error;
  for (int i = 0; i < 300 && fs::exists("/proc/" + std::to_string(launch.pid)); ++i) std::this_thread::sleep_for(10ms);
  fs::current_path(before);
  EXPECT_FALSE(fs::exists(dir_ + "/INJECTED.txt")) << "the name was taken as an option";
  EXPECT_EQ(launch.detail, "sort " + planted);
}

TEST_F(ProgramActionTest, FieldsShowModesAndFailures) {
  EXPECT_FALSE(RunProgramAction("prog§x§", "a", "/a").fieldsOk) << "two fields";
  EXPECT_FALSE(RunProgramAction("prog", "a", "/a").fieldsOk);
  std::string out = dir_ + "/empty.bin";
  ProgramLaunch launch = RunProgramAction(script_ + "§" + out + "§3", "a", "/a");
  EXPECT_TRUE(launch.started);
  EXPECT_TRUE(Args(out).empty()) << "empty parameters, no arguments";
  launch = RunProgramAction(dir_ + "/no-such-program§x§0", "a", "/a");
  EXPECT_TRUE(launch.fieldsOk);
  EXPECT_FALSE(launch.started);
  EXPECT_FALSE(launch.error.empty());
  launch = RunProgramAction("no-such-program-on-path§x§abc", "a", "/a");
  EXPECT_FALSE(launch.started);
}

TEST_F(ProgramActionTest, StartedProgramsAreReaped) {
  ProgramLaunch launch = RunProgramAction("/bin/true§§1", "a", "/a");
  ASSERT_TRUE(launch.started);
  std::string status = "/proc/" + std::to_string(launch.pid);
  for (int i = 0; i < 300 && fs::exists(status); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(fs::exists(status)) << "no zombie left behind";
}

}  // namespace
}  // namespace vantrel
