#pragma once
// What the watch helper and the shared watch service have in common: one
// fanotify reader for every local file system, the mounts it follows, and
// for each identity it serves (an audience) the changes that identity may
// see, as records ready to send. The helper serves the one user who ran it;
// the service serves every user connected to it with one reader, so that a
// change costs its writer one queued event however many users watch.
#include "monitor/linux/FanotifyReader.h"
#include "monitor/linux/MountTable.h"
#include "monitor/linux/VisibleChanges.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace vantrel {

std::int64_t WatchNowMs();
// The real user id of a process (a /proc entry's name), -1 once it is gone.
long RealUidOf(const char* pid);

class WatchCore final : private FanotifyReader::Sink {
 public:
  // What one identity is told: records appended as changes come, taken by
  // whoever sends them.
  class Audience {
   public:
    Audience(WatchCore& core, Viewer who, std::size_t verdictLimit);
    const Viewer& Who() const { return who_; }
    // The records gathered since the last call, with the counts told only
    // as numbers appended first.
    std::string Take();
    std::size_t Pending() const { return out_.size(); }

   private:
    friend class WatchCore;
    void Change(const RawChange& change);
    std::int32_t PidShown(std::int32_t pid);

    Viewer who_;
    VisibleChanges visible_;
    std::string out_;
    std::unordered_map<std::int32_t, bool> owners_;
    std::int64_t ownersSince_ = 0;
    std::size_t tooLong_ = 0;
    std::string tooLongAncestor_;
    int members_ = 0;
  };

  // Called when an audience's records pass kSpillBytes in the middle of a
  // read, to take them: what one read names is bounded only by the buffer.
  using Spill = std::function<void(Audience&)>;
  static constexpr std::size_t kSpillBytes = 1u << 16;

  // lookAhead: judge changes by the rights at the change (needed wherever
  // anyone but root is served).
  WatchCore(bool lookAhead, Spill spill);

  // Marks the file systems; afterwards CAP_SYS_ADMIN is effective only to
  // mark those mounted later.
  bool Open(std::string& why);
  int ReaderFd() const { return reader_.Fd(); }
  int MountsFd() const { return mountsFd_; }
  void Read() { reader_.Read(WatchNowMs()); }
  void MountsChanged();
  void Tick() { reader_.Tick(WatchNowMs()); }
  std::optional<std::int64_t> NextDeadline() const { return reader_.NextDeadline(); }
  double DrainCpuSeconds() const { return reader_.DrainCpuSeconds(); }

  // The audience for these ids: one already serving the same ids is shared.
  Audience& Join(const Viewer& who, std::size_t verdictLimit = 100000);
  void Leave(Audience& audience);
  std::size_t Audiences() const { return audiences_.size(); }

 private:
  void Change(const RawChange& change, std::int64_t) override;
  void Report(const SourceReport& report) override;
  void TooLong(std::string_view folder, const std::string& ancestor) override;

  Spill spill_;
  FanotifyReader reader_{*this};
  std::vector<MountEntry> mounts_;
  int mountsFd_ = -1;
  std::vector<std::unique_ptr<Audience>> audiences_;
};

}  // namespace vantrel
