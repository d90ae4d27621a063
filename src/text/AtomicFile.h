#pragma once
// The program's own files on disk: whole reads, atomic replacement, and the
// temporaries that replacement leaves when a copy is killed. Failures are
// told through errno, as the callers have always read them, and the
// Stored* forms return the portable error itself.
#include "platform/Error.h"
#include "platform/OwnTemporary.h"

#include <cstddef>
#include <string>
#include <string_view>


namespace vantrel {

// The files the program keeps are small; anything larger is not one of them.
inline constexpr std::size_t kMaxStoredFileBytes = std::size_t{64} << 20;

// Replaces the file with the given bytes so that a reader, or the file after
// a crash, sees either the old content or the new one, never a torn mix. The
// file keeps its permission bits. Returns false with errno set on failure,
// leaving the old file untouched.
bool WriteFileAtomically(const std::string& path, std::string_view bytes);
platform::Error WriteStoredFile(const std::string& path, std::string_view bytes);

// Whole content of a regular file of at most maxBytes; false with errno set
// when it cannot be read (kNotRegularFile, kFileTooLarge, or the system's).
bool ReadWholeFile(const std::string& path, std::string& bytes, std::size_t maxBytes = kMaxStoredFileBytes);
platform::Error ReadStoredFile(const std::string& path, std::string& bytes, std::size_t maxBytes = kMaxStoredFileBytes);

// Removes from dir the temporaries that interrupted writes left: regular
// files of our own pattern, owned by this user, that nobody holds locked.
// Everything else stays, the user's backups of the stored files included.
// Returns how many were removed.
std::size_t RemoveStaleTemporaries(const std::string& dir);

}  // namespace vantrel
