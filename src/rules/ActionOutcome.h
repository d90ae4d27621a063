#pragma once
// What became of one action, as a value. The list, the log and the console
// turn it into words (ActionOutcomeType, ActionOutcomeDetail) at their edge;
// nothing builds a text to split it apart again.
#include <string>
#include <string_view>

namespace vantrel {

enum class Operation { None, Copy, Move, Delete, RunProgram };

// The operation a rule's action names between "【" and "】"; None for any
// other word (a rule that only lists, or one of another version).
Operation OperationOfWord(std::string_view word);
std::string_view OperationWord(Operation operation);

struct ActionOutcome {
  enum class Kind {
    Done,
    Failed,
    WaitingForWriter,  // the file is still being written: acted on once whole
    SourceGone,        // the file waited for was removed: nothing was done
  };
  Kind kind = Kind::Done;
  Operation operation = Operation::None;
  // Done and Failed: the target or path acted on, or the program's line;
  // the others: the file.
  std::string detail;
  std::string reason;  // Failed: the system's reason
};

// The row's type column (the operation's word, that word marked as failed,
// or the waiting's) and its detail column (for a failure, the readable path
// and the reason).
std::string ActionOutcomeType(const ActionOutcome& outcome);
std::string ActionOutcomeDetail(const ActionOutcome& outcome);
// Both as the log record carries them: the type, "】", the detail.
std::string ActionOutcomeText(const ActionOutcome& outcome);

}  // namespace vantrel
