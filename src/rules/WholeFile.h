#pragma once
// Whether a file is whole: no program holds it open for writing. Where the
// kernel will tell (a read lease is granted exactly when nobody writes), it
// is asked; where it will not (the file is not ours, the file system keeps
// no leases), a file whose size and times stay unchanged for a while is
// taken as whole.
#include <chrono>
#include <string>
#include <sys/stat.h>

namespace vantrel {

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
  struct stat last_ {};
  Clock::time_point steadySince_{};
};

}  // namespace vantrel
