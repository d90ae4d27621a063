#include "rules/ProgramAction.h"

#include "text/PathRoutines.h"
#include "text/TextRules.h"

#include <algorithm>
#include <cstring>

namespace vantrel {
namespace {

// Whether a program would read an argument beginning with the value as an
// option: a dash on either system, and a slash where options are written
// so (Windows, whose file names never begin with one).
bool ReadAsOption(std::string_view value) {
  return !value.empty() && (value[0] == '-' || (value[0] == '/' && kPathSeparator == '\\'));
}

// Where an argument begins in text being filled in: a word of its own, or
// the parameter text as shown, where blanks and quotes begin one.
enum class Begins { AtStart, AfterBlank };

// One pass over the text: what a placeholder put in (a file named
// "x#路径y") is never searched again. A name that would begin an argument
// and be read as an option (a planted "--output=x" or "-rf") is given as
// its full path, which names the same file and reads as a path.
std::string Substitute(const std::string& field, const std::string& itemName, const std::string& path,
                       Begins begins = Begins::AtStart) {
  static constexpr std::string_view kName = "#文件名";
  static constexpr std::string_view kPath = "#路径";
  const bool safeName = !ReadAsOption(itemName);
  std::string out;
  std::size_t at = 0;
  for (;;) {
    std::size_t name = field.find(kName, at);
    std::size_t where = field.find(kPath, at);
    std::size_t next = std::min(name, where);
    if (next == std::string::npos) break;
    out.append(field, at, next - at);
    bool isName = next == name;
    const bool argumentStart =
        out.empty() || (begins == Begins::AfterBlank && std::strchr(" \t\n\"'", out.back()) != nullptr);
    out += isName && (safeName || !argumentStart) ? itemName : path;
    at = next + (isName ? kName.size() : kPath.size());
  }
  out.append(field, at);
  return out;
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

std::vector<std::string> SplitCommandLine(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (!quoted && (c == ' ' || c == '\t' || c == '\n')) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '\\') {
      std::size_t n = 0;
      while (i < text.size() && text[i] == '\\') ++n, ++i;
      if (i < text.size() && text[i] == '"') {
        // 2n backslashes before a quote are n and the quote counts; 2n+1
        // are n and a quote of the text.
        word.append(n / 2, '\\');
        if (n % 2) {
          word += '"';
        } else {
          quoted = !quoted;
        }
      } else {
        word.append(n, '\\');
        --i;
      }
    } else if (c == '"') {
      // Inside quotes, a doubled quote is one of the text, as the C runtime
      // has read it since 2008.
      if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
        word += '"';
        ++i;
      } else {
        quoted = !quoted;
      }
    } else {
      word += c;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

std::string QuoteCommandLineArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) return argument;
  std::string out = "\"";
  for (std::size_t i = 0;; ++i) {
    std::size_t backslashes = 0;
    while (i < argument.size() && argument[i] == '\\') ++backslashes, ++i;
    if (i == argument.size()) {
      // Doubled, so that the closing quote stays a quote.
      out.append(backslashes * 2, '\\');
      break;
    }
    if (argument[i] == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    out += argument[i];
  }
  return out + "\"";
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
  const std::vector<std::string> words = SplitProgramParameters(fields[1]);
  for (const std::string& word : words) args.push_back(Substitute(word, itemName, effectivePath));
  launch.detail = program + " " + Substitute(fields[1], itemName, effectivePath, Begins::AfterBlank);
  const std::int64_t mode = LeadingInteger(fields[2]);
  StartProgram(program, args, mode >= 0 && mode <= 3 ? static_cast<int>(mode) : 0, launch);
  return launch;
}

}  // namespace vantrel
