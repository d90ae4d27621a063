#pragma once
// One session of edits and changes that either window is given through its
// own controls, and what it leaves in its home, read back in words both
// systems share: the session's own folder reads <root> and separators read
// "/". The Qt window on Linux and the Win32 window under Wine are each held
// to the one expected text (data/face-parity.txt), so they agree with each
// other byte for byte wherever the systems do not differ.
#include "monitor/ShellEvents.h"
#include "platform/Utf8Path.h"
#include "rules/RuleFile.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/PathRoutines.h"
#include "time/Clock.h"

#include <filesystem>
#include <string>
#include <vector>

namespace vantrel::embedded {
extern const unsigned char face_parity_txt[];
extern const std::size_t face_parity_txt_size;
}  // namespace vantrel::embedded

namespace vantrel::parity {

// What a person does, in order. Controls are named as both windows name them.
struct Edit {
  enum Kind { Click, AddRule, ModifyRule, UntickRule, RemoveRule } kind;
  // Click: the box; AddRule and ModifyRule: the operation's radio button.
  std::string control;
  // AddRule and ModifyRule: the event item and the folders below the root
  // ("" for none).
  std::string event = {}, path = {}, target = {};
  // The rule's row, for all but Click and AddRule.
  int row = 0;
};

inline std::vector<Edit> Edits() {
  return {
      {Edit::Click, "选择框_保存日志"},
      {Edit::Click, "选择框_创建目录"},
      {Edit::AddRule, "单选框_复制", "新建文件", "in", "out"},
      {Edit::AddRule, "单选框_移动", "重命名文件", "in", "moved"},
      {Edit::AddRule, "单选框_删除", "删除文件", "in", ""},
      {Edit::ModifyRule, "单选框_复制", "更新文件", "in", "updated", 2},
      {Edit::AddRule, "单选框_复制", "删除目录", "elsewhere", "out"},
      {Edit::RemoveRule, "", "", "", "", 3},
      {Edit::UntickRule, "", "", "", "", 1},
  };
}

// The clock both windows read: the log's day and every row's time.
inline LocalDateTime SessionTime() { return LocalDateTime{2021, 8, 1, 13, 5, 9, 0}; }

// The files before the changes.
inline void MakeTree(const std::string& root) {
  for (const char* folder : {"in", "out", "moved", "updated", "elsewhere"})
    std::filesystem::create_directories(PathFromUtf8(JoinPath(root, folder)));
  for (const char* file : {"a.txt", "报告.docx", "c.txt", "e.txt"})
    WriteFileAtomically(JoinPath(JoinPath(root, "in"), file), std::string("content of ") + file);
}

// The changes after the edits, each made on disk before it is told.
inline std::vector<ChangeNotification> Changes(const std::string& root) {
  const std::string in = JoinPath(root, "in");
  return {{SHCNE_CREATE, JoinPath(in, "a.txt"), std::nullopt, 0},
          {SHCNE_CREATE, JoinPath(in, "报告.docx"), std::nullopt, 0},
          {SHCNE_MKDIR, JoinPath(in, "sub"), std::nullopt, 0},
          {SHCNE_UPDATEITEM, JoinPath(in, "a.txt"), std::nullopt, 0},
          {SHCNE_RENAMEITEM, JoinPath(in, "c.txt"), JoinPath(in, "d.txt"), 0},
          {SHCNE_DELETE, JoinPath(in, "e.txt"), std::nullopt, 0},
          {SHCNE_CREATE, JoinPath(root, "outside.txt"), std::nullopt, 0}};
}

inline void MakeChange(const ChangeNotification& change) {
  std::error_code ignored;
  if (change.code == SHCNE_MKDIR) std::filesystem::create_directory(PathFromUtf8(*change.item1), ignored);
  if (change.code == SHCNE_RENAMEITEM)
    std::filesystem::rename(PathFromUtf8(*change.item1), PathFromUtf8(*change.item2), ignored);
  if (change.code == SHCNE_DELETE) std::filesystem::remove(PathFromUtf8(*change.item1), ignored);
  if (change.code == SHCNE_CREATE && !std::filesystem::exists(PathFromUtf8(*change.item1)))
    WriteFileAtomically(*change.item1, "made");
}

// The rules of data.jl, config.ini and the day's log, in UTF-8, with the
// root and the separators spelled alike on both systems.
inline std::string Record(const std::string& home, const std::string& root) {
  auto common = [&root](std::string text) {
    for (std::size_t at = text.find(root); at != std::string::npos; at = text.find(root, at))
      text.replace(at, root.size(), "<root>");
    for (char& c : text)
      if (c == '\\') c = '/';
    return text;
  };
  std::string out = "data.jl:\n";
  for (const MonitorRule& rule : LoadRuleFile(JoinPath(home, "data.jl")))
    out += common(rule.eventName + "｜" + rule.monitoredPath + "｜" + rule.actionText + (rule.enabled ? "" : " (off)")) + "\n";
  std::string bytes;
  ReadWholeFile(JoinPath(home, "config.ini"), bytes);
  out += "config.ini:\n" + common(Gb18030ToUtf8(bytes));
  bytes.clear();
  ReadWholeFile(JoinPath(JoinPath(JoinPath(home, "log"), "20210801"), "log.txt"), bytes);
  out += "log:\n" + common(Gb18030ToUtf8(bytes));
  // Line ends as the files have them, CR LF, are kept apart from the text's.
  std::string shown;
  for (char c : out) shown += c == '\r' ? std::string("\\r") : std::string(1, c);
  return shown;
}

// What both windows must leave (data/face-parity.txt, carried in the tests).
inline std::string Expected() {
  return std::string(reinterpret_cast<const char*>(embedded::face_parity_txt), embedded::face_parity_txt_size);
}

}  // namespace vantrel::parity
