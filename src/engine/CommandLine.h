#pragma once
#include "monitor/WatchBackend.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

struct CommandLine {
  std::optional<std::string> home;
  WatchBackend backend = WatchBackend::Auto;
  bool help = false;
  bool console = false;
  // Requests to the copy already running on the home, for a program on a
  // system without signals to carry them (--quit, --reload).
  bool quit = false;
  bool reload = false;
  // --undo[=N]: take back the last N actions the journal holds, and end;
  // --undo=30m (or 2h, 1d): those of the last so long.
  std::optional<int> undo;
  std::int64_t undoWithinMs = 0;
  // --preview=N: what rule N (from 1) would do now, without acting, and end.
  std::optional<int> preview;
};

// The answers of --undo and --preview, which read the home's files and end:
// the text to show, one line per item, and whether everything went well.
std::string UndoFromCommandLine(const std::string& home, const CommandLine& line, bool& ok);
std::string PreviewFromCommandLine(const std::string& home, int row, bool& ok);

// What the window's --help prints.
extern const char* const kUsage;

// Parses the program's own options (Qt has taken its own by then); the two
// requests only where asked to. On a mistake returns nothing and sets error
// to a one-line message.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, std::string& error,
                                            bool requests = false);

}  // namespace vantrel
