#pragma once
// Descriptor-level file calls of the Linux-only parts (file actions, change
// sources, the watch helper). Failures set errno.
#include <cstddef>
#include <string>
#include <string_view>
#include <sys/stat.h>

#include "platform/StoredFile.h"

namespace vantrel {

// The stamp of what a status describes: of an open file, taken before a
// name is given to it, it is the file as we left it, whoever writes later.
platform::FileStamp StampOfStatus(const struct stat& st);

// Opens a regular file for reading without ever opening anything else, not
// even for a moment (a FIFO would block, a device could act on the open).
// Returns the descriptor, or -1 with errno set (kNotRegularFile, or ELOOP for
// a link when links are not followed). st receives the file's status.
int OpenRegularFile(int dirfd, const char* name, bool followLinks, struct stat* st);

// Writes every byte, going on after short writes and interruptions. written,
// when given, receives how many bytes went out, also on failure.
bool WriteAllBytes(int fd, std::string_view bytes, std::size_t* written = nullptr);

// Creates a new temporary in the open folder under a fresh name (never
// replacing or following anything) and holds an exclusive lock on it for as
// long as the descriptor stays open, which tells start-up that a live copy
// still writes it. Returns the descriptor, or -1 with errno set.
int CreateOwnTemporary(int dirFd, std::string& name, int flags, mode_t mode);

}  // namespace vantrel
