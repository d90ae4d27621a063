#pragma once
#include "monitor/WatchBackend.h"

#include <optional>
#include <string>
#include <vector>

namespace vantrel {

struct CommandLine {
  std::optional<std::string> home;
  WatchBackend backend = WatchBackend::Auto;
  bool help = false;
  bool console = false;
#ifdef _WIN32
  // Requests to the copy already running on the home, where Windows has no
  // signals to carry them.
  bool quit = false;
  bool reload = false;
#endif
};

// What --help prints.
extern const char* const kUsage;
extern const char* const kHeadlessUsage;

// Parses the program's own options (Qt has taken its own by then). On a
// mistake returns nothing and sets error to a one-line message.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, std::string& error);

}  // namespace vantrel
