#pragma once
#include "rules/WholeFile.h"

namespace vantrel {

// What the kernel tells of the writers of an open regular file: NoWriter or
// Writer by a read lease, Unknown where none can be had or where one would
// not cover every writer (a file system across a network or in user space).
// askFileSystem false: the file system is already known to give leases
// that see every writer (asked again about the same file).
WriterLook::Answer WritersOf(int fd, bool askFileSystem = true);

}  // namespace vantrel
