#include "engine/CommandLine.h"

#include "platform/InstanceGuard.h"
#include "rules/ActionJournal.h"
#include "rules/RulePreview.h"
#include "text/PathRoutines.h"
#include "time/Clock.h"

#include <chrono>

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
    "  --undo[=N|=30m|=2h|=1d]  take back the last action (or the last N, or those\n"
    "                        of the last 30 minutes, 2 hours, a day) that rules\n"
    "                        took, from the journal of the home, and end: a copy\n"
    "                        is removed, a moved file goes back, while each is as\n"
    "                        the action left it and nothing would be replaced\n"
    "  --preview=N           what rule N of the rule list (from 1) would do now to\n"
    "                        the files already in its folder, without acting\n"
    "  -h, --help            this text\n"
    "\n"
    "Without a display it runs on the offscreen platform. SIGINT and SIGTERM end it\n"
    "the way the tray's \"退出程序\" does.\n";

namespace {

// A count of one or more, in at most six digits.
std::optional<int> PositiveCount(const std::string& text) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const int n = std::stoi(text);
  return n >= 1 ? std::optional<int>(n) : std::nullopt;
}

}  // namespace

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, std::string& error, bool requests) {
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
    } else if (requests && name == "--quit") {
      line.quit = true;
    } else if (requests && name == "--reload") {
      line.reload = true;
    } else if (name == "--undo") {
      line.undo = 1;
      if (hasValue) {
        // A count, or a span with its unit.
        const char unit = value.empty() ? '\0' : value.back();
        const bool span = unit == 'm' || unit == 'h' || unit == 'd';
        const std::optional<int> number = PositiveCount(span ? value.substr(0, value.size() - 1) : value);
        if (!number) {
          error = "vantrel: --undo takes a count of actions or a span, as --undo=3 or --undo=30m, not '" + value + "'";
          return std::nullopt;
        }
        if (span) {
          const std::int64_t minutes = unit == 'm' ? 1 : unit == 'h' ? 60 : 24 * 60;
          line.undoWithinMs = *number * minutes * 60 * 1000;
          line.undo = 1000000;
        } else {
          line.undo = *number;
        }
      }
    } else if (name == "--preview") {
      if (!take()) return std::nullopt;
      line.preview = PositiveCount(value);
      if (!line.preview) {
        error = "vantrel: --preview takes the number of a rule, from 1, not '" + value + "'";
        return std::nullopt;
      }
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

std::string UndoFromCommandLine(const std::string& home, const CommandLine& line, bool& ok) {
  // A copy running on the home would take what comes back into a rule's
  // folder for a new file, and act on it again: it takes back from its own
  // list. Held meanwhile, so that none starts in the middle.
  InstanceGuard guard(home, "vantrel-undo");
  std::string error;
  if (guard.Acquire(error) == InstanceGuard::Result::Running) {
    ok = false;
    return (guard.RunningKind().empty() ? std::string("vantrel") : guard.RunningKind()) + " 正在使用 " + home +
           ": 请在它的事件列表中撤销 (撤销, Ctrl+Z), 或先退出它再用 --undo\n";
  }
  ActionJournal journal(JoinPath(home, "journal.txt"));
  std::string text;
  ok = true;
  std::int64_t since = 0;
  if (line.undoWithinMs > 0)
    since = UnixMilliseconds() - line.undoWithinMs;
  for (const TakeBackResult& r : TakeBackLast(journal, static_cast<std::size_t>(line.undo.value_or(1)), since)) {
    text += r.text + "\n";
    for (const std::string& item : r.left) text += "  未动: " + item + "\n";
    ok = ok && r.done;
  }
  return text;
}

std::string PreviewFromCommandLine(const std::string& home, int row, bool& ok) {
  const RuleList rules = LoadRuleFile(JoinPath(home, "data.jl"));
  ok = row >= 1 && static_cast<std::size_t>(row) <= rules.size();
  if (!ok) return "规则列表中没有第 " + std::to_string(row) + " 条规则 (共 " + std::to_string(rules.size()) + " 条)\n";
  const MonitorRule& rule = rules[static_cast<std::size_t>(row) - 1];
  std::string text = "第 " + std::to_string(row) + " 条规则: " + rule.eventName + " " + rule.monitoredPath + " " +
                     rule.actionText + (rule.enabled ? "" : " (未启用)") + "\n";
  const RulePreview preview = PreviewRuleOnFolder(rule);
  if (!preview.note.empty()) return text + preview.note + "\n";
  for (const PreviewLine& line : preview.lines) text += line.path + "  →  " + line.what + "\n";
  text += preview.lines.empty() ? std::string("文件夹中现在没有此规则会处理的项目\n")
                                : "共 " + std::to_string(preview.lines.size()) + " 项" +
                                      (preview.more ? " (只列出前这些)" : "") + ", 均未执行\n";
  return text;
}

}  // namespace vantrel
