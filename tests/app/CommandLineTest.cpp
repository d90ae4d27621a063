#include "engine/CommandLine.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(CommandLine, OptionsAndTheirMistakes) {
  std::string error;
  auto line = ParseCommandLine({"--home", "/tmp/h", "--watch-backend=inotify"}, error);
  ASSERT_TRUE(line);
  EXPECT_EQ(line->home, "/tmp/h");
  EXPECT_EQ(line->backend, WatchBackend::Inotify);
  line = ParseCommandLine({}, error);
  ASSERT_TRUE(line);
  EXPECT_EQ(line->backend, WatchBackend::Auto);
  EXPECT_FALSE(line->home);

  EXPECT_FALSE(ParseCommandLine({"--verbose"}, error));
  EXPECT_NE(error.find("--verbose"), std::string::npos);
  EXPECT_EQ(error.find('\n'), std::string::npos) << "one line";
  EXPECT_TRUE(ParseCommandLine({"--help"}, error)->help);
  EXPECT_TRUE(ParseCommandLine({"--console"}, error)->console);
  EXPECT_NE(std::string(kUsage).find("--watch-backend"), std::string::npos);
  EXPECT_FALSE(ParseCommandLine({"--home"}, error));
  EXPECT_FALSE(ParseCommandLine({"--watch-backend", "dnotify"}, error));
  EXPECT_NE(error.find("dnotify"), std::string::npos);
}

}  // namespace
}  // namespace vantrel
