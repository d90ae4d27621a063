#include "monitor/linux/FanotifyReader.h"

#include "monitor/linux/Capabilities.h"
#include "monitor/linux/KernelSource.h"
#include "text/PathRoutines.h"
#include "time/Timing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace vantrel {
namespace {

constexpr std::uint64_t kMask =
    FAN_CREATE | FAN_DELETE | FAN_RENAME | FAN_MODIFY | FAN_CLOSE_WRITE | FAN_ATTRIB | FAN_ONDIR;
// Past this many cached directories the cache starts afresh; entries are
// found again by opening their handles.
constexpr std::size_t kDirCacheLimit = 200000;
constexpr std::size_t kDirCacheBytes = 16u << 20;
// Events waiting for their folder's path, at most; more are told as lost.
constexpr std::size_t kDeferLimit = 65536;
// The removal of a folder follows its contents within one burst; a reader
// that fell behind reads both from the same queue.
constexpr std::int64_t kDeferMs = timing::kFanotifyDefer.count();
constexpr std::size_t kFsidBytes = 8;

// Marked and asked for its id: never one whose server might not answer, nor
// one reached through such a mount, whose names its server may be asked to
// confirm on the way.
bool Markable(const MountEntry& m, const std::vector<MountEntry>& all) {
  if (!IsLocalFileSystemType(m.type) || IsServedFileSystemType(m.type)) return false;
  return std::none_of(all.begin(), all.end(), [&](const MountEntry& other) {
    return IsServedFileSystemType(other.type) && PathWithin(m.mountPoint, other.mountPoint);
  });
}
// What one read of the kernel takes: room for many events, and for the
// largest single one.
constexpr std::size_t kReadBytes = 64 * 1024;
constexpr int kGatherMs = static_cast<int>(timing::kFanotifyGather.count());

// Calls f(metadata, event) for each whole event in events from `from` on;
// returns where the last whole one ends.
template <typename F>
std::size_t EachEvent(const std::string& events, std::size_t from, F&& f) {
  while (from <= events.size() && events.size() - from >= sizeof(fanotify_event_metadata)) {
    // Events are padded to 4 bytes only, so the 8-byte mask may sit unaligned.
    fanotify_event_metadata m;
    std::memcpy(&m, events.data() + from, sizeof m);
    if (m.event_len < sizeof m || m.event_len > events.size() - from) break;
    f(m, events.data() + from);
    from += m.event_len;
  }
  return from;
}

std::string FsidBytes(const void* fsid) { return std::string(static_cast<const char*>(fsid), kFsidBytes); }

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

// The path /proc tells for an open descriptor; false where the kernel cannot
// name it in PATH_MAX bytes (tooLong set) or it names no live directory.
bool PathOfDescriptor(int fd, std::string& out, bool& tooLong) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[PATH_MAX];
  ssize_t n = ::readlink(link, target, sizeof target);
  tooLong = (n < 0 && errno == ENAMETOOLONG) || n >= static_cast<ssize_t>(sizeof target);
  if (tooLong || n <= 0 || target[0] != '/') return false;
  out.assign(target, static_cast<std::size_t>(n));
  return !(out.size() > 10 && out.compare(out.size() - 10, 10, " (deleted)") == 0);
}

// The deepest folder above fd (which is closed) that the kernel can name.
std::string NamedAncestor(int fd) {
  for (int depth = 0; fd >= 0 && depth < PATH_MAX; ++depth) {
    int up = ::openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = up;
    std::string path;
    bool tooLong = false;
    if (fd >= 0 && PathOfDescriptor(fd, path, tooLong)) {
      ::close(fd);
      return path;
    }
    if (!tooLong) break;
  }
  if (fd >= 0) ::close(fd);
  return {};
}

}  // namespace

struct FanotifyReader::FidRecord {
  std::string_view fsid;
  const file_handle* handle = nullptr;
  std::string_view name;
};

