#pragma once
#include "time/Timing.h"
// What a change source could not see, told to the user: every kind of loss
// has its own words, and a busy machine gets the losses of a minute gathered
// into one notice with their counts rather than a notice each.
#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace vantrel {

struct SourceReport {
  enum Kind {
    QueueOverflow,  // the kernel dropped changes; detail: what was done about it
    NoPath,         // changes in folders removed before they were read
    PathTooLong,    // changes at paths longer than the system can name
    WatchLimit,     // inotify's table of watches is full; detail: its size
    SourceEnded,    // the source stopped seeing changes; detail: why
    WatchChanged,   // how the source watches changed (a helper restarted, a
                    // stand-in took over); detail: the words; told at once
    RightsChanged,  // changes left out: their folder's rights or place
                    // changed before they were read
    kKinds
  };
  Kind kind = QueueOverflow;
  std::size_t count = 1;
  std::string detail;
};

// The report in the interface's words.
std::string SourceReportText(const SourceReport& report);

class LossNotices {
 public:
  using time_point = std::chrono::steady_clock::time_point;

  // The text to tell now: the first loss at once, later ones when a minute
  // has passed since the last notice (Due tells when).
  std::optional<std::string> Add(const SourceReport& report, time_point now);
  // When gathered losses are to be told, if any are waiting.
  std::optional<time_point> Due() const;
  // The gathered losses, once their minute is up.
  std::optional<std::string> Take(time_point now);

 private:
  // Per kind: how many were gathered, and the latest detail.
  std::array<std::size_t, SourceReport::kKinds> counts_{};
  std::array<std::string, SourceReport::kKinds> details_;
  bool anyWaiting_ = false;
  std::optional<time_point> toldAt_;
};

}  // namespace vantrel
