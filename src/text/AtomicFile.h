#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace vantrel {

// Reasons of our own for what the program refuses to do, beside errno's.
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
};
// The text of an errno value or of a FileError.
std::string FileErrorText(int error);

// The files the program keeps are small; anything larger is not one of them.
inline constexpr std::size_t kMaxStoredFileBytes = std::size_t{64} << 20;

// Opens a regular file for reading without ever opening anything else, not
// even for a moment (a FIFO would block, a device could act on the open).
// Returns the descriptor, or -1 with errno set (kNotRegularFile, or ELOOP for
// a link when links are not followed). st receives the file's status.
int OpenRegularFile(int dirfd, const char* name, bool followLinks, struct stat* st);

// Replaces the file with the given bytes so that a reader, or the file after
// a crash, sees either the old content or the new one, never a torn mix. The
// file keeps its permission bits. Returns false with errno set on failure,
// leaving the old file untouched.
bool WriteFileAtomically(const std::string& path, std::string_view bytes);

// Writes every byte, going on after short writes and interruptions. written,
// when given, receives how many bytes went out, also on failure.
bool WriteAllBytes(int fd, std::string_view bytes, std::size_t* written = nullptr);

// Whole content of a regular file of at most maxBytes; false with errno set
// when it cannot be read (kNotRegularFile, kFileTooLarge, or the system's).
bool ReadWholeFile(const std::string& path, std::string& bytes, std::size_t maxBytes = kMaxStoredFileBytes);

// The program's own temporaries are named ".vantrel-" and eight letters or
// digits: no name a person or another program gives looks like that, so the
// change sources leave them out and start-up may remove what a killed copy
// left behind.
inline constexpr std::string_view kOwnTemporaryPrefix = ".vantrel-";
std::string OwnTemporaryName();
// For a last path component.
bool IsOwnTemporaryName(std::string_view name);
// For a whole path: whether its last component is one of ours.
bool NamesOwnTemporary(std::string_view path);

// Creates a new temporary in the open folder under a fresh name (never
// replacing or following anything) and holds an exclusive lock on it for as
// long as the descriptor stays open, which tells start-up that a live copy
// still writes it. Returns the descriptor, or -1 with errno set.
int CreateOwnTemporary(int dirFd, std::string& name, int flags, mode_t mode);

// Removes from dir the temporaries that interrupted writes left: regular
// files of our own pattern, owned by this user, that nobody holds locked.
// Everything else stays, the user's backups of the stored files included.
// Returns how many were removed.
std::size_t RemoveStaleTemporaries(const std::string& dir);

}  // namespace vantrel
