#pragma once
// The log record put into a text box, at its cursor, replacing what is
// selected; with alsoToFile it goes to the log file first.
#include "log/LogOutput.h"

#include <string_view>

class QPlainTextEdit;

namespace vantrel {

void WriteWindowRecord(LogOutput& log, QPlainTextEdit* box, std::string_view text, int level = 0,
                       bool alsoToFile = false);

}  // namespace vantrel
