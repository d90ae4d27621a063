#include "rules/ProgramAction.h"

#include "text/AtomicFile.h"
#include "text/TextRules.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vantrel {
namespace {

// One pass over the text: what a placeholder put in (a file named
// "x#路径y") is never searched again.
std::string Substitute(const std::string& field, const std::string& itemName, const std::string& path) {
  static constexpr std::string_view kName = "#文件名";
  static constexpr std::string_view kPath = "#路径";
  std::string out;
  std::size_t at = 0;
  for (;;) {
    std::size_t name = field.find(kName, at);
    std::size_t where = field.find(kPath, at);
    std::size_t next = std::min(name, where);
    if (next == std::string::npos) break;
    out.append(field, at, next - at);
    bool isName = next == name;
    out += isName ? itemName : path;
    at = next + (isName ? kName.size() : kPath.size());
  }
  out.append(field, at);
  return out;
}

// A program part that names something other than an executable (a document,
// a folder) is opened with the desktop's opener.
bool IsExecutable(const std::string& program) {
  if (program.find('/') == std::string::npos) return true;  // looked up in PATH
  struct stat st {};
  return ::stat(program.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(program.c_str(), X_OK) == 0;
}

}  // namespace

std::vector<std::string> SplitWords(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else if (c == '\'') {
      inWord = true;
      std::size_t close = text.find('\'', i + 1);
      if (close == std::string::npos) close = text.size();
      word.append(text, i + 1, close - i - 1);
      i = close;
    } else if (c == '"') {
      inWord = true;
      for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && std::strchr("\"\\$`\n", text[i + 1])) ++i;
        word += text[i];
      }
    } else if (c == '\\' && i + 1 < text.size()) {
      inWord = true;
      word += text[++i];
    } else {
      inWord = true;
      word += c;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

ProgramLaunch RunProgramAction(const std::string& operand, const std::string& itemName,
                               const std::string& effectivePath) {
  ProgramLaunch launch;
  // Split first, fill in afterwards: a "§" in a file name adds no fields.
  std::vector<std::string> fields = SplitText(operand, "§");
  if (fields.size() < 3) return launch;
  launch.fieldsOk = true;
  std::string program = Substitute(fields[0], itemName, effectivePath);
  std::vector<std::string> args;
  for (const std::string& word : SplitWords(fields[1])) args.push_back(Substitute(word, itemName, effectivePath));
  bool hidden = LeadingInteger(fields[2]) == 1;
  launch.detail = program + " " + Substitute(fields[1], itemName, effectivePath);

  std::vector<std::string> argv;
  if (IsExecutable(program)) {
    argv.push_back(program);
    argv.insert(argv.end(), args.begin(), args.end());
  } else {
    argv = {"xdg-open", program};
  }
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own session, so it outlives us and takes no signals meant for us;
  // the signals we take as events are its own again.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  if (hidden) {
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, cargv[0], &files, &attr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    launch.error = FileErrorText(rc);
    return launch;
  }
  launch.started = true;
  launch.pid = pid;
  // Not waited for, but reaped when it ends, so no zombie is left.
  std::thread([pid] {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return launch;
}

}  // namespace vantrel
