#include "monitor/FanotifySource.h"

#include "text/PathRoutines.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <sys/fanotify.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace vantrel {
namespace {

constexpr std::uint64_t kMask =
    FAN_CREATE | FAN_DELETE | FAN_RENAME | FAN_MODIFY | FAN_CLOSE_WRITE | FAN_ATTRIB | FAN_ONDIR;
// Past this many cached directories the cache starts afresh; entries are
// found again by opening their handles.
constexpr std::size_t kDirCacheLimit = 200000;
// How long an event in a removed folder waits for that folder's path. The
// removal follows its contents within one burst; a reader that fell behind
// reads both from the same queue.
constexpr std::int64_t kDeferMs = 3000;

std::string FsidBytes(const void* fsid) { return std::string(static_cast<const char*>(fsid), 8); }

bool FsidOf(const std::string& path, std::string& out) {
  struct statfs st {};
  if (::statfs(path.c_str(), &st) != 0) return false;
  out = FsidBytes(&st.f_fsid);
  return true;
}

void AppendKey(std::string& key, std::string_view fsid, const file_handle* fh) {
  key.assign(fsid);
  key.append(reinterpret_cast<const char*>(&fh->handle_type), sizeof fh->handle_type);
  key.append(reinterpret_cast<const char*>(fh->f_handle), fh->handle_bytes);
}

struct FidRecord {
  std::string_view fsid;
  const file_handle* handle = nullptr;
  std::string_view name;
};

}  // namespace

