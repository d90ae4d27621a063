#include "faces/qt/support/WindowRecord.h"

#include "log/AutomationDate.h"

#include <QPlainTextEdit>

namespace vantrel {

void WriteWindowRecord(LogOutput& log, QPlainTextEdit* box, std::string_view text, int level, bool alsoToFile) {
  if (alsoToFile) log.WriteLogRecord(text, level);
  if (!box) return;
  box->textCursor().insertText(QString::fromStdString(LogOutput::FormatLogRecord(text, level, log.GetClock().Local())));
}

}  // namespace vantrel
