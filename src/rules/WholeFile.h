#pragma once
// Whether a file is whole: no program is still writing it. This is the one
// judgement every action waits on. Where the system will tell (Linux grants
// a read lease exactly when nobody on this machine writes; Windows refuses
// an open that shares no writing while somebody writes), it is asked; where
// it cannot be asked or its answer would not cover every writer (the file is
// not ours, a writer holds a write lease, the open fails, the file system
// keeps no leases or lies across a network), the file is whole only once its
// size and times have stayed unchanged for a while. Not being able to look
// never counts as "nobody writes".
#include "platform/StoredFile.h"
#include "time/Clock.h"

#include <chrono>
#include <optional>
#include <string>

namespace vantrel {

// What the system says of a file's writers, once.
struct WriterLook {
  enum Answer {
    Missing,     // nothing at the path
    NotRegular,  // a link, a folder, a device: the action says what it found
    NoWriter,
    Writer,
    Unknown,     // a regular file whose writers cannot be asked after
  };
  Answer answer = NotRegular;
  // For a regular file (every answer from NoWriter on, where it could be
  // read): its identity and state, which steadiness is judged on.
  std::optional<platform::FileStamp> stamp;
  std::chrono::nanoseconds age{};  // since the file's last change, by its own times
};
WriterLook LookForWriters(const std::string& path);

// The name, in folder, of the entry that is the file with this identity
// (volume and id), if it is still there.
std::optional<std::string> FindByIdentity(const std::string& folder, const platform::FileStamp& identity);

class WholeFileWatch {
 public:

  // Gone: the file watched was removed (or taken out of sight) and has not
  // come back under its name or another in its folder for timing::kSteady.
  enum class State { Whole, BeingWritten, Gone };

  explicit WholeFileWatch(std::string path) : path_(std::move(path)) {}
  // Looks again. Anything that is not a regular file (a link, a folder), or
  // nothing at a path never seen as a file, counts as whole: the action then
  // says what it found. The watch keeps the file it first saw by identity:
  // renamed within its folder it is followed, replaced by another file the
  // newcomer is judged afresh.
  State Check(Clock::time_point now);
  const std::string& Path() const { return path_; }
  // The file, or a folder above it, was seen renamed: the watch follows.
  bool Follow(const std::string& from, const std::string& to);
  // The file as last seen.
  const std::optional<platform::FileStamp>& LastSeen() const { return last_; }

 private:
  std::string path_;
  std::optional<platform::FileStamp> last_;
  Clock::time_point steadySince_{};
  std::optional<Clock::time_point> missingSince_;
};

}  // namespace vantrel
