#include "helper/WatchCore.h"

#include "monitor/linux/Capabilities.h"
#include "monitor/linux/HelperRecords.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace vantrel {

std::int64_t WatchNowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

long RealUidOf(const char* pid) {
  const std::string path = std::string("/proc/") + pid + "/status";
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char text[4096];
  ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return -1;
  text[n] = '\0';
  const char* uid = std::strstr(text, "\nUid:");
  return uid ? std::strtol(uid + 5, nullptr, 10) : -1;
}

WatchCore::Audience::Audience(WatchCore& core, Viewer who, std::size_t verdictLimit)
    : who_(who),
      visible_([&core](std::string_view key) { return core.reader_.OpenFolder(key); },
               [this, &core](const RawChange& c) {
                 RawChange shown = c;
                 shown.pid = PidShown(c.pid);
                 AppendChangeRecord(out_, shown);
                 if (out_.size() >= kSpillBytes) core.spill_(*this);
               },
               std::move(who),
               [&core](std::string_view folder, std::vector<const LaterRightsChange*>& out) {
                 core.reader_.RightsChangedLater(folder, out);
               },
               verdictLimit) {}

void WatchCore::Audience::Change(const RawChange& change) { visible_.Change(change); }

// Who made a change is told only where it is one of this user's own
// processes: another user's process ids and names are not theirs to learn.
std::int32_t WatchCore::Audience::PidShown(std::int32_t pid) {
  if (pid <= 0 || who_.Everything()) return pid;
  // A burst comes from few processes; their owners are looked up once a
  // second at most, which also bounds what is kept.
  const std::int64_t now = WatchNowMs();
  if (now - ownersSince_ > 1000 || owners_.size() > 4096) {
    owners_.clear();
    ownersSince_ = now;
  }
  auto [it, added] = owners_.try_emplace(pid, false);
  if (added) {
    const std::string text = std::to_string(pid);
    it->second = RealUidOf(text.c_str()) == who_.Uid();
  }
  return it->second ? pid : 0;
}

std::string WatchCore::Audience::Take() {
  std::string counts;
  if (std::size_t unjudged = visible_.TakeUnjudged())
    AppendReportRecord(counts, {SourceReport::NoPath, unjudged, {}});
  if (std::size_t hidden = visible_.TakeRightsChanged())
    AppendReportRecord(counts, {SourceReport::RightsChanged, hidden, {}});
  if (tooLong_) {
    AppendReportRecord(counts, {SourceReport::PathTooLong, tooLong_, tooLongAncestor_});
    tooLong_ = 0;
    tooLongAncestor_.clear();
  }
  std::string out = std::move(out_);
  out_.clear();
  return counts.empty() ? out : counts + out;
}

WatchCore::WatchCore(bool lookAhead, Spill spill) : spill_(std::move(spill)) {
  reader_.LookAheadForRights(lookAhead);
}

bool WatchCore::Open(std::string& why) {
  mountsFd_ = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  mounts_ = ReadMountTable(mountsFd_);
  if (!reader_.Open(mounts_, why)) return false;
  // Needed again only to mark a file system mounted later.
  SetEffectiveCapability(kCapSysAdmin, false);
  return true;
}

void WatchCore::MountsChanged() {
  std::vector<MountEntry> now = ReadMountTable(mountsFd_);
  DriveChanges changes = CompareMounts(mounts_, now);
  mounts_ = now;
  const bool marking = !changes.added.empty();
  if (marking) SetEffectiveCapability(kCapSysAdmin, true);
  reader_.MountsChanged(std::move(now), changes.added, changes.removed);
  if (marking) SetEffectiveCapability(kCapSysAdmin, false);
  // Told once the new file systems are watched, so that what happens on
  // them after the notice is seen.
  RawChange drive;
  drive.kind = RawChange::DriveRemoved;
  for (const std::string& point : changes.localRemoved) {
    drive.path = point;
    Change(drive, 0);
  }
  drive.kind = RawChange::DriveAdded;
  for (const std::string& point : changes.localAdded) {
    drive.path = point;
    Change(drive, 0);
  }
}

WatchCore::Audience& WatchCore::Join(const Viewer& who, std::size_t verdictLimit) {
  for (auto& a : audiences_) {
    const Viewer& v = a->who_;
    if (v.kernel == who.kernel && v.uid == who.uid && v.gid == who.gid && v.groups == who.groups) {
      ++a->members_;
      return *a;
    }
  }
  audiences_.push_back(std::make_unique<Audience>(*this, who, verdictLimit));
  audiences_.back()->members_ = 1;
  return *audiences_.back();
}

void WatchCore::Leave(Audience& audience) {
  if (--audience.members_ > 0) return;
  for (auto it = audiences_.begin(); it != audiences_.end(); ++it)
    if (it->get() == &audience) {
      audiences_.erase(it);
      return;
    }
}

void WatchCore::Change(const RawChange& change, std::int64_t) {
  // Cannot happen (a folder's path is under PATH_MAX, a name at most 255
  // bytes), but a record a program would refuse must never be written.
  if (change.path.size() > kMaxRecordPathBytes || change.newPath.size() > kMaxRecordPathBytes) return;
  for (auto& a : audiences_) a->Change(change);
}

void WatchCore::Report(const SourceReport& report) {
  for (auto& a : audiences_) {
    if (report.kind == SourceReport::QueueOverflow) a->visible_.Forget();
    AppendReportRecord(a->out_, {report.kind, report.count, {}});
  }
}

void WatchCore::TooLong(std::string_view folder, const std::string& ancestor) {
  for (auto& a : audiences_) {
    if (!a->visible_.Visible(folder)) continue;
    ++a->tooLong_;
    a->tooLongAncestor_ = ancestor;
  }
}

}  // namespace vantrel
