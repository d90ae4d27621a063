#include "engine/CommandLine.h"

namespace vantrel {

const char* const kUsage =
    "usage: vantrel [--home DIR] [--watch-backend auto|fanotify|inotify] [--console]\n"
    "\n"
    "Watches the file system and carries out the rules of its rule list when a\n"
    "change matches. The interface is Chinese.\n"
    "\n"
    "  --home DIR            where config.ini, data.jl and log/ live (default: the\n"
    "                        program's folder, or $XDG_DATA_HOME/vantrel when that\n"
    "                        cannot be written)\n"
    "  --watch-backend B     fanotify: every local file system, through the watch\n"
    "                        helper installed beside the program (sudo cmake\n"
    "                        --install build, or scripts/run.sh run as root), or\n"
    "                        directly when run as root; inotify: the home folder\n"
    "                        and removable media, or the rules' folders; auto\n"
    "                        (default): fanotify where it starts, else inotify\n"
    "  --console             every event, action and error also to the terminal\n"
    "  -h, --help            this text\n"
    "\n"
    "Without a display it runs on the offscreen platform. SIGINT and SIGTERM end it\n"
    "the way the tray's \"退出程序\" does.\n";

#ifdef _WIN32
const char* const kHeadlessUsage =
    "usage: vantrel-headless.exe [--home DIR] [--console] [--quit | --reload]\n"
    "\n"
    "Carries out the rules of Vantrel's rule list without a window: the same\n"
    "home, rules, settings and log as the window, and only one of the two runs\n"
    "on one home.\n"
    "\n"
    "  --home DIR            where config.ini, data.jl and log\\ live (default: the\n"
    "                        program's folder where an earlier version left its\n"
    "                        files there, else %APPDATA%\\Vantrel)\n"
    "  --console             every event, action and error also to the console\n"
    "  --quit                asks the copy running on the home to end the way\n"
    "                        \"退出程序\" ends the window, and waits until it has\n"
    "  --reload              asks the copy running on the home to read data.jl\n"
    "                        and config.ini again\n"
    "  -h, --help            this text\n"
    "\n"
    "Every fixed and removable drive is watched, or only the rules' folders.\n"
    "Prompts go to the console and the Application event log; questions take\n"
    "their default answer. Ctrl+C, Ctrl+Break and closing the console end it\n"
    "the way \"退出程序\" does.\n";
#else
const char* const kHeadlessUsage =
    "usage: vantrel-headless [--home DIR] [--watch-backend auto|fanotify|inotify] [--console]\n"
    "\n"
    "Carries out the rules of Vantrel's rule list without a window, for machines\n"
    "and sessions without a desktop: the same home, rules, settings and log as\n"
    "vantrel, and only one of the two runs on one home.\n"
    "\n"
    "  --home DIR            where config.ini, data.jl and log/ live\n"
    "  --watch-backend B     as for vantrel\n"
    "  --console             every event, action and error also to standard error\n"
    "  -h, --help            this text\n"
    "\n"
    "Prompts go to standard error and the system log; questions take their\n"
    "default answer. SIGINT and SIGTERM end it the way \"退出程序\" ends the\n"
    "window; SIGHUP reads data.jl and config.ini again.\n";
#endif

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
    if (name == "--help" || name == "-h") {
      line.help = true;
    } else if (name == "--console") {
      line.console = true;
#ifdef _WIN32
    } else if (name == "--quit") {
      line.quit = true;
    } else if (name == "--reload") {
      line.reload = true;
#endif
    } else if (name == "--home") {
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
      error = "vantrel: unknown option '" + arg + "' (see vantrel --help)";
      return std::nullopt;
    }
  }
  return line;
}

}  // namespace vantrel
