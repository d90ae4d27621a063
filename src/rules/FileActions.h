#pragma once
// What a firing rule does to a file or a directory. Copies and moves never
// replace what is already there; every call reports whether it worked.
//
// Nothing outside the source and the target is ever written, removed or
// changed: below the target folder nothing is opened through a link, a link
// standing where something is to be written fails that entry, and what is
// copied appears under its name only once complete, except on a file system
// that offers neither a rename refusing to replace nor links: there the name
// is taken exclusively, filled, and removed again should that fail. Anything
// that is not a regular file, a link or a folder (FIFO, socket, device) is
// never opened.
//
// On Windows a link is a symbolic link or junction (a reparse point that
// stands for another name). Links are never copied there: making one needs
// a privilege the user seldom has, and what one points to is not the rule's
// to hand out; a copy of one fails, a folder copy counts it as not copied.
// The read-only attribute makes a file read-only: such a file is neither
// replaced by a folder copy nor deleted, nor moved across volumes, since
// its source could not go. A program still writing a file is told by the
// share modes: the file is not copied or moved while it holds it.
#include "platform/StoredFile.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

struct ActionResult {
  std::string target;  // the path the action wrote or removed, its folder's text cleaned
  bool ok = false;
  std::string error;  // the system's reason when it failed
  int code = 0;       // its number (errno or a FileError), where there is one
};

// One change an action made on disk, told as it is made, so that the
// change events it causes are known as the program's own, and so as those
// events will be: a move that cannot rename links or copies, and tells an
// appearance and a vanishing. Paths are the action's own paths with the
// target folder's text cleaned of doubled and trailing separators and "."
// components; the program's own temporaries are never told.
struct ActionChange {
  enum Kind { FileAppeared, FolderAppeared, FileVanished, FolderVanished, Renamed };
  Kind kind;
  std::string path;
  std::string to;  // Renamed: where it went
  // FileAppeared: the file as the action left it, so that its echo is told
  // apart from somebody's change to it right after.
  std::optional<platform::FileStamp> made = {};
};
using ActionChanges = std::function<void(const ActionChange&)>;

// What stops the copies made on this thread at their next chunk, so that
// an ending program need not wait for a large file: while one lives, a copy
// on its thread stops once the flag is set. The action queue gives its
// worker a flag of its own, so one queue's end stops its copies and nobody
// else's. A stopped copy fails with ECANCELED and leaves nothing behind.
class CopyStop {
 public:
  explicit CopyStop(const std::atomic<bool>& flag);
  ~CopyStop();
  CopyStop(const CopyStop&) = delete;
  CopyStop& operator=(const CopyStop&) = delete;
  // For the copies' loops: whether this thread's flag is set.
  static bool Requested();

 private:
  const std::atomic<bool>* previous_;
};

// Files (not directories) directly in the directory matching one of the
// "|"-separated wildcard patterns.
std::size_t CountMatchingFiles(const std::string& directory, std::string_view patterns);

// Into targetDir under the file's name, or a numbered name when it is taken:
// base(n).ext, n starting at the count of files matching "*" plus the
// monitored path's extension and going up until a name is free. A link is
// copied as a link (on Linux). A file that changed while it was copied, or
// that another program still holds open for writing, is not copied.
// judgedWhole: the file was seen whole by the queue's wait (WholeFile.h),
// so a writer nobody can ask after no longer holds the copy up; without it
// such a file is refused as kWritersUnknown, to be waited for.
ActionResult CopyFileAction(const std::string& path, const std::string& targetDir, const std::string& monitoredPath,
                            const ActionChanges& changes = {}, bool judgedWhole = false);
// Across file systems the source goes only once its complete copy is in
// place and the source did not change meanwhile.
ActionResult MoveFileAction(const std::string& path, const std::string& targetDir, const std::string& monitoredPath,
                            const ActionChanges& changes = {});
// A file without any write permission bit (Linux) or with the read-only
// attribute (Windows) is read-only and stays.
ActionResult DeleteFileAction(const std::string& path, const ActionChanges& changes = {});
// The file, or the folder with everything in it, to the trash of its file
// system (the Recycle Bin), from where it can be put back.
ActionResult TrashAction(const std::string& path, bool folder, const ActionChanges& changes = {});

// The name a directory copy takes: the folder's name without its last
// dot-suffix, or the whole name where that would leave nothing (".cache").
std::string DirectoryCopyName(const std::string& path);

// Copies into targetDir/DirectoryCopyName, merging into what is there and
// replacing files of the same name, each only once its copy is whole; links
// are copied as links (on Linux).
ActionResult CopyDirectoryAction(const std::string& path, const std::string& targetDir,
                                 const ActionChanges& changes = {});
// Moves to targetDir/<last component>, never replacing anything. Across file
// systems a failed copy leaves nothing behind in the target, and only what
// was copied unchanged is removed from the source.
ActionResult MoveDirectoryAction(const std::string& path, const std::string& targetDir,
                                 const ActionChanges& changes = {});
// Removes the tree bottom-up without ever following a link out of it and
// without changing any permission: a file goes when its folder allows it.
ActionResult DeleteDirectoryTree(const std::string& path, const ActionChanges& changes = {});

// Taking an action back, one item at a time. Each acts only on what is still
// as the action left it (kChangedSince otherwise: the same file with the same
// bytes, or the same folder) and never replaces anything (EEXIST).
// Removes a file, or an empty folder (ENOTEMPTY while it holds anything).
platform::Error RemoveAsLeft(const std::string& path, bool folder, const platform::FileStamp& asLeft,
                             const ActionChanges& changes = {});
// Gives the file or folder at path back the very name to, never numbered:
// renamed where it can be, a file copied and then removed across file
// systems.
platform::Error PutBack(const std::string& path, bool folder, const platform::FileStamp& asLeft,
                        const std::string& to, const ActionChanges& changes = {});
// A folder at path, made unless one is there already.
platform::Error MakeFolderAt(const std::string& path, const ActionChanges& changes = {});

}  // namespace vantrel
