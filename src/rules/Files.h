#pragma once
// The few file operations the actions are written over, one set per system
// (rules/<system>/Files.cpp). Below a folder the action holds, everything is
// reached relative to it and never through a link; what is removed is
// removed only while it is still the entry the action looked at.
#include "platform/Error.h"
#include "platform/StoredFile.h"
#include "rules/FileActions.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vantrel::files {

using platform::Error;
inline Error Own(int code) { return platform::OwnError(code); }

enum class Kind { File, Folder, Link, Other };

// What stands at a name: the entry itself, a link never followed.
struct Entry {
  Kind kind = Kind::Other;
  platform::FileStamp stamp;  // identity, size and times
  std::uint32_t mode = 0;     // permission bits, where the system has them
  bool readOnly = false;      // no write bit, or the read-only attribute
  // Opened as what a link points to, the entry itself being out of reach
  // (Wine with a Unix link): it counts as a link, and nothing is ever done
  // through it.
  bool followed = false;
  // A link the system lists as a folder (a junction): its removal is told
  // as a folder's.
  bool folderLink = false;
};
inline bool SameItem(const Entry& a, const Entry& b) { return a.kind == b.kind && a.stamp.SameFile(b.stamp); }
// The same item with the same bytes and, where the system keeps one, the
// same change time.
inline bool Unchanged(const Entry& a, const Entry& b) {
  return SameItem(a, b) && a.stamp.size == b.stamp.size && a.stamp.writtenNs == b.stamp.writtenNs &&
         a.stamp.changedNs == b.stamp.changedNs;
}

// A descriptor or a handle, closed with this object.
class Handle {
 public:
  static constexpr std::intptr_t kNone = -1;
  Handle() = default;
  explicit Handle(std::intptr_t h) : h_(h) {}
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& other) noexcept : h_(std::exchange(other.h_, kNone)) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.h_, kNone));
    return *this;
  }
  std::intptr_t Get() const { return h_; }
  bool Valid() const { return h_ != kNone; }
  void Reset(std::intptr_t h = kNone);

 private:
  std::intptr_t h_ = kNone;
};

struct Folder {
  Handle handle;
  Entry info;
};

// Tells the changes made in one folder, each under the folder's path.
class Teller {
 public:
  Teller(const ActionChanges& changes, std::string folder) : changes_(changes), folder_(std::move(folder)) {}
  void operator()(ActionChange::Kind kind, const std::string& name, std::string to = {},
                  std::optional<platform::FileStamp> made = {}) const;
  std::string Path(const std::string& name) const;

 private:
  const ActionChanges& changes_;
  std::string folder_;
};

// The folder at a user's path, which may itself be a link (a backup disk
// mounted in a folder). hold: nobody may rename it away while it is open
// (a target); else nobody's change of it fails for our holding it.
Error OpenFolder(const std::string& path, Folder& out, bool hold);
Error OpenTarget(const std::string& path, Folder& out);
Error Look(const Folder& dir, const std::string& name, Entry& out);
// The folder name in dir, never through a link (ELOOP) nor at a file
// (ENOTDIR).
Error OpenBelow(const Folder& dir, const std::string& name, Folder& out);
// The folder holding child, for a walk that let go of it on the way down
// (see kHeldFolders); kFolderMoved when it is no longer expected.
Error OpenAbove(const Folder& child, const Entry& expected, Folder& out);
// How many folders a walk keeps open on its way down; the rest it finds
// again through OpenAbove.
extern const std::size_t kHeldFolders;
// EEXIST when anything stands at name.
Error MakeFolder(const Folder& dir, const std::string& name);
// Every name but "." and "..", read whole.
Error ListNames(const Folder& dir, std::vector<std::string>& names);
// Removes the file, link or empty folder at name, only while it is still
// expected (with unchanged, a file also with the same content).
Error Remove(const Folder& dir, const std::string& name, const Entry& expected, bool unchanged = false);
// A folder filled by a copy: made for it, it takes the source's permissions
// only now (a read-only source folder would have kept it empty); durable,
// it is flushed.
void FinishFolder(const Folder& copy, const Entry& source, bool made, bool durable);
// Files (no folders, no temporaries of ours) of the folder at path matching
// the wildcard pattern.
std::size_t CountMatching(const Folder& dir, const std::string& path, const std::string& pattern);
// kTargetInsideSource when name in dir is the folder source or lies in it,
// however the path is spelled and whatever links or mounts lie on the way.
Error CheckTargetOutside(const Folder& dir, const std::string& name, const Handle& source, const Entry& sourceInfo);

// A user's path, opened as the entry itself for a move or a removal.
struct Item {
  std::string path;
  Handle handle;
  Entry info;
};
Error OpenItem(const std::string& path, Item& out);
// Gives the item the name in dir, never replacing: EEXIST when taken, EXDEV
// when only a copy can take it there. Where renames cannot refuse to
// replace, a file is linked there instead and linked is set: its old name
// still stands.
Error RenameInto(Item& item, const Folder& dir, const std::string& name, bool& linked);
Error RemoveItem(Item& item);

// A file to copy from. On Linux a link is a source too, copied as a link;
// on Windows a link is refused (kLinkNotCopied).
class Source {
 public:
  Source();
  ~Source();
  // judgedWhole: the queue saw the file steady, so a writer nobody can ask
  // after no longer holds it up. forMove: the file goes once copied.
  Error Open(const std::string& path, bool judgedWhole, bool forMove);
  // In a folder being copied, where every file is taken as it stands.
  Error OpenAt(const Folder& dir, const std::string& name);
  const Entry& Info() const;
  // After its copy is in place in dir: keepCopy tells, on failure, whether
  // the copy is all that is left of what was copied.
  Error RemoveAfterCopy(const Folder& dir, bool& keepCopy);

 private:
  friend class NewFile;
  friend Error PlaceLink(const Source&, const Folder&, const std::string&, bool, const Teller&);
  struct State;
  std::unique_ptr<State> s_;
};

// A file written into a folder under no name or a temporary one, that takes
// its name only once whole; unless placed, it is gone with this object.
class NewFile {
 public:
  NewFile(const Folder& dir, const Teller& tell);
  ~NewFile();
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  // The whole content; durable for a move, whose source goes once this is
  // in place. Fails when the source changed meanwhile.
  Error Fill(Source& from, bool durable);
  // EEXIST when the name is taken and replace is false.
  Error Place(const std::string& name, bool replace);
  // Takes a placed copy back, when what it was made for failed.
  void Unplace();

 private:
  struct State;
  std::unique_ptr<State> s_;
};

// A copy of the link source at name; replace puts it in place of a file or
// link standing there.
Error PlaceLink(const Source& link, const Folder& dir, const std::string& name, bool replace, const Teller& tell);

}  // namespace vantrel::files
