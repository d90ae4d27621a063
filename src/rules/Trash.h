#pragma once
// Deletions a user may want back: the item goes to the trash of its own file
// system (Linux: the freedesktop.org trash, with its info file) or to the
// Recycle Bin (Windows), never across file systems.
#include "platform/Error.h"

#include <string>

namespace vantrel {

// trashed: where the item now is; empty where the system keeps that to
// itself (the Recycle Bin).
platform::Error MoveToTrash(const std::string& path, std::string& trashed);
// Puts a trashed item back at path, never replacing anything there, and
// removes what the trash kept about it.
platform::Error RestoreFromTrash(const std::string& trashed, const std::string& path);

}  // namespace vantrel
