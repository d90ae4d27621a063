#pragma once
// How the core hands on a failure: a code that means the same on every
// system, the system's own number, and a text for the person.
#include <cerrno>
#include <cstdint>
#include <string>

namespace vantrel {

// Reasons of our own for what the program refuses to do, beside the system's.
enum FileError : int {
  kNotRegularFile = 10001,  // a FIFO, socket or device: opening it could block or have effects
  kFileTooLarge,
  kLinkInTarget,
  kSourceChanged,
  kSourceBeingWritten,
  kNotFolderInTarget,
  kTargetInsideSource,  // a folder copied or moved into itself would never end
  kFolderMoved,         // a folder being walked was moved away meanwhile
  kFolderLoop,          // a folder reached again below itself, through a mount
  kOtherSystemError,    // a system error with no portable name: its native number tells
  kLinkNotCopied,       // a link where a file was to be copied: what it points to is not the rule's to hand out
  kWritersUnknown,      // nobody can say whether the source is still written: it must be seen steady first
  kChangedSince,        // taking an action back: the item is no longer as the action left it
};
// The text of an errno value or of a FileError.
std::string FileErrorText(int error);

namespace platform {

struct Error {
  // The <cerrno> name's value (the same names exist on both systems) or a
  // FileError; 0 when nothing failed.
  int code = 0;
  // errno on Linux, GetLastError() on Windows.
  std::int64_t native = 0;

  explicit operator bool() const { return code != 0; }
  std::string Text() const;
};

inline bool NameTaken(const Error& e) { return e.code == EEXIST; }

// The calling thread's last system error.
Error LastSystemError();
// An error of our own, which no system call made.
inline Error OwnError(int code) { return Error{code, 0}; }

// The system's own words for a native number that has no portable name.
std::string NativeErrorText(std::int64_t native);

}  // namespace platform
}  // namespace vantrel
