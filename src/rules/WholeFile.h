#pragma once
// Whether a file is whole: no program holds it open for writing. Where the
// system will tell (Linux grants a read lease exactly when nobody writes;
// Windows refuses an open that shares no writing while somebody writes), it
// is asked; where it will not (the file is not ours, the file system keeps
// no leases), a file whose size and times stay unchanged for a while is
// taken as whole.
#include "platform/StoredFile.h"

#include <chrono>
#include <string>

namespace vantrel {

// What the system says of a file's writers, once.
struct WriterLook {
  enum Answer { NotRegular, NoWriter, Writer, Unknown };
  Answer answer = NotRegular;
  platform::FileStamp stamp;  // for Unknown: what steadiness is judged on
  std::chrono::nanoseconds age{};  // since the file's last change, by its own times
};
WriterLook LookForWriters(const std::string& path);

class WholeFileWatch {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kSteady{2};

  enum class State { Whole, BeingWritten };

  explicit WholeFileWatch(std::string path) : path_(std::move(path)) {}
  // Looks again. Anything that is not a regular file (gone, a link, a
  // folder) counts as whole: the action itself then says what it found.
  State Check(Clock::time_point now = Clock::now());
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  bool seen_ = false;
  platform::FileStamp last_{};
  Clock::time_point steadySince_{};
};

}  // namespace vantrel
