#include "rules/WholeFile.h"

namespace vantrel {

WholeFileWatch::State WholeFileWatch::Check(Clock::time_point now) {
  const WriterLook look = LookForWriters(path_);
  switch (look.answer) {
    case WriterLook::NotRegular:
    case WriterLook::NoWriter:
      return State::Whole;
    case WriterLook::Writer:
      return State::BeingWritten;
    case WriterLook::Unknown:
      break;
  }
  // Nothing to be told: whole once unchanged for a while, both by the
  // file's own times and by our looks (a clock set back makes the times lie).
  if (!seen_ || !(look.stamp == last_)) {
    // Untouched for long before we first looked: nobody is writing it.
    bool old = !seen_ && look.age >= 5 * kSteady;
    seen_ = true;
    last_ = look.stamp;
    steadySince_ = now;
    if (old) return State::Whole;
  }
  return now - steadySince_ >= kSteady && look.age >= kSteady ? State::Whole : State::BeingWritten;
}

}  // namespace vantrel
