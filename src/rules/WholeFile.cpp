#include "rules/WholeFile.h"

#include "text/PathRoutines.h"
#include "time/Timing.h"

namespace vantrel {
WholeFileWatch::State WholeFileWatch::Check(Clock::time_point now) {
  WriterLook look = LookForWriters(path_);
  if (look.answer == WriterLook::Missing && last_) {
    // Renamed within its folder: a download given its name when done, a
    // save by rename. Followed, so that the finished file is acted on.
    const std::size_t slash = LastSeparator(path_);
    if (slash != std::string::npos) {
      if (std::optional<std::string> name = FindByIdentity(path_.substr(0, slash == 0 ? 1 : slash), *last_)) {
        path_ = JoinPath(path_.substr(0, slash == 0 ? 1 : slash), *name);
        look = LookForWriters(path_);
      }
    }
  }
  if (look.answer == WriterLook::Missing) {
    // Never seen: the action tells the user what it finds.
    if (!last_) return State::Whole;
    // Gone from sight: a rename told a moment later (into another folder)
    // is still followed; only then is it taken as removed.
    if (!missingSince_) missingSince_ = now;
    return now - *missingSince_ >= timing::kSteady ? State::Gone : State::BeingWritten;
  }
  missingSince_.reset();
  if (look.answer == WriterLook::NotRegular || !look.stamp) return State::Whole;

  // A file replaced under the name (a save by rename) is judged afresh.
  const bool fresh = !last_ || !last_->SameFile(*look.stamp);
  bool untouchedLong = false;
  if (fresh || !(*look.stamp == *last_)) {
    untouchedLong = fresh && look.age >= timing::kLongUntouched;
    last_ = look.stamp;
    steadySince_ = now;
  }
  switch (look.answer) {
    case WriterLook::NoWriter:
      return State::Whole;
    case WriterLook::Writer:
      return State::BeingWritten;
    default:
      break;
  }
  // Nothing to be told: whole once unchanged for a while, both by the
  // file's own times and by our looks (a clock set back makes the times lie).
  if (untouchedLong) return State::Whole;
  return now - steadySince_ >= timing::kSteady && look.age >= timing::kSteady ? State::Whole : State::BeingWritten;
}

bool WholeFileWatch::Follow(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty() || !PathWithin(path_, from)) return false;
  path_ = to + path_.substr(from.size());
  missingSince_.reset();
  return true;
}

}  // namespace vantrel
