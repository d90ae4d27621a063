#pragma once
// What the watch helper may pass on: changes in folders that the user who
// started it could list, judged with that user's own rights (the real ids,
// without capabilities) on the folder itself and on every folder above it,
// so that a name swapped in between can never lend its rights. Every folder
// on the way must be readable too: one the user may only pass through hides
// the names below it.
#include "monitor/RawChange.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vantrel {

// The folder a path lies in: what remains before its last component ("/"
// for an item at the root).
std::string_view FolderOf(std::string_view path);

// Whether the real user may read and search the open folder and every
// folder above it up to the root.
bool UserMayList(int folderFd);

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

  // With everything set (the user is root) every change passes.
  VisibleChanges(Opener open, Out out, bool everything, Later later = {});

  // Passes the change on as the user may see it: a rename with one side out
  // of sight becomes the creation or deletion of the other.
  void Change(const RawChange& change);
  // Whether the folder with this key may be listed by the user.
  bool Visible(std::string_view key);
  // Rights may have changed in ways no change told (mounts came or went).
  void Forget() { verdicts_.clear(); }
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
  bool everything_;
  std::unordered_map<std::string, bool, Hash, std::equal_to<>> verdicts_;
  std::size_t unjudged_ = 0;
  Later later_;
  std::vector<const LaterRightsChange*> scratch_;
  std::size_t rightsChanged_ = 0;
};

}  // namespace vantrel
