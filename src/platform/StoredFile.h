#pragma once
// What the files the program keeps (config.ini, data.jl, the export) need of
// the system: whole reads that open nothing but a regular file, replacement
// that a reader or a crash never sees torn, an identity that tells a file
// changed on disk, and the clearing of temporaries a killed copy left.
// Paths are UTF-8.
#include "platform/Error.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel::platform {

// Reads the whole content of a regular file of at most maxBytes. Anything
// else (a FIFO, a device, a folder) is refused as kNotRegularFile without
// being read; a larger file as kFileTooLarge. Links are followed.
Error ReadRegularFile(const std::string& path, std::string& bytes, std::size_t maxBytes);

// Replaces the file with the bytes through a temporary of our own pattern in
// the same folder, so that a reader, or the file after a crash, sees the old
// content or the new one. The file keeps its permissions or attributes. On
// failure the old file is untouched and no temporary stays.
Error ReplaceFileAtomically(const std::string& path, std::string_view bytes);

// Enough of a file's identity and state that equal stamps mean an unchanged
// file: a replacement gives a new identity, an edit in place a new time or
// size. Links are followed.
struct FileStamp {
  std::uint64_t volume = 0;
  std::uint64_t id = 0;
  std::uint64_t size = 0;
  std::int64_t writtenNs = 0;
  std::int64_t changedNs = 0;
  bool operator==(const FileStamp&) const = default;
  bool SameFile(const FileStamp& o) const { return volume == o.volume && id == o.id; }
  // The same file with the same bytes, whatever was done to its attributes
  // (a link count or a mode changes only the change time).
  bool SameContent(const FileStamp& o) const { return SameFile(o) && size == o.size && writtenNs == o.writtenNs; }
};
std::optional<FileStamp> StampOf(const std::string& path);
// The item at path itself, a link's own stamp rather than its target's, as
// WalkStamps tells each item; isFolder: a folder, not a link to one.
std::optional<FileStamp> StampOfItem(const std::string& path, bool& isFolder);

// Every item below folder, never through a link, each with its stamp (a
// link's own), until visit says stop (false). Folders it may not read are
// passed over.
void WalkStamps(const std::string& folder,
                const std::function<bool(const std::string& path, bool isFolder, const FileStamp& stamp)>& visit);

// True only for an existing folder (links to one included).
bool IsDirectory(const std::string& path);
// Makes one folder whose parent exists; an existing one is left as it is.
void MakeDirectory(const std::string& path);

// Removes from dir the temporaries of our own pattern that interrupted writes
// left: regular files that no live copy of the program still writes.
// Everything else stays, the user's backups of the stored files included.
// Returns how many were removed.
std::size_t RemoveStaleTemporaries(const std::string& dir);

}  // namespace vantrel::platform
