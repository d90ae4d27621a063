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

// --undo takes nothing, a count or a span; --preview the number of a rule.
TEST(CommandLine, UndoAndPreviewTakeACountOrASpan) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
    int undo, preview;
    std::int64_t withinMs;
  };
  const Case cases[] = {
      {{"--undo"}, true, 1, 0, 0},
      {{"--undo=3"}, true, 3, 0, 0},
      {{"--undo=30m"}, true, 1000000, 0, 30 * 60 * 1000},
      {{"--undo=2h"}, true, 1000000, 0, 2 * 3600 * 1000},
      {{"--undo=1d"}, true, 1000000, 0, 24 * 3600 * 1000},
      {{"--preview", "2"}, true, 0, 2, 0},
      {{"--undo=0"}, false, 0, 0, 0},
      {{"--undo=5x"}, false, 0, 0, 0},
      {{"--undo=m"}, false, 0, 0, 0},
      {{"--preview=0"}, false, 0, 0, 0},
      {{"--preview"}, false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    std::string error;
    const std::optional<CommandLine> line = ParseCommandLine(c.args, error);
    ASSERT_EQ(line.has_value(), c.ok) << c.args[0] << ": " << error;
    if (!line) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(line->undo.value_or(0), c.undo) << c.args[0];
    EXPECT_EQ(line->preview.value_or(0), c.preview) << c.args[0];
    EXPECT_EQ(line->undoWithinMs, c.withinMs) << c.args[0];
  }
}

}  // namespace
}  // namespace vantrel
