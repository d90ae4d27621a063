#pragma once
// Event and action rows: what a listed change or a performed action adds to
// the event list, its colours, its prompt and its log record.
#include "log/EventList.h"
#include "log/ListColourStore.h"
#include "log/LogOutput.h"
#include "monitor/EventKind.h"
#include "text/IniFile.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

// What the event log asks of the window that shows it.
class EventLogHost {
 public:
  virtual ~EventLogHost() = default;
  virtual bool PromptsOn() const = 0;  // "托盘提示" ticked
  virtual bool SaveLogOn() const = 0;  // "保存日志" ticked
  virtual const SettingsFile& Config() const = 0;
  virtual void ShowPrompt(const std::string& title, const std::string& text) = 0;
  // Shown whether or not prompts are on.
  virtual void ShowErrorPrompt(const std::string& title, const std::string& text) = 0;
  // Rows were appended (scroll to the last) or recoloured.
  virtual void RowsAppended() = 0;
  virtual void RowsRecoloured() = 0;
};

class EventLog {
 public:
  static constexpr std::uint32_t kWhite = 16777215;
  // Behind a failed action's row: a pale red that no text colour in the
  // colour menu's reach makes unreadable.
  static constexpr std::uint32_t kFailedBackground = 0xE6E6FF;
  static constexpr const char* kActionMark = "【执行操作】";
  static constexpr const char* kNoticeMark = "【监控提示】";
  static constexpr const char* kSeparator = " ┃ ";

  EventLog(EventList& list, ListColourStore& colours, LogOutput& log, EventLogHost& host)
      : list_(list), colours_(colours), log_(log), host_(host) {}

  // For a rename, path is the old path and newPath the new one.
  void AddEventRow(const std::string& displayName, EventKind kind, const std::string& path,
                   const std::string& newPath = {});
  // An action's row: its type (the action's name, or what became of it) and
  // its detail.
  // A failed action's row stands apart in a colour of its own.
  void LogAction(const std::string& type, const std::string& detail, bool failed = false);
  // What the program could not do or see (changes lost, actions not done):
  // a row in the action colour, a record in the log file whether or not
  // the log is on, since nothing else would keep it, and an error prompt.
  void LogNotice(const std::string& type, const std::string& text);
  // The record alone, when no row can be shown any more.
  void RecordNotice(const std::string& type, const std::string& text);
  void RecolourRows();
  // Every record also to the console (standard error), whether or not the
  // log file is on: a run without a window shows what happens.
  void SetConsoleMirror(bool on) { consoleMirror_ = on; }

  // The colour a config key names now: missing gives the default, text that
  // is not a number gives 0.
  std::uint32_t ColourSetting(const char* key) const;

  EventList& List() { return list_; }

 private:
  void ColourEventRow(std::size_t row);
  // To the log file when it is on, and to the console when mirrored; at is
  // the time of the record's row, so that both say the same instant.
  void Record(const std::string& text, const LocalDateTime& at);
  void RecordNotice(const std::string& type, const std::string& text, const LocalDateTime& at);
  // Writes a record; the first failure of a run of failures is told.
  void WriteRecord(const std::string& text, const LocalDateTime& at);
  void ColourActionRow(std::size_t row, bool failed = false);
  // The colours as config.ini holds them now; read again only when the
  // settings changed (or every time, when changes are not reported).
  const std::array<std::uint32_t, 6>& Colours();

  EventList& list_;
  ListColourStore& colours_;
  LogOutput& log_;
  EventLogHost& host_;
  bool recordFailing_ = false;
  bool consoleMirror_ = false;
  std::array<std::uint32_t, 6> colours_6_{};
  std::uint64_t coloursGeneration_ = 0;
};

// The folder of the path a row names, for opening it: an action row's text
// after its last "】", up to and including the last "/".
std::string RowFolder(const EventList& list, std::size_t row);

// The whole list as the export writes it, one line per row.
std::string ExportText(const EventList& list);

}  // namespace vantrel
