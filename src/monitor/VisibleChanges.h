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

namespace vantrel {

// Whether the real user may read and search the open folder and every
// folder above it up to the root.
bool UserMayList(int folderFd);

class VisibleChanges {
 public:
  // Opens the folder a change's key names (O_PATH), or -1 once it is gone.
  using Opener = std::function<int(std::string_view key)>;
  using Out = std::function<void(const RawChange&)>;

  // With everything set (the user is root) every change passes.
  VisibleChanges(Opener open, Out out, bool everything);

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

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  enum class Verdict { No, Yes, Gone };
  Verdict Judge(std::string_view key);

  Opener open_;
  Out out_;
  bool everything_;
  std::unordered_map<std::string, bool, Hash, std::equal_to<>> verdicts_;
  std::size_t unjudged_ = 0;
};

}  // namespace vantrel
