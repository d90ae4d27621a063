#include "monitor/linux/InotifySource.h"

#include "text/AtomicFile.h"
#include "text/PathRoutines.h"
#include "text/TextRules.h"
#include "time/Timing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {
namespace {

constexpr std::uint32_t kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE |
                                IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;
// A rename queues both halves within one system call; the pairing covers a
// reader that wakes between them.
constexpr std::int64_t kMovePairingMs = timing::kInotifyMovePairing.count();

std::string WatchLimit() {
  std::string text;
  ReadWholeFile("/proc/sys/fs/inotify/max_user_watches", text);
  return std::string(TrimBlanks(text));
}

}  // namespace

bool InotifySource::Open(std::string& error) {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) {
    error = std::string("inotify_init1: ") + std::strerror(errno);
    return false;
  }
  return true;
}

void InotifySource::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  paths_.clear();
  wds_.clear();
  tooLongFolders_.clear();
  watchCount_ = 0;
}

bool InotifySource::IsRoot(std::string_view dir) const {
  return std::find(roots_.begin(), roots_.end(), dir) != roots_.end();
}

bool InotifySource::DrainKernel() {
  if (rawPos_ == raw_.size()) {
    raw_.clear();
    rawPos_ = 0;
  }
  bool got = false;
  char buf[256 * 1024] __attribute__((aligned(alignof(inotify_event))));
  for (;;) {
    ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return got;
    raw_.append(buf, static_cast<std::size_t>(n));
    got = true;
    if (raw_.size() - rawPos_ > (8u << 20)) return got;
  }
}

void InotifySource::ReadKernel(std::int64_t now) {
  for (;;) {
    if (rawPos_ == raw_.size() && !DrainKernel()) break;
    while (rawPos_ + sizeof(inotify_event) <= raw_.size()) {
      inotify_event ev;
      std::memcpy(&ev, raw_.data() + rawPos_, sizeof ev);
      std::size_t size = sizeof(inotify_event) + ev.len;
      std::string_view name(raw_.data() + rawPos_ + sizeof(inotify_event), ev.len);
      name = name.substr(0, name.find('\0'));
      rawPos_ += size;
      // Handle may append to raw_ while it scans, so name must be copied first.
      std::string nameCopy(name);
      Handle(static_cast<std::uint32_t>(ev.wd), ev.mask, ev.cookie, nameCopy, now);
      if (batch_.size() >= 4096) FlushBatch();
    }
  }
  // Everything queued before the scans above has now been read, so their
  // create events can no longer arrive.
  scanned_.clear();
}

void InotifySource::Handle(std::uint32_t wdBits, std::uint32_t mask, std::uint32_t cookie, std::string_view name,
                           std::int64_t now) {
  if (mask & IN_Q_OVERFLOW) {
    ReportProblem({SourceReport::QueueOverflow, 1, "已重新扫描监控的文件夹"});
    tracker_.SettleAll();
    for (const std::string& root : std::vector<std::string>(roots_))
      if (IsDirectoryPath(root)) WatchTree(root, false, now);
    return;
  }
  int wd = static_cast<int>(wdBits);
  auto pit = paths_.find(wd);
  if (pit == paths_.end()) return;
  if (mask & IN_IGNORED) {
    auto it = wds_.find(pit->second);
    if (it != wds_.end() && it->second == wd) wds_.erase(it);
    paths_.erase(pit);
    watchCount_ = paths_.size();
    return;
  }
  const std::string& dir = pit->second;
  bool isDir = mask & IN_ISDIR;
  if (name.empty()) {
    // Events on a watched directory itself matter only for roots: for the
    // others their parent's watch reports the same change with a name.
    if (!IsRoot(dir)) return;
    if (mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
      std::string root = dir;  // ForgetTree drops the entry dir refers to
      Consume(Raw(RawChange::Delete, true, root), now);
      ForgetTree(root);
    } else if (mask & IN_ATTRIB) {
      Consume(Raw(RawChange::Attrib, true, dir), now);
    }
    return;
  }
  full_.assign(dir);
  if (full_.size() > 1) full_ += '/';
  full_.append(name);
  const std::string& full = full_;
  if (!moves_.empty() && !(mask & IN_MOVED_TO)) ExpireMoves(now, full);

  if (mask & IN_CREATE) {
    if (!scanned_.empty() && scanned_.erase(full)) return;
    if (isDir) {
      std::string path = full;
      Consume(Raw(RawChange::Create, true, path), now);
      WatchTree(path, true, now);
    } else {
      Consume(Raw(RawChange::Create, false, full), now);
    }
  } else if (mask & IN_MODIFY) {
    Consume(Raw(RawChange::Modify, false, full), now);
  } else if (mask & IN_CLOSE_WRITE) {
    Consume(Raw(RawChange::CloseWrite, false, full), now);
  } else if (mask & IN_DELETE) {
    scanned_.erase(full);
    Consume(Raw(RawChange::Delete, isDir, full), now);
  } else if (mask & IN_MOVED_FROM) {
    scanned_.erase(full);
    moves_.push_back({cookie, full, isDir, now});
  } else if (mask & IN_MOVED_TO) {
    auto move = std::find_if(moves_.begin(), moves_.end(), [&](const Move& m) { return m.cookie == cookie; });
    std::string path = full;
    if (move == moves_.end()) {
      // Moved in from outside the watched folders. Whatever went away from
      // this very place before (out of the watched folders, its pairing
      // still awaited) is told gone first: told after, it would have the
      // item gone while it is there.
      if (std::any_of(moves_.begin(), moves_.end(), [&](const Move& m) { return m.path == path; })) {
        for (bool last = false; !last && !moves_.empty();) {
          Move gone = std::move(moves_.front());
          moves_.pop_front();
          last = gone.path == path;
          MovedOut(gone, now);
        }
      }
      Consume(Raw(RawChange::Appear, isDir, path), now);
      if (isDir) WatchTree(path, false, now);
      return;
    }
    Move from = std::move(*move);
    moves_.erase(move);
    if (isDir) {
      if (wds_.count(from.path)) {
        RenameTree(from.path, path);
      } else {
        WatchTree(path, false, now);
      }
    }
    Consume(Raw(RawChange::Rename, isDir, from.path, path), now);
  } else if (mask & IN_ATTRIB) {
    Consume(Raw(RawChange::Attrib, isDir, full), now);
  }
}

