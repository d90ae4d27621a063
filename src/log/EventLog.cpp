#include "log/EventLog.h"

#include "log/FormatTime.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/IniFile.h"
#include "text/PathRoutines.h"
#include "text/TextRules.h"

#include <array>

namespace vantrel {
namespace {

struct ColourKey {
  const char* key;
  const char* defaultValue;
};
// 失败 came later: a config.ini written before has no such key and gets the
// default, and the key is written only once the user picks a colour.
constexpr std::array<ColourKey, 6> kColourKeys{{{"时间", "0"},
                                                {"名称", "16746496"},
                                                {"类型", "255"},
                                                {"路径", "8421376"},
                                                {"执行", "16711680"},
                                                {"失败", "160"}}};
bool IsFailedType(std::string_view type) {
  constexpr std::string_view kFailed = "失败";
  return type.size() >= kFailed.size() && type.substr(type.size() - kFailed.size()) == kFailed;
}

}  // namespace

std::uint32_t EventLog::ColourSetting(const char* key) const {
  const char* fallback = "0";
  for (const ColourKey& k : kColourKeys)
    if (std::string_view(k.key) == key) fallback = k.defaultValue;
  return static_cast<std::uint32_t>(LeadingInteger(host_.Config().Read("日志颜色", key, fallback)));
}

const std::array<std::uint32_t, 6>& EventLog::Colours() {
  const std::uint64_t generation = host_.Config().Generation();
  if (generation == 0 || generation != coloursGeneration_) {
    for (std::size_t k = 0; k < kColourKeys.size(); ++k) colours_6_[k] = ColourSetting(kColourKeys[k].key);
    coloursGeneration_ = generation;
  }
  return colours_6_;
}

// Columns take the colours of 时间, 名称, 类型 and 路径 in turn; an action row
// is all in 执行's.
void EventLog::ColourEventRow(std::size_t row) {
  const auto& colours = Colours();
  colours_.SetRowColours(row, {{{colours[0], kWhite}, {colours[1], kWhite}, {colours[2], kWhite}, {colours[3], kWhite}}});
}

void EventLog::ColourActionRow(std::size_t row, bool failed) {
  const CellColour colour = failed ? CellColour{Colours()[5], kFailedBackground} : CellColour{Colours()[4], kWhite};
  colours_.SetRowColours(row, {colour, colour, colour, colour});
}

void EventLog::AddEventRow(const std::string& displayName, EventKind kind, const std::string& path,
                           const std::string& newPath) {
  const std::string_view eventName = EventKindName(kind);
  // The path cell keeps the kernel's bytes, which the list's commands act on;
  // the name cell is only ever read, so it holds readable text. Most names
  // and paths are readable as they stand and are not copied to be shown.
  std::string readableStore, renamedPath;
  const bool nameReadable = IsValidUtf8(displayName);
  if (!nameReadable) readableStore = ReadableText(displayName);
  const std::string_view readableName = nameReadable ? std::string_view(displayName) : readableStore;
  std::string_view name = readableName, shownPath = path;
  std::string renamedName;
  if (IsRenameKind(kind)) {
    renamedName.append(readableName).append("【原:").append(ReadableText(PathFileName(path, true))).append("】");
    name = renamedName;
    shownPath = renamedPath = NewPathOfRename(path, displayName, newPath);
  }
  const LocalDateTime now = log_.GetClock().Local();
  std::size_t row = list_.Append(RowTimeText(now), name, eventName, shownPath);
  if (host_.PromptsOn()) {
    std::string title;
    title.reserve(eventName.size() + readableName.size() + 8);
    title.append(eventName).append(" 【").append(readableName).append("】");
    if (IsValidUtf8(path))
      host_.ShowPrompt(title, path);
    else
      host_.ShowPrompt(title, ReadableText(path));
  }
  if (host_.SaveLogOn() || consoleMirror_) {
    const std::string_view cellName = list_.Cell(row, 1), cellPath = list_.Cell(row, 3);
    std::string record;
    record.reserve(3 * std::string_view(kSeparator).size() + cellName.size() + eventName.size() + cellPath.size() + 2);
    record += kSeparator;
    AppendOneLineText(record, cellName);
    record += kSeparator;
    record += eventName;
    record += kSeparator;
    AppendOneLineText(record, cellPath);
    record += "\r\n";
    Record(record, now);
  }
  ColourEventRow(row);
  host_.RowsAppended();
}

void EventLog::LogAction(const std::string& type, const std::string& detail, bool failed) {
  const LocalDateTime now = log_.GetClock().Local();
  std::size_t row = list_.Append(RowTimeText(now), kActionMark, type, detail);
  ColourActionRow(row, failed);
  if (host_.SaveLogOn() || consoleMirror_)
    Record(std::string(kActionMark) + kSeparator + type + "】" + OneLineText(detail) + "\r\n", now);
  host_.RowsAppended();
}

void EventLog::LogNotice(const std::string& type, const std::string& text) {
  const LocalDateTime now = log_.GetClock().Local();
  std::size_t row = list_.Append(RowTimeText(now), kNoticeMark, type, text);
  ColourActionRow(row);
  RecordNotice(type, text, now);
  host_.ShowErrorPrompt(type, text);
  host_.RowsAppended();
}

void EventLog::RecordNotice(const std::string& type, const std::string& text) {
  RecordNotice(type, text, log_.GetClock().Local());
}

void EventLog::RecordNotice(const std::string& type, const std::string& text, const LocalDateTime& at) {
  const std::string record = std::string(kNoticeMark) + kSeparator + type + kSeparator + OneLineText(text) + "\r\n";
  WriteRecord(record, at);
  if (consoleMirror_) log_.WriteConsoleRecord(record);
}

void EventLog::Record(const std::string& text, const LocalDateTime& at) {
  if (host_.SaveLogOn()) WriteRecord(text, at);
  if (consoleMirror_) log_.WriteConsoleRecord(text);
}

void EventLog::WriteRecord(const std::string& text, const LocalDateTime& at) {
  if (log_.WriteLogRecord(text, 0, at)) {
    recordFailing_ = false;
    return;
  }
  if (recordFailing_) return;
  recordFailing_ = true;
  host_.ShowPrompt("提示:", "日志写入失败: " + log_.Directory() + log_.FileName() + " (" + FileErrorText(errno) +
                               "), 恢复后继续记录");
}

void EventLog::RecolourRows() {
  for (std::size_t row = 0; row < list_.RowCount(); ++row) {
    if (list_.Cell(row, 1).rfind("【", 0) == 0) {
      ColourActionRow(row, list_.Cell(row, 1) == kActionMark && IsFailedType(list_.Cell(row, 2)));
    } else {
      ColourEventRow(row);
    }
  }
  host_.RowsRecoloured();
}

std::string RowFolder(const EventList& list, std::size_t row) {
  std::string cell(list.Cell(row, 3));
  if (std::size_t mark = cell.rfind("】"); mark != std::string::npos)
    cell = std::string(TrimBlanks(std::string_view(cell).substr(mark + std::string_view("】").size())));
  std::size_t slash = LastSeparator(cell);
  return slash == std::string::npos ? cell : cell.substr(0, slash + 1);
}

std::string ExportText(const EventList& list) {
  std::string text;
  for (std::size_t row = 0; row < list.RowCount(); ++row) {
    for (int column = 0; column < 4; ++column) {
      if (column) text += EventLog::kSeparator;
      text += OneLineText(list.Cell(row, column));
    }
    text += "\r\n";
  }
  return text;
}

}  // namespace vantrel