bool FanotifyReader::Open(std::vector<MountEntry> mounts, std::string& error) {
  fd_ = fanotify_init(FAN_CLASS_NOTIF | FAN_CLOEXEC | FAN_NONBLOCK | FAN_REPORT_DFID_NAME_TARGET,
                      O_RDONLY | O_LARGEFILE | O_CLOEXEC);
  if (fd_ < 0) {
    error = std::string("fanotify_init: ") + std::strerror(errno) +
            (errno == EPERM ? " (needs CAP_SYS_ADMIN)" : "");
    return false;
  }
  // Without it no handle opens: every change would go unnamed.
  if (!HasEffectiveCapability(kCapDacReadSearch)) {
    error = "open_by_handle_at needs CAP_DAC_READ_SEARCH";
    Close();
    return false;
  }
  mounts_ = std::move(mounts);
  std::string why;
  if (MarkFileSystems(&why) == 0) {
    error = "no file system could be marked" + (why.empty() ? std::string() : ": " + why);
    Close();
    return false;
  }
  ready_.Clear();
  stop_.Clear();
  stopping_ = false;
  drain_ = std::thread([this] { Drain(); });
  return true;
}

void FanotifyReader::Close() {
  if (drain_.joinable()) {
    {
      std::lock_guard lock(bufferMutex_);
      stopping_ = true;
    }
    roomMade_.notify_all();
    stop_.Raise();
    drainCpuAtClose_ = DrainCpuSeconds();
    drain_.join();
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  buffer_.clear();
  reading_.clear();
  fileSystems_.clear();
  dirs_.clear();
  tooLong_.clear();
  deferred_.clear();
  deferredCount_ = deferredDropped_ = 0;
}

double FanotifyReader::DrainCpuSeconds() const {
  return drain_.joinable() ? CpuSecondsOf(drain_) : drainCpuAtClose_;
}

void FanotifyReader::CopyQueuedLocked() {
  char chunk[kReadBytes];
  while (buffer_.size() < kBufferBytes) {
    ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

void FanotifyReader::Drain() {
  // It reads and copies, nothing else: no capability of the process is
  // needed on this thread.
  SetEffectiveCapability(kCapSysAdmin, false);
  SetEffectiveCapability(kCapDacReadSearch, false);
  pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_.Handle(), POLLIN, 0}};
  for (;;) {
    {
      // A full buffer is left to the kernel's queue, which overflows and
      // says so rather than grow.
      std::unique_lock lock(bufferMutex_);
      roomMade_.wait(lock, [this] { return stopping_ || buffer_.size() < kBufferBytes; });
      if (stopping_) return;
    }
    int rc = ::poll(fds, 2, -1);
    if (rc < 0 && errno != EINTR) return;
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    // A moment for more to come, so that a burst is copied and named in a
    // few large reads rather than one per event; the kernel's queue holds
    // far more than a moment brings.
    if (::poll(&fds[1], 1, kGatherMs) > 0) return;
    bool copied = false;
    {
      std::lock_guard lock(bufferMutex_);
      const std::size_t before = buffer_.size();
      CopyQueuedLocked();
      copied = buffer_.size() != before;
    }
    if (copied) ready_.Raise();
  }
}

void FanotifyReader::Defer(const std::string& dirKey, const fanotify_event_metadata& meta, const char* event,
                           std::int64_t now) {
  if (deferredCount_ >= kDeferLimit) {
    ++deferredDropped_;
    return;
  }
  ++deferredCount_;
  if (deferred_.empty()) oldestDeferred_ = now;
  deferred_[dirKey].push_back({std::string(event, meta.event_len), now});
}

void FanotifyReader::Removed(std::string key, std::string path, std::string folder, std::int32_t pid,
                             std::int64_t now) {
  Replay replay{{}, 0, std::move(key), std::move(path), std::move(folder), pid, now};
  if (auto it = deferred_.find(replay.key); it != deferred_.end()) {
    replay.events = std::move(it->second);
    deferred_.erase(it);
    deferredCount_ -= std::min(deferredCount_, replay.events.size());
    CacheDirectory(replay.key, replay.path);
  }
  replays_.push_back(std::move(replay));
  // Taken by the outermost call, with a stack of its own rather than the
  // thread's: a tree removed as deep as anybody can make one must not
  // overflow it.
  if (replays_.size() > 1) return;
  while (!replays_.empty()) {
    Replay& top = replays_.back();
    if (top.next < top.events.size()) {
      // Out of the stack first: handling it may push onto it.
      const Deferred d = std::move(top.events[top.next++]);
      fanotify_event_metadata m;
      std::memcpy(&m, d.event.data(), sizeof m);
      HandleEvent(m, d.event.data(), d.since);
      continue;
    }
    const Replay done = std::move(top);
    replays_.pop_back();
    dirs_.erase(done.key);
    tooLong_.erase(done.key);
    Send(RawChange::Delete, true, done.pid, done.path, done.folder, done.now);
  }
}

std::optional<std::int64_t> FanotifyReader::NextDeadline() const {
  if (deferredDropped_) return 0;
  if (deferred_.empty()) return std::nullopt;
  return oldestDeferred_ + kDeferMs;
}

void FanotifyReader::Tick(std::int64_t now) {
  if (deferredDropped_) {
    sink_.Report({SourceReport::NoPath, deferredDropped_, {}});
    deferredDropped_ = 0;
  }
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
  deferredCount_ -= std::min(deferredCount_, lost);
  if (lost) sink_.Report({SourceReport::NoPath, lost, {}});
}

std::size_t FanotifyReader::MarkFileSystems(std::string* firstError) {
  // Mounts of a whole file system first, so that a bind mount of one of its
  // folders does not become the name the file system is known by.
  std::vector<const MountEntry*> order;
  for (const MountEntry& m : mounts_)
    if (Markable(m, mounts_)) order.push_back(&m);
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
    fileSystems_[fsid] = m->mountPoint;
    ++marked;
  }
  return marked;
}

