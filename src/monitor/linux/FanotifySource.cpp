#include "monitor/linux/FanotifySource.h"

namespace vantrel {

bool FanotifySource::Open(std::string& error) { return reader_.Open(ReadMountTable(), error); }

void FanotifySource::ReadKernel(std::int64_t now) { reader_.Read(now); }

void FanotifySource::Change(const RawChange& change, std::int64_t now) {
  Consume(change, now);
  if (batch_.size() >= 4096) FlushBatch();
}

void FanotifySource::TooLong(std::string_view, const std::string& ancestor) { CountTooLong(1, ancestor); }

void FanotifySource::OnMountsChanged(const std::vector<std::string>& added, const std::vector<std::string>& removed) {
  reader_.MountsChanged(mounts_, added, removed);
}

std::optional<std::int64_t> FanotifySource::NextDeadline() {
  std::optional<std::int64_t> next = tracker_.NextDeadline();
  std::optional<std::int64_t> deferred = reader_.NextDeadline();
  if (deferred && (!next || *deferred < *next)) next = deferred;
  return next;
}

void FanotifySource::OnTick(std::int64_t now) {
  tracker_.Expire(now);
  reader_.Tick(now);
}

}  // namespace vantrel