void InotifySource::MovedOut(const Move& move, std::int64_t now) {
  if (move.isDir) ForgetTree(move.path);
  Consume(Raw(RawChange::Delete, move.isDir, move.path), now);
}

void InotifySource::ExpireMoves(std::int64_t now, std::string_view path) {
  while (!moves_.empty()) {
    const Move& m = moves_.front();
    if (m.at + kMovePairingMs > now && m.path != path) break;
    Move move = std::move(moves_.front());
    moves_.pop_front();
    MovedOut(move, now);
  }
}

std::optional<std::int64_t> InotifySource::NextDeadline() {
  auto next = tracker_.NextDeadline();
  if (!moves_.empty()) {
    std::int64_t due = moves_.front().at + kMovePairingMs;
    if (!next || due < *next) next = due;
  }
  return next;
}

void InotifySource::OnTick(std::int64_t now) {
  if (!moves_.empty()) ExpireMoves(now, {});
  tracker_.Expire(now);
}

bool InotifySource::AddWatch(const std::string& dir) {
  if (watchLimitHit_) return false;
  int wd = inotify_add_watch(fd_, dir.c_str(), kMask);
  if (wd < 0) {
    if (errno == ENOSPC) {
      watchLimitHit_ = true;
      if (!limitReported_) {
        limitReported_ = true;
        ReportProblem({SourceReport::WatchLimit, 1, WatchLimit()});
      }
    } else if (errno == ENAMETOOLONG) {
      // Once per folder: rescans after an overflow meet it again.
      if (tooLongFolders_.size() >= 100000) tooLongFolders_.clear();
      if (tooLongFolders_.insert(dir).second) CountTooLong(1, NameableAncestor(dir));
    }
    return false;
  }
  auto [it, inserted] = paths_.try_emplace(wd, dir);
  if (!inserted && it->second != dir) {
    // The same directory under a new name: a move this source did not see.
    wds_.erase(it->second);
    it->second = dir;
  }
  wds_[dir] = wd;
  watchCount_ = paths_.size();
  return true;
}

void InotifySource::WatchTree(const std::string& top, bool reportContents, std::int64_t now) {
  std::vector<std::string> pending{top};
  if (!AddWatch(top)) return;
  std::size_t scannedDirs = 0;
  while (!pending.empty()) {
    std::string dir = std::move(pending.back());
    pending.pop_back();
    // Keep the kernel queue from overflowing while a large tree is walked.
    if (++scannedDirs % 256 == 0) DrainKernel();
    DIR* d = ::opendir(dir.c_str());
    if (!d) continue;
    while (dirent* e = ::readdir(d)) {
      std::string_view name = e->d_name;
      if (name == "." || name == "..") continue;
      bool isDir = e->d_type == DT_DIR;
      if (e->d_type == DT_UNKNOWN) {
        struct stat st {};
        isDir = ::fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
      }
      std::string path = JoinPath(dir, name);
      if (reportContents) {
        Consume(Raw(RawChange::Create, isDir, path), now);
        scanned_.insert(path);
      }
      if (isDir && AddWatch(path)) pending.push_back(std::move(path));
    }
    ::closedir(d);
  }
}

void InotifySource::ForgetTree(const std::string& dir) {
  std::vector<int> gone;
  for (const auto& [wd, path] : paths_)
    if (PathWithin(path, dir)) gone.push_back(wd);
  for (int wd : gone) {
    inotify_rm_watch(fd_, wd);
    wds_.erase(paths_[wd]);
    paths_.erase(wd);
  }
  watchCount_ = paths_.size();
}

void InotifySource::RenameTree(const std::string& from, const std::string& to) {
  for (auto& [wd, path] : paths_) {
    if (!PathWithin(path, from)) continue;
    wds_.erase(path);
    path = to + path.substr(from.size());
    wds_[path] = wd;
  }
}

void InotifySource::OnRootsChanged(const std::vector<std::string>& roots) {
  std::int64_t now = NowMs();
  for (const std::string& old : std::vector<std::string>(roots_))
    if (std::find(roots.begin(), roots.end(), old) == roots.end()) ForgetTree(old);
  std::vector<std::string> previous = roots_;
  roots_ = roots;
  watchLimitHit_ = false;
  for (const std::string& root : roots)
    if (std::find(previous.begin(), previous.end(), root) == previous.end() && IsDirectoryPath(root))
      WatchTree(root, false, now);
}

}  // namespace vantrel