bool FanotifySource::Open(std::string& error) {
  fd_ = fanotify_init(FAN_CLASS_NOTIF | FAN_CLOEXEC | FAN_NONBLOCK | FAN_UNLIMITED_QUEUE | FAN_REPORT_DFID_NAME_TARGET,
                      O_RDONLY | O_LARGEFILE | O_CLOEXEC);
  if (fd_ < 0) {
    error = std::string("fanotify_init: ") + std::strerror(errno) +
            (errno == EPERM ? " (needs CAP_SYS_ADMIN)" : "");
    return false;
  }
  mounts_ = ReadMountTable();
  std::string why;
  if (MarkFileSystems(&why) == 0) {
    error = "no file system could be marked" + (why.empty() ? std::string() : ": " + why);
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

void FanotifySource::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  fileSystems_.clear();
  dirs_.clear();
  deferred_.clear();
}

void FanotifySource::Defer(const std::string& dirKey, const fanotify_event_metadata& meta, const char* event,
                           std::int64_t now) {
  if (deferred_.empty()) oldestDeferred_ = now;
  deferred_[dirKey].push_back({std::string(event, meta.event_len), now});
}

void FanotifySource::ReplayDeferred(const std::string& dirKey, const std::string& dirPath) {
  auto it = deferred_.find(dirKey);
  if (it == deferred_.end()) return;
  std::vector<Deferred> events = std::move(it->second);
  deferred_.erase(it);
  dirs_[dirKey] = dirPath;
  for (const Deferred& d : events) {
    fanotify_event_metadata m;
    std::memcpy(&m, d.event.data(), sizeof m);
    HandleEvent(m, d.event.data(), d.since);
  }
}

std::optional<std::int64_t> FanotifySource::NextDeadline() {
  std::optional<std::int64_t> next = tracker_.NextDeadline();
  if (!deferred_.empty() && (!next || oldestDeferred_ + kDeferMs < *next)) next = oldestDeferred_ + kDeferMs;
  return next;
}

void FanotifySource::OnTick(std::int64_t now) {
  tracker_.Expire(now);
  if (deferred_.empty() || oldestDeferred_ + kDeferMs > now) return;
  std::size_t lost = 0;
  std::int64_t oldest = now;
  for (auto it = deferred_.begin(); it != deferred_.end();) {
    auto& events = it->second;
    auto stale = std::find_if(events.begin(), events.end(), [&](const Deferred& d) { return d.since + kDeferMs > now; });
    lost += static_cast<std::size_t>(stale - events.begin());
    events.erase(events.begin(), stale);
    if (events.empty()) {
      it = deferred_.erase(it);
    } else {
      oldest = std::min(oldest, events.front().since);
      ++it;
    }
  }
  oldestDeferred_ = oldest;
  if (lost)
    ReportProblem({SourceReport::NoPath, lost, {}});
}

std::size_t FanotifySource::MarkFileSystems(std::string* firstError) {
  // Mounts of a whole file system first, so that a bind mount of one of its
  // folders does not become the name the file system is known by.
  std::vector<const MountEntry*> order;
  for (const MountEntry& m : mounts_)
    if (IsLocalFileSystemType(m.type)) order.push_back(&m);
  std::stable_partition(order.begin(), order.end(), [](const MountEntry* m) { return m->root == "/"; });
  std::size_t marked = 0;
  for (const MountEntry* m : order) {
    std::string fsid;
    if (!FsidOf(m->mountPoint, fsid) || fileSystems_.count(fsid)) continue;
    if (fanotify_mark(fd_, FAN_MARK_ADD | FAN_MARK_FILESYSTEM, kMask, AT_FDCWD, m->mountPoint.c_str()) != 0) {
      if (firstError && firstError->empty())
        *firstError = m->mountPoint + " (" + m->type + "): " + std::strerror(errno);
      continue;
    }
    fileSystems_[fsid] = FileSystem{m->mountPoint};
    ++marked;
  }
  return marked;
}

void FanotifySource::OnMountsChanged(const std::vector<std::string>& added, const std::vector<std::string>& removed) {
  for (const std::string& point : removed) {
    for (auto it = fileSystems_.begin(); it != fileSystems_.end();) {
      if (it->second.mountPoint != point) {
        ++it;
        continue;
      }
      // Still mounted elsewhere: keep it under that name.
      auto other = std::find_if(mounts_.begin(), mounts_.end(), [&](const MountEntry& m) {
        std::string fsid;
        return IsLocalFileSystemType(m.type) && FsidOf(m.mountPoint, fsid) && fsid == it->first;
      });
      if (other != mounts_.end()) {
        it->second.mountPoint = other->mountPoint;
        ++it;
        continue;
      }
      const std::string fsid = it->first;
      std::erase_if(dirs_, [&](const auto& entry) { return entry.first.compare(0, fsid.size(), fsid) == 0; });
      it = fileSystems_.erase(it);
    }
  }
  if (!added.empty()) MarkFileSystems(nullptr);
}

const std::string* FanotifySource::ResolveDirectory(std::string_view key, std::string_view fsid,
                                                    const file_handle* handle) {
  auto hit = dirs_.find(key);
  if (hit != dirs_.end()) return &hit->second;
  auto fs = fileSystems_.find(std::string(fsid));
  if (fs == fileSystems_.end()) return nullptr;
  // Opened only for this lookup: a mount fd kept open would block unmounting.
  int mountFd = ::open(fs->second.mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (mountFd < 0) return nullptr;
  int fd = open_by_handle_at(mountFd, const_cast<file_handle*>(handle), O_PATH | O_CLOEXEC);
  ::close(mountFd);
  if (fd < 0) return nullptr;
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[PATH_MAX];
  ssize_t n = ::readlink(link, target, sizeof target);
  ::close(fd);
  if (n <= 0 || n >= static_cast<ssize_t>(sizeof target) || target[0] != '/') return nullptr;
  std::string path(target, static_cast<std::size_t>(n));
  if (path.size() > 10 && path.compare(path.size() - 10, 10, " (deleted)") == 0) return nullptr;
  if (dirs_.size() >= kDirCacheLimit) dirs_.clear();
  return &dirs_.emplace(std::string(key), std::move(path)).first->second;
}

void FanotifySource::RenameCachedTree(const std::string& from, const std::string& to) {
  for (auto& [key, path] : dirs_)
    if (PathWithin(path, from)) path = to + path.substr(from.size());
}

void FanotifySource::ReadKernel(std::int64_t now) {
  alignas(fanotify_event_metadata) char buf[256 * 1024];
  for (;;) {
    ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    std::size_t left = static_cast<std::size_t>(n);
    const char* p = buf;
    while (left >= sizeof(fanotify_event_metadata)) {
      // Events are padded to 4 bytes only, so the 8-byte mask may sit unaligned.
      fanotify_event_metadata m;
      std::memcpy(&m, p, sizeof m);
      if (m.event_len < sizeof(fanotify_event_metadata) || m.event_len > left) break;
      HandleEvent(m, p, now);
      if (m.fd >= 0) ::close(m.fd);
      p += m.event_len;
      left -= m.event_len;
    }
    if (batch_.size() >= 4096) FlushBatch();
  }
}

void FanotifySource::HandleEvent(const fanotify_event_metadata& meta, const char* event, std::int64_t now) {
  const fanotify_event_metadata* m = &meta;
  const std::size_t length = meta.event_len;
  if (m->mask & FAN_Q_OVERFLOW) {
    ReportProblem({SourceReport::QueueOverflow, 1, {}});
    return;
  }
  FidRecord dir, oldDir, newDir, child;
  for (std::size_t off = m->metadata_len; off + sizeof(fanotify_event_info_header) <= length;) {
    const auto* hdr = reinterpret_cast<const fanotify_event_info_header*>(event + off);
    if (hdr->len < sizeof(fanotify_event_info_fid) || off + hdr->len > length) break;
    const auto* info = reinterpret_cast<const fanotify_event_info_fid*>(hdr);
    FidRecord rec;
    rec.fsid = std::string_view(reinterpret_cast<const char*>(&info->fsid), 8);
    rec.handle = reinterpret_cast<const file_handle*>(info->handle);
    const char* nameStart = reinterpret_cast<const char*>(rec.handle->f_handle) + rec.handle->handle_bytes;
    const char* recordEnd = event + off + hdr->len;
    if (nameStart <= recordEnd) rec.name = std::string_view(nameStart, strnlen(nameStart, recordEnd - nameStart));
    switch (hdr->info_type) {
      case FAN_EVENT_INFO_TYPE_DFID_NAME:
      case FAN_EVENT_INFO_TYPE_DFID:
        dir = rec;
        break;
      case FAN_EVENT_INFO_TYPE_OLD_DFID_NAME:
        oldDir = rec;
        break;
      case FAN_EVENT_INFO_TYPE_NEW_DFID_NAME:
        newDir = rec;
        break;
      case FAN_EVENT_INFO_TYPE_FID:
        child = rec;
        break;
      default:
        break;
    }
    off += hdr->len;
  }

  auto pathOf = [&](const FidRecord& rec, std::string& out) {
    if (!rec.handle) return false;
    AppendKey(key_, rec.fsid, rec.handle);
    const std::string* dirPath = ResolveDirectory(key_, rec.fsid, rec.handle);
    if (!dirPath) return false;
    out.assign(*dirPath);
    if (!rec.name.empty() && rec.name != ".") {
      if (out.size() > 1) out += '/';
      out.append(rec.name);
    }
    return true;
  };
  bool isDir = m->mask & FAN_ONDIR;
  std::int32_t pid = m->pid;

  // Where a folder's handle no longer opens, the event waits for the folder's path.
  auto resolve = [&](const FidRecord& rec, std::string& out) {
    if (pathOf(rec, out)) return true;
    if (rec.handle) Defer(key_, meta, event, now);
    return false;
  };
  if (m->mask & FAN_RENAME) {
    if (!resolve(oldDir, other_) || !resolve(newDir, full_)) return;
    if (isDir) {
      RenameCachedTree(other_, full_);
      tracker_.MoveTree(other_, full_);
      Emit(SHCNE_RENAMEFOLDER, other_, full_, pid);
    } else {
      tracker_.Settle(other_);
      tracker_.Settle(full_);
      Emit(SHCNE_RENAMEITEM, other_, full_, pid);
    }
    return;
  }
  if (!resolve(dir, full_)) return;
  // Unread events for one name are merged into one; for the same object the
  // kernel can only have seen them in this order.
  if (m->mask & FAN_CREATE) {
    if (isDir) {
      if (child.handle) {
        AppendKey(childKey_, child.fsid, child.handle);
        dirs_[childKey_] = full_;
      }
      Emit(SHCNE_MKDIR, full_, std::nullopt, pid);
    } else {
      tracker_.Created(full_, now, pid);
    }
  }
  if ((m->mask & (FAN_MODIFY | FAN_ATTRIB | FAN_CLOSE_WRITE)) && !(m->mask & FAN_CREATE) && !isDir &&
      NamesAnUnnamedFile(full_))
    return;
  if ((m->mask & FAN_MODIFY) && !isDir) tracker_.Written(full_, now, pid);
  if (m->mask & FAN_ATTRIB) {
    if (isDir) {
      Emit(SHCNE_ATTRIBUTES, full_, std::nullopt, pid);
    } else {
      tracker_.AttributesChanged(full_, pid);
    }
  }
  if ((m->mask & FAN_CLOSE_WRITE) && !isDir) tracker_.Closed(full_, pid);
  if (m->mask & FAN_DELETE) {
    if (isDir) {
      std::string path = full_;
      if (child.handle) {
        AppendKey(childKey_, child.fsid, child.handle);
        std::string key = childKey_;
        // What happened inside it before it went comes first.
        ReplayDeferred(key, path);
        dirs_.erase(key);
      }
      Emit(SHCNE_RMDIR, std::move(path), std::nullopt, pid);
    } else {
      tracker_.Settle(full_);
      Emit(SHCNE_DELETE, full_, std::nullopt, pid);
    }
  }
}

}  // namespace vantrel
