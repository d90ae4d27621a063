#pragma once
// What whole-disk watching may pass on to a user: changes in folders that
// user could list, judged with that user's own rights on the folder itself
// and on every folder above it, so that a name swapped in between can never
// lend its rights. Every folder on the way must be readable too: one the
// user may only pass through hides the names below it.
#include "monitor/RawChange.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>
#include <vector>

namespace vantrel {

// The folder a path lies in: what remains before its last component ("/"
// for an item at the root).
std::string_view FolderOf(std::string_view path);

// Whose rights decide what may be seen.
struct Viewer {
  // The kernel judges with this process's real ids, as it would judge that
  // user's own processes (the helper, run by the user it serves).
  static Viewer ThisProcess() { return {}; }
  // The ids another process came with (a connection to the shared watcher,
  // which has one identity of its own), judged here from each folder's
  // mode bits and access ACL as the kernel would judge that process.
  static Viewer Of(std::uint32_t uid, std::uint32_t gid, std::vector<std::uint32_t> groups);

  bool kernel = true;
  std::uint32_t uid = 0, gid = 0;
  std::vector<std::uint32_t> groups;  // sorted, the primary group among them
  // Root may list everything.
  bool Everything() const;
  // The user id the judged process runs as.
  long Uid() const;
  bool InGroup(std::uint32_t group) const;
};

// Whether a process with the viewer's ids and no capabilities may have the
// access asked for (R_OK, W_OK, X_OK bits) to a file with this status and
// access ACL ("system.posix_acl_access" as stored, empty without one).
bool MayAccess(const struct stat& st, std::string_view acl, const Viewer& who, int mode);
// The same for an open file (O_PATH will do).
bool UserMay(int fd, const Viewer& who, int mode);

// Folders already judged, with what was found for them and every folder
// above: a walk up stops at the first one it meets.
struct FolderIdentity {
  std::uint64_t dev, ino;
  bool operator==(const FolderIdentity&) const = default;
};
struct FolderIdentityHash {
  std::size_t operator()(const FolderIdentity& f) const { return std::hash<std::uint64_t>{}(f.ino * 31 + f.dev); }
};
using AncestorVerdicts = std::unordered_map<FolderIdentity, bool, FolderIdentityHash>;

// Whether the user may read and search the open folder and every folder
// above it up to the root.
bool UserMayList(int folderFd, const Viewer& who = Viewer::ThisProcess(), AncestorVerdicts* known = nullptr);

// A folder whose rights or place changed after a change being judged, read
// from the kernel together with it: the rights seen now are not the ones
// the change was made under.
struct LaterRightsChange {
  std::size_t at = 0;  // its place among the changes read together
  bool moved = false;
  std::string path, newPath;  // moved: from where, to where
  std::string oldParentKey;   // moved: the folder it left
  long owner = -1;            // -1: unknown
};

class VisibleChanges {
 public:
  // Opens the folder a change's key names (O_PATH), or -1 once it is gone.
  using Opener = std::function<int(std::string_view key)>;
  using Out = std::function<void(const RawChange&)>;
  // The later rights changes to a folder or to one above it.
  using Later = std::function<void(std::string_view folder, std::vector<const LaterRightsChange*>& out)>;

  // Root sees every change. Past verdictLimit judged folders the verdicts
  // start afresh.
  VisibleChanges(Opener open, Out out, Viewer who, Later later = {}, std::size_t verdictLimit = 100000);

  // Passes the change on as the user may see it: a rename with one side out
  // of sight becomes the creation or deletion of the other.
  void Change(const RawChange& change);
  // Whether the folder with this key may be listed by the user.
  bool Visible(std::string_view key);
  // Rights may have changed in ways no change told (mounts came or went).
  void Forget() {
    verdicts_.clear();
    ancestors_.clear();
  }
  // Changes whose folder was gone before it could be judged, in folders the
  // user could list; they are told only as a number. Resets the count.
  std::size_t TakeUnjudged();
  // Changes left out because their folder's rights or place changed before
  // they could be judged, in a way that may have hidden them at the time.
  // Resets the count.
  std::size_t TakeRightsChanged();

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  enum class Verdict { No, Yes, Gone };
  Verdict Judge(std::string_view key);
  // Whether what changed a folder's rights afterwards leaves the user's
  // present view of it standing for the time of the change: a folder of
  // theirs, or one moved from a folder they may list.
  bool SameViewBefore(std::string_view folder);

  Opener open_;
  Out out_;
  Viewer who_;
  bool everything_;
  std::size_t verdictLimit_;
  std::unordered_map<std::string, bool, Hash, std::equal_to<>> verdicts_;
  // Without it, each folder of a tree made one inside the next would walk
  // up through all the others.
  AncestorVerdicts ancestors_;
  std::size_t unjudged_ = 0;
  Later later_;
  std::vector<const LaterRightsChange*> scratch_;
  std::size_t rightsChanged_ = 0;
};

}  // namespace vantrel
