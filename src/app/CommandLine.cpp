#include "app/CommandLine.h"

namespace vantrel {

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, std::string& error) {
  CommandLine line;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string value;
    bool hasValue = false;
    std::string name = arg;
    if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      hasValue = true;
    }
    auto take = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= args.size()) {
        error = "vantrel: option " + name + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    if (name == "--home") {
      if (!take()) return std::nullopt;
      if (value.empty()) {
        error = "vantrel: --home needs a directory";
        return std::nullopt;
      }
      line.home = value;
    } else if (name == "--watch-backend") {
      if (!take()) return std::nullopt;
      if (value == "auto") {
        line.backend = WatchBackend::Auto;
      } else if (value == "fanotify") {
        line.backend = WatchBackend::Fanotify;
      } else if (value == "inotify") {
        line.backend = WatchBackend::Inotify;
      } else {
        error = "vantrel: --watch-backend must be auto, fanotify or inotify, not '" + value + "'";
        return std::nullopt;
      }
    } else {
      error = "vantrel: unknown option '" + arg + "' (options: --home DIR, --watch-backend auto|fanotify|inotify)";
      return std::nullopt;
    }
  }
  return line;
}

}  // namespace vantrel