void FanotifyReader::MountsChanged(std::vector<MountEntry> mounts, const std::vector<std::string>& added,
                                   const std::vector<std::string>& removed) {
  mounts_ = std::move(mounts);
  for (const std::string& point : removed) {
    for (auto it = fileSystems_.begin(); it != fileSystems_.end();) {
      if (it->second != point) {
        ++it;
        continue;
      }
      // Still mounted elsewhere: keep it under that name.
      auto other = std::find_if(mounts_.begin(), mounts_.end(), [&](const MountEntry& m) {
        std::string fsid;
        return Markable(m, mounts_) && FsidOf(m.mountPoint, fsid) && fsid == it->first;
      });
      if (other != mounts_.end()) {
        it->second = other->mountPoint;
        ++it;
        continue;
      }
      const std::string fsid = it->first;
      auto onIt = [&](const auto& entry) { return entry.first.compare(0, fsid.size(), fsid) == 0; };
      std::erase_if(dirs_, onIt);
      std::erase_if(tooLong_, onIt);
      it = fileSystems_.erase(it);
    }
  }
  if (!added.empty()) MarkFileSystems(nullptr);
}

int FanotifyReader::OpenHandle(std::string_view key) const {
  alignas(file_handle) unsigned char storage[sizeof(file_handle) + MAX_HANDLE_SZ] = {};
  auto* handle = reinterpret_cast<file_handle*>(storage);
  const std::size_t fixed = kFsidBytes + sizeof handle->handle_type;
  if (key.size() < fixed || key.size() - fixed > MAX_HANDLE_SZ) return -1;
  auto fs = fileSystems_.find(std::string(key.substr(0, kFsidBytes)));
  if (fs == fileSystems_.end()) return -1;
  std::memcpy(&handle->handle_type, key.data() + kFsidBytes, sizeof handle->handle_type);
  handle->handle_bytes = static_cast<unsigned>(key.size() - fixed);
  std::memcpy(handle->f_handle, key.data() + fixed, key.size() - fixed);
  // Opened only for this lookup: a mount fd kept open would block unmounting.
  int mountFd = ::open(fs->second.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (mountFd < 0) return -1;
  int fd = open_by_handle_at(mountFd, handle, O_PATH | O_CLOEXEC);
  ::close(mountFd);
  return fd;
}

int FanotifyReader::OpenFolder(std::string_view key) const { return OpenHandle(key); }

FanotifyReader::Lookup FanotifyReader::ResolveDirectory(std::string_view key, const std::string** path) {
  if (auto hit = dirs_.find(key); hit != dirs_.end()) {
    *path = &hit->second;
    return Lookup::Found;
  }
  if (auto deep = tooLong_.find(key); deep != tooLong_.end()) {
    *path = deep->second.get();
    return Lookup::TooLong;
  }
  int fd = OpenHandle(key);
  if (fd < 0) return Lookup::Gone;
  std::string found;
  bool tooLong = false;
  if (!PathOfDescriptor(fd, found, tooLong)) {
    if (!tooLong) {
      ::close(fd);
      return Lookup::Gone;
    }
    if (tooLong_.size() >= kDirCacheLimit) tooLong_.clear();
    *path = tooLong_.emplace(std::string(key), std::make_shared<const std::string>(NamedAncestor(fd))).first->second.get();
    return Lookup::TooLong;
  }
  ::close(fd);
  *path = &CacheDirectory(key, std::move(found));
  return Lookup::Found;
}

const std::string& FanotifyReader::CacheDirectory(std::string_view key, std::string path) {
  if (dirs_.size() >= kDirCacheLimit || dirsBytes_ >= kDirCacheBytes) {
    dirs_.clear();
    dirsBytes_ = 0;
  }
  dirsBytes_ += key.size() + path.size() + 64;
  auto [it, added] = dirs_.try_emplace(std::string(key));
  it->second = std::move(path);
  return it->second;
}

void FanotifyReader::RenameCachedTree(const std::string& from, const std::string& to) {
  for (auto it = dirs_.begin(); it != dirs_.end();) {
    std::string& path = it->second;
    if (!PathWithin(path, from)) {
      ++it;
      continue;
    }
    path = to + path.substr(from.size());
    dirsBytes_ += to.size() > from.size() ? to.size() - from.size() : 0;
    // Moved deeper than a path can name: found again through its handle.
    it = path.size() >= PATH_MAX ? dirs_.erase(it) : std::next(it);
  }
  // A folder moved up may have become short enough to name.
  tooLong_.clear();
}

void FanotifyReader::Read(std::int64_t now) {
  {
    std::lock_guard lock(bufferMutex_);
    // What the kernel queued up to this moment comes along, so that a change
    // is named together with whatever followed it before now.
    CopyQueuedLocked();
    reading_.swap(buffer_);
    buffer_.clear();
    ready_.Clear();
  }
  roomMade_.notify_one();
  if (lookAhead_) NoteRightsChanges();
  at_ = 0;
  EachEvent(reading_, 0, [&](const fanotify_event_metadata& m, const char* event) {
    HandleEvent(m, event, now);
    if (m.fd >= 0) ::close(m.fd);
    ++at_;
  });
  reading_.clear();
  later_.clear();
  laterByPath_.clear();
  // A burst's worth is not kept once it is read.
  if (reading_.capacity() > (1u << 20)) reading_.shrink_to_fit();
}

void FanotifyReader::Send(RawChange::Kind kind, bool isDir, std::int32_t pid, std::string_view path,
                          std::string_view folder, std::int64_t now, std::string_view newPath,
                          std::string_view newFolder) {
  RawChange c;
  c.kind = kind;
  c.isDir = isDir;
  c.pid = pid;
  c.path = path;
  c.newPath = newPath;
  c.folder = folder;
  c.newFolder = newFolder;
  sink_.Change(c, now);
}

void FanotifyReader::ParseRecords(const fanotify_event_metadata& meta, const char* event, FidRecord& dir,
                                  FidRecord& oldDir, FidRecord& newDir, FidRecord& child) {
  const std::size_t length = meta.event_len;
  for (std::size_t off = meta.metadata_len; off + sizeof(fanotify_event_info_header) <= length;) {
    const auto* hdr = reinterpret_cast<const fanotify_event_info_header*>(event + off);
    if (hdr->len < sizeof(fanotify_event_info_fid) || off + hdr->len > length) break;
    const auto* info = reinterpret_cast<const fanotify_event_info_fid*>(hdr);
    FidRecord rec;
    rec.fsid = std::string_view(reinterpret_cast<const char*>(&info->fsid), kFsidBytes);
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
}

bool FanotifyReader::PathOfItem(const FidRecord& rec, std::string& key, std::string& out) {
  if (!rec.handle) return false;
  AppendKey(key, rec.fsid, rec.handle);
  const std::string* dirPath = nullptr;
  if (ResolveDirectory(key, &dirPath) != Lookup::Found) return false;
  out.assign(*dirPath);
  // A folder's own change names the folder itself, as ".".
  if (rec.name.empty() || rec.name == ".") return true;
  if (out.size() > 1) out += '/';
  out.append(rec.name);
  return true;
}

void FanotifyReader::NoteRightsChanges() {
  later_.clear();
  laterByPath_.clear();
  std::size_t from = 0;
  const std::size_t events = NoteRightsChanges(reading_, from, 0);
  std::lock_guard lock(bufferMutex_);
  bufferNoted_ = 0;
  bufferAt_ = events;
}

std::size_t FanotifyReader::NoteRightsChanges(const std::string& events, std::size_t& from, std::size_t at) {
  std::string key;
  from = EachEvent(events, from, [&](const fanotify_event_metadata& m, const char* event) {
    const std::size_t here = at++;
    if (!(m.mask & FAN_ONDIR) || !(m.mask & (FAN_ATTRIB | FAN_RENAME))) return;
    FidRecord dir, oldDir, newDir, child;
    ParseRecords(m, event, dir, oldDir, newDir, child);
    LaterRightsChange r;
    r.at = here;
    r.moved = m.mask & FAN_RENAME;
    const bool named = r.moved ? PathOfItem(oldDir, r.oldParentKey, r.path) && PathOfItem(newDir, key, r.newPath)
                               : PathOfItem(dir, key, r.path);
    if (!named) return;
    if (child.handle) {
      AppendKey(key, child.fsid, child.handle);
      int fd = OpenHandle(key);
      struct stat st {};
      if (fd >= 0 && ::fstat(fd, &st) == 0) r.owner = static_cast<long>(st.st_uid);
      if (fd >= 0) ::close(fd);
    }
    laterByPath_[r.path].push_back(later_.size());
    if (r.moved) laterByPath_[r.newPath].push_back(later_.size());
    later_.push_back(std::move(r));
  });
  return at;
}

void FanotifyReader::RightsChangedLater(std::string_view folder, std::vector<const LaterRightsChange*>& out) {
  // Only noted where asked for: the marks into the buffer are kept current
  // by each read then.
  if (!lookAhead_) return;
  {
    std::lock_guard lock(bufferMutex_);
    CopyQueuedLocked();
    bufferAt_ = NoteRightsChanges(buffer_, bufferNoted_, bufferAt_);
  }
  if (later_.empty()) return;
  for (std::string_view up = folder; !up.empty(); up = up.size() > 1 ? FolderOf(up) : std::string_view()) {
    if (auto hit = laterByPath_.find(up); hit != laterByPath_.end())
      for (std::size_t i : hit->second)
        if (later_[i].at > at_) out.push_back(&later_[i]);
  }
}

void FanotifyReader::HandleEvent(const fanotify_event_metadata& meta, const char* event, std::int64_t now) {
  const fanotify_event_metadata* m = &meta;
  if (m->mask & FAN_Q_OVERFLOW) {
    sink_.Report({SourceReport::QueueOverflow, 1, {}});
    return;
  }
  FidRecord dir, oldDir, newDir, child;
  ParseRecords(meta, event, dir, oldDir, newDir, child);

  // The item's path from its folder's, or the deepest named folder above
  // one too deep to name; where the folder's handle no longer opens, the
  // event waits for the folder's path.
  auto resolve = [&](const FidRecord& rec, std::string& key, std::string& out) {
    if (!rec.handle) return Lookup::Gone;
    AppendKey(key, rec.fsid, rec.handle);
    const std::string* dirPath = nullptr;
    Lookup found = ResolveDirectory(key, &dirPath);
    if (found == Lookup::Gone) {
      Defer(key, meta, event, now);
      return found;
    }
    out.assign(*dirPath);
    if (found == Lookup::Found && !rec.name.empty() && rec.name != ".") {
      // An item one step too deep to name: its folder is the deepest named.
      if (out.size() + 1 + rec.name.size() >= PATH_MAX) return Lookup::TooLong;
      if (out.size() > 1) out += '/';
      out.append(rec.name);
    }
    return found;
  };
  const bool isDir = m->mask & FAN_ONDIR;
  const std::int32_t pid = m->pid;

  if (m->mask & FAN_RENAME) {
    Lookup from = resolve(oldDir, key_, other_);
    if (from == Lookup::Gone) return;
    Lookup to = resolve(newDir, otherKey_, full_);
    if (to == Lookup::Gone) return;
    if (from == Lookup::TooLong) sink_.TooLong(key_, other_);
    if (to == Lookup::TooLong) sink_.TooLong(otherKey_, full_);
    if (from == Lookup::Found && to == Lookup::Found) {
      if (isDir) RenameCachedTree(other_, full_);
      Send(RawChange::Rename, isDir, pid, other_, key_, now, full_, otherKey_);
    } else if (from == Lookup::Found) {
      if (isDir) std::erase_if(dirs_, [&](const auto& entry) { return PathWithin(entry.second, other_); });
      Send(RawChange::Delete, isDir, pid, other_, key_, now);
    } else if (to == Lookup::Found) {
      // What lay below it may have come within reach of a name.
      if (isDir) tooLong_.clear();
      Send(RawChange::Appear, isDir, pid, full_, otherKey_, now);
    }
    return;
  }
  Lookup found = resolve(dir, key_, full_);
  if (found == Lookup::Gone) return;
  if (found == Lookup::TooLong) {
    sink_.TooLong(key_, full_);
    if ((m->mask & FAN_CREATE) && isDir && child.handle) {
      // Below a folder too deep to name, each new one shares its ancestor,
      // rather than climb to it again: a chain made one inside the next
      // costs a step each, not the whole climb.
      AppendKey(childKey_, child.fsid, child.handle);
      auto above = tooLong_.find(key_);
      if (tooLong_.size() >= kDirCacheLimit) tooLong_.clear(), above = tooLong_.end();
      tooLong_[childKey_] = above != tooLong_.end() ? above->second : std::make_shared<const std::string>(full_);
    }
    if ((m->mask & FAN_DELETE) && isDir && child.handle) {
      // What waited for this folder's path will never have one that fits.
      AppendKey(childKey_, child.fsid, child.handle);
      if (auto waiting = deferred_.find(childKey_); waiting != deferred_.end()) {
        for (std::size_t i = 0; i < waiting->second.size(); ++i) sink_.TooLong(key_, full_);
        deferredCount_ -= std::min(deferredCount_, waiting->second.size());
        deferred_.erase(waiting);
      }
      tooLong_.erase(childKey_);
    }
    return;
  }
  // Unread events for one name are merged into one; for the same object the
  // kernel can only have seen them in this order.
  if (m->mask & FAN_CREATE) {
    if (isDir && child.handle) {
      AppendKey(childKey_, child.fsid, child.handle);
      CacheDirectory(childKey_, full_);
    }
    Send(RawChange::Create, isDir, pid, full_, key_, now);
  }
  if ((m->mask & FAN_MODIFY) && !isDir) Send(RawChange::Modify, false, pid, full_, key_, now);
  if (m->mask & FAN_ATTRIB) Send(RawChange::Attrib, isDir, pid, full_, key_, now);
  if ((m->mask & FAN_CLOSE_WRITE) && !isDir) Send(RawChange::CloseWrite, false, pid, full_, key_, now);
  if (m->mask & FAN_DELETE) {
    if (isDir && child.handle) {
      // What happened inside it before it went comes first.
      AppendKey(childKey_, child.fsid, child.handle);
      Removed(childKey_, full_, key_, pid, now);
    } else {
      Send(RawChange::Delete, isDir, pid, full_, key_, now);
    }
  }
}

}  // namespace vantrel
