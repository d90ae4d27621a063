#include "monitor/windows/DirectoryChangesSource.h"

#include "monitor/WatchRoots.h"

#include "platform/windows/Handle.h"
#include "platform/windows/Wide.h"
#include "text/PathRoutines.h"
#include "time/Timing.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace vantrel {
namespace {

// Names, sizes, write times and attributes; not last access, which every
// read of a file would change, nor security.
constexpr DWORD kFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_SIZE |
                          FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_ATTRIBUTES |
                          FILE_NOTIFY_CHANGE_CREATION;
constexpr std::int64_t kRenamePairingMs = timing::kWindowsRenamePairing.count();
constexpr std::int64_t kPollMs = timing::kDrivePoll.count();

bool IsFolderNow(const std::string& path) {
  DWORD attributes = ::GetFileAttributesW(platform::NativePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Windows names an entry by its short (8.3) alias where whoever changed it
// used that; the user and the rules know it by its long name. Only what is
// still there can be asked.
std::string LongForm(std::string path) {
  const std::wstring native = platform::NativePath(path);
  DWORD n = ::GetLongPathNameW(native.c_str(), nullptr, 0);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  n = ::GetLongPathNameW(native.c_str(), full.data(), n);
  // The "\\?\" form comes back as such; the path as the reads name it is kept.
  if (n == 0 || n >= full.size() || full.rfind(L"\\\\?\\", 0) == 0) return path;
  full.resize(n);
  return platform::Utf8FromWide(full);
}

// The folder as it is spelled on disk, where it is the same folder by name
// ("c:\\cf\\a" typed, "C:\\CF\\A" on disk): changes are then listed under
// their real names. A junction's target, a path the handle reaches by
// another name, keeps the name asked for.
std::string DiskSpelling(HANDLE dir, const std::string& asked) {
  std::wstring full(kSystemPathLimit + 1, L'\0');
  DWORD n = ::GetFinalPathNameByHandleW(dir, full.data(), static_cast<DWORD>(full.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n == 0 || n >= full.size()) return asked;
  full.resize(n);
  if (full.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    full.replace(0, 8, L"\\\\");
  } else if (full.rfind(L"\\\\?\\", 0) == 0) {
    full.erase(0, 4);
  }
  std::string spelled = CleanPath(platform::Utf8FromWide(full));
  return PathKey(spelled) == PathKey(asked) ? spelled : asked;
}

std::string ErrorText(DWORD error) { return platform::ErrorFromWin32(error).Text(); }

double CpuSeconds(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  if (!thread || !::GetThreadTimes(thread, &created, &exited, &kernel, &user)) return 0.0;
  auto ticks = [](const FILETIME& t) { return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

}  // namespace

struct DirectoryChangesSource::Watch {
  DirectoryChangesSource* owner = nullptr;
  std::uint64_t id = 0;
  std::string root;
  HANDLE dir = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped{};
  std::vector<DWORD> buffer;
  std::size_t bytes = 0;
  bool pending = false;
  bool closing = false;
};

struct DirectoryReadDone {
  static void CALLBACK Routine(DWORD error, DWORD bytes, LPOVERLAPPED overlapped) {
    // hEvent is the caller's to use when a completion routine is given.
    auto* watch = static_cast<DirectoryChangesSource::Watch*>(overlapped->hEvent);
    watch->owner->OnCompleted(*watch, error, bytes);
  }
};

DirectoryChangesSource::DirectoryChangesSource(std::size_t bufferBytes, DriveList drives)
    : bufferBytes_(std::max<std::size_t>(bufferBytes, sizeof(DWORD)) / sizeof(DWORD) * sizeof(DWORD)),
      drives_(std::move(drives)),
      stopEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      wakeEvent_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      armedEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (!stopEvent_ || !wakeEvent_ || !armedEvent_) throw std::runtime_error("CreateEventW failed");
}

DirectoryChangesSource::~DirectoryChangesSource() {
  Stop();
  ::CloseHandle(stopEvent_);
  ::CloseHandle(wakeEvent_);
  ::CloseHandle(armedEvent_);
}

bool DirectoryChangesSource::Start(std::string& error) {
  if (running_) return true;
  ::ResetEvent(stopEvent_);
  ::ResetEvent(armedEvent_);
  {
    std::lock_guard lock(rootsMutex_);
    rootsDirty_ = true;
  }
  try {
    thread_ = std::thread([this] { Loop(); });
  } catch (const std::system_error& e) {
    error = e.what();
    return false;
  }
  running_ = true;
  ::WaitForSingleObject(armedEvent_, INFINITE);
  return true;
}

void DirectoryChangesSource::Stop() {
  if (!running_) return;
  ::SetEvent(stopEvent_);
  thread_.join();
  running_ = false;
}

void DirectoryChangesSource::SetRoots(std::vector<std::string> roots) {
  {
    std::lock_guard lock(rootsMutex_);
    roots_ = std::move(roots);
    rootsDirty_ = true;
  }
  ::SetEvent(wakeEvent_);
}

double DirectoryChangesSource::ReaderCpuSeconds() const {
  if (!running_ || !threadHandle_) return cpuAtExit_;
  return CpuSeconds(threadHandle_);
}

void DirectoryChangesSource::Loop() {
  // No "insert a disk" box for a card reader without a card: the drive is
  // simply not watched until it has one.
  ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, nullptr);
  ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &threadHandle_, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
  HANDLE waits[2] = {stopEvent_, wakeEvent_};
  for (;;) {
    std::vector<std::string> roots;
    bool dirty;
    {
      std::lock_guard lock(rootsMutex_);
      dirty = rootsDirty_;
      rootsDirty_ = false;
      if (dirty) roots = roots_;
    }
    if (dirty) {
      ApplyRoots(std::move(roots));
      ++rootSetsApplied_;
    }
    std::int64_t now = NowMs();
    if (now >= nextPoll_) {
      PollDrives(true, now);
      CheckRoots(now);
      nextPoll_ = now + kPollMs;
    }
    TakeCompletions(now);
    now = NowMs();
    for (std::size_t i = 0; i < relist_.size();) {
      if (relist_[i].second > now) {
        ++i;
        continue;
      }
      const std::string folder = std::move(relist_[i].first);
      relist_.erase(relist_.begin() + static_cast<std::ptrdiff_t>(i));
      if (KnownFolder(folder)) LearnTree(folder);
    }
    ExpireRename(now, false);
    tracker_.Expire(now);
    FlushBatch();
    ReapRetired(false);

    std::optional<std::int64_t> deadline = tracker_.NextDeadline();
    auto sooner = [&](std::int64_t at) {
      if (!deadline || at < *deadline) deadline = at;
    };
    if (rename_) sooner(rename_->at + kRenamePairingMs);
    for (const auto& due : relist_) sooner(due.second);
    sooner(nextPoll_);
    if (!completions_.empty()) sooner(now);
    DWORD timeout = INFINITE;
    if (deadline) timeout = static_cast<DWORD>(std::clamp<std::int64_t>(*deadline - NowMs(), 0, 60000));
    DWORD woke = ::WaitForMultipleObjectsEx(2, waits, FALSE, timeout, TRUE);
    if (woke == WAIT_OBJECT_0) break;
  }
  for (auto& watch : watches_) Retire(*watch);
  watches_.clear();
  ReapRetired(true);
  TakeCompletions(NowMs());
  ExpireRename(NowMs(), true);
  tracker_.SettleAll();
  FlushBatch();
  folders_.clear();
  rename_.reset();
  relist_.clear();
  cpuAtExit_ = CpuSeconds(threadHandle_);
  ::CloseHandle(threadHandle_);
  threadHandle_ = nullptr;
}

void DirectoryChangesSource::ApplyRoots(std::vector<std::string> wanted) {
  wanted = NormaliseRoots(std::move(wanted));
  if (!drivesKnown_) {
    // The drives there at the start are no news.
    PollDrives(false, NowMs());
    drivesKnown_ = true;
    nextPoll_ = NowMs() + kPollMs;
  }
  std::vector<std::string> added;
  // A watch is known by its key: it is spelled as on disk, the roots as the
  // rules spell them.
  auto watching = [](const Watch& w, const std::string& root) { return PathKey(w.root) == PathKey(root); };
  for (auto it = watches_.begin(); it != watches_.end();) {
    if (std::none_of(wanted.begin(), wanted.end(), [&](const std::string& root) { return watching(**it, root); })) {
      ForgetTree((*it)->root);
      Retire(**it);
      it = watches_.erase(it);
    } else {
      ++it;
    }
  }
  for (const std::string& root : wanted) {
    bool have = std::any_of(watches_.begin(), watches_.end(), [&](const auto& w) { return watching(*w, root); });
    unsigned long error = 0;
    // A rule folder that does not exist is no error: the rules name it
    // before it is made.
    if (!have)
      if (Watch* watch = OpenWatch(root, error)) added.push_back(watch->root);
  }
  // Armed first, walked after, so nothing made meanwhile is missed.
  ::SetEvent(armedEvent_);
  for (const std::string& root : added) LearnTree(root);
}

std::vector<std::string> DrivesToWatch(unsigned long mask, const std::function<unsigned(const std::string&)>& typeOf) {
  std::vector<std::string> drives;
  for (int i = 0; i < 26; ++i) {
    if (!(mask & (1ul << i))) continue;
    std::string root = std::string(1, static_cast<char>('A' + i)) + ":\\";
    // What the user keeps files on: fixed disks, and memory sticks and cards
    // as the shell's whole-namespace registration covers them too. Network
    // shares are another machine's disks; discs are not written file by file.
    unsigned type = typeOf(root);
    if (type == DRIVE_FIXED || type == DRIVE_REMOVABLE || type == DRIVE_RAMDISK) drives.push_back(root);
  }
  return drives;
}

std::vector<std::string> DirectoryChangesSource::LocalDrives() {
  std::vector<std::string> drives = DrivesToWatch(::GetLogicalDrives(), [](const std::string& root) {
    return ::GetDriveTypeW(platform::WideFromUtf8(root).c_str());
  });
  // A card reader without its card has a letter and nothing to watch: it
  // counts as come when the card is in.
  drives.erase(std::remove_if(drives.begin(), drives.end(), [](const std::string& root) { return !IsFolderNow(root); }),
               drives.end());
  return drives;
}

void DirectoryChangesSource::PollDrives(bool report, std::int64_t now) {
  // Drives are told as they come and go, the way mounts are on Linux; the
  // engine then gives the roots whole-disk mode has now.
  std::vector<std::string> drives = drives_();
  if (report) {
    for (const std::string& drive : knownDrives_)
      if (std::find(drives.begin(), drives.end(), drive) == drives.end())
        Consume(Raw(RawChange::DriveRemoved, true, drive), now);
    for (const std::string& drive : drives)
      if (std::find(knownDrives_.begin(), knownDrives_.end(), drive) == knownDrives_.end())
        Consume(Raw(RawChange::DriveAdded, true, drive), now);
  }
  knownDrives_ = std::move(drives);
}

DirectoryChangesSource::Watch* DirectoryChangesSource::OpenWatch(const std::string& root, unsigned long& error) {
  HANDLE dir = ::CreateFileW(platform::NativePath(root).c_str(), FILE_LIST_DIRECTORY,
                             platform::kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  if (dir == INVALID_HANDLE_VALUE) {
    error = ::GetLastError();
    return nullptr;
  }
  auto watch = std::make_unique<Watch>();
  watch->owner = this;
  watch->id = nextWatchId_++;
  watch->root = DiskSpelling(dir, root);
  watch->dir = dir;
  watch->bytes = bufferBytes_;
  watch->buffer.resize(watch->bytes / sizeof(DWORD));
  Arm(*watch);
  if (!watch->pending && ::GetLastError() == ERROR_INVALID_PARAMETER && watch->bytes > kNetworkBufferBytes) {
    // A network folder takes no more than 64 KiB a read.
    watch->bytes = kNetworkBufferBytes;
    watch->buffer.resize(watch->bytes / sizeof(DWORD));
    Arm(*watch);
  }
  if (!watch->pending) {
    error = ::GetLastError();
    ::CloseHandle(dir);
    return nullptr;
  }
  folders_.insert(watch->root);
  watches_.push_back(std::move(watch));
  return watches_.back().get();
}

void DirectoryChangesSource::Arm(Watch& watch) {
  watch.overlapped = OVERLAPPED{};
  watch.overlapped.hEvent = &watch;
  watch.pending = ::ReadDirectoryChangesW(watch.dir, watch.buffer.data(), static_cast<DWORD>(watch.bytes), TRUE,
                                          kFilter, nullptr, &watch.overlapped, &DirectoryReadDone::Routine) != 0;
}

void DirectoryChangesSource::OnCompleted(Watch& watch, unsigned long error, unsigned long bytes) {
  watch.pending = false;
  if (watch.closing) return;
  Completion done{watch.id, error, {}};
  if (error == ERROR_SUCCESS && bytes > 0) {
    const char* data = reinterpret_cast<const char*>(watch.buffer.data());
    done.data.assign(data, data + std::min<std::size_t>(bytes, watch.bytes));
  }
  // At once, before anything is made of the records: changes that happen
  // while no read is pending are what overflows the system's buffer.
  if (error != ERROR_OPERATION_ABORTED) {
    Arm(watch);
    // A watch that cannot read again has ended, whatever this read brought.
    if (!watch.pending) done.error = ::GetLastError();
  }
  completions_.push_back(std::move(done));
}

void DirectoryChangesSource::Retire(Watch& watch) {
  watch.closing = true;
  if (watch.pending) ::CancelIoEx(watch.dir, &watch.overlapped);
  ::CloseHandle(watch.dir);
  watch.dir = INVALID_HANDLE_VALUE;
  for (auto& w : watches_)
    if (w.get() == &watch) retired_.push_back(std::move(w));
}

void DirectoryChangesSource::ReapRetired(bool wait) {
  // A watch lives until its cancelled read's routine has run, since the
  // routine is handed the watch.
  for (int round = 0; round < 200; ++round) {
    retired_.erase(std::remove_if(retired_.begin(), retired_.end(), [](const auto& w) { return !w || !w->pending; }),
                   retired_.end());
    if (retired_.empty() || !wait) return;
    ::SleepEx(10, TRUE);
  }
  // Never freed while a read could still complete into it.
  for (auto& w : retired_) w.release();
  retired_.clear();
}

DirectoryChangesSource::Watch* DirectoryChangesSource::FindWatch(std::uint64_t id) {
  for (auto& w : watches_)
    if (w->id == id) return w.get();
  return nullptr;
}

void DirectoryChangesSource::TakeCompletions(std::int64_t now) {
  while (!completions_.empty()) {
    Completion done = std::move(completions_.front());
    completions_.pop_front();
    Watch* watch = FindWatch(done.watch);
    if (!watch) continue;
    if (done.error == ERROR_NOTIFY_ENUM_DIR || (done.error == ERROR_SUCCESS && done.data.empty())) {
      Overflowed(*watch, now);
      continue;
    }
    if (done.error != ERROR_SUCCESS) {
      RootLost(*watch, done.error, now);
      continue;
    }
    std::vector<std::pair<std::uint32_t, std::string>> records;
    std::size_t offset = 0;
    for (;;) {
      if (offset + offsetof(FILE_NOTIFY_INFORMATION, FileName) > done.data.size()) break;
      FILE_NOTIFY_INFORMATION record;
      std::memcpy(&record, done.data.data() + offset, offsetof(FILE_NOTIFY_INFORMATION, FileName));
      std::size_t nameAt = offset + offsetof(FILE_NOTIFY_INFORMATION, FileName);
      std::size_t nameBytes = std::min<std::size_t>(record.FileNameLength, done.data.size() - nameAt);
      std::wstring name(nameBytes / sizeof(wchar_t), L'\0');
      std::memcpy(name.data(), done.data.data() + nameAt, name.size() * sizeof(wchar_t));
      std::string path = JoinPath(watch->root, platform::Utf8FromWide(name));
      if (name.find(L'~') != std::wstring::npos && record.Action != FILE_ACTION_REMOVED &&
          record.Action != FILE_ACTION_RENAMED_OLD_NAME)
        path = LongForm(std::move(path));
      records.emplace_back(record.Action, std::move(path));
      if (record.NextEntryOffset == 0) break;
      offset += record.NextEntryOffset;
    }
    // A folder made and removed again before its records are read is gone
    // when it is looked at; that something was named inside it is what
    // shows it was a folder, and the naming may come later in the read.
    for (const auto& [action, path] : records) LearnParents(watch->root, path);
    for (auto& [action, path] : records) {
      Handle(action, std::move(path), now);
      if (batch_.size() >= 4096) FlushBatch();
    }
  }
}

void DirectoryChangesSource::LearnParents(const std::string& root, const std::string& path) {
  for (std::size_t cut = path.rfind('\\'); cut != std::string::npos && cut > root.size(); cut = path.rfind('\\', cut - 1))
    if (!folders_.insert(path.substr(0, cut)).second) break;
}

void DirectoryChangesSource::Handle(std::uint32_t action, std::string path, std::int64_t now) {
  if (rename_ && action != FILE_ACTION_RENAMED_NEW_NAME) ExpireRename(now, true);
  switch (action) {
    case FILE_ACTION_ADDED: {
      const bool dir = IsFolderNow(path) || KnownFolder(path);
      Consume(Raw(RawChange::Create, dir, path), now);
      if (dir) {
        folders_.insert(path);
        LearnTree(path);
      }
      break;
    }
    case FILE_ACTION_REMOVED: {
      const bool dir = KnownFolder(path);
      if (dir) ForgetTree(path);
      Consume(Raw(RawChange::Delete, dir, path), now);
      break;
    }
    case FILE_ACTION_MODIFIED:
      // Windows tells a write and an attribute change alike: both are
      // updates here. A folder is modified whenever an entry in it changes,
      // which is reported for the entry itself.
      if (!KnownFolder(path)) Consume(Raw(RawChange::Modify, false, path), now);
      break;
    case FILE_ACTION_RENAMED_OLD_NAME: {
      const bool dir = KnownFolder(path);
      rename_ = PendingRename{std::move(path), dir, now};
      break;
    }
    case FILE_ACTION_RENAMED_NEW_NAME: {
      if (!rename_) {
        // Moved in from a folder no read covers: there whole, nothing to wait for.
        const bool dir = IsFolderNow(path);
        Consume(Raw(RawChange::Appear, dir, path), now);
        if (dir) {
          folders_.insert(path);
          LearnTree(path);
          // Wine watches inside a folder moved in only once it is listed,
          // and under load only a while after: listed again until then.
          for (std::int64_t later : {300, 1500, 5000}) relist_.emplace_back(path, now + later);
        }
        break;
      }
      PendingRename from = std::move(*rename_);
      rename_.reset();
      const bool dir = from.isDir || IsFolderNow(path);
      if (dir) {
        if (from.isDir) {
          MoveTree(from.path, path);
        } else {
          folders_.insert(path);
          LearnTree(path);
        }
      }
      Consume(Raw(RawChange::Rename, dir, from.path, path), now);
      break;
    }
    default:
      break;
  }
}

void DirectoryChangesSource::ExpireRename(std::int64_t now, bool all) {
  if (!rename_ || (!all && rename_->at + kRenamePairingMs > now)) return;
  // Renamed to where no read covers: gone, for what is watched.
  PendingRename gone = std::move(*rename_);
  rename_.reset();
  if (gone.isDir) ForgetTree(gone.path);
  Consume(Raw(RawChange::Delete, gone.isDir, gone.path), now);
}

void DirectoryChangesSource::Overflowed(Watch& watch, std::int64_t now) {
  ReportProblem({SourceReport::QueueOverflow, 1, "已重新扫描 " + watch.root});
  ExpireRename(now, true);
  tracker_.SettleAll();
  const std::string root = watch.root;
  auto [from, to] = Below(root);
  const std::vector<std::string> before(from, to);
  ForgetTree(root);
  folders_.insert(root);
  LearnTree(root);
  // Folders removed while the changes were lost are no less removed: the
  // walk no longer finding them tells it, the deepest first.
  for (auto it = before.rbegin(); it != before.rend(); ++it)
    if (!folders_.count(*it)) Consume(Raw(RawChange::Delete, true, *it), now);
}

void DirectoryChangesSource::RootLost(Watch& watch, unsigned long error, std::int64_t now) {
  const std::string root = watch.root;
  ExpireRename(now, true);
  ForgetTree(root);
  auto it = std::find_if(watches_.begin(), watches_.end(), [&](const auto& w) { return w.get() == &watch; });
  Retire(watch);
  watches_.erase(it);
  // The drive poll tells of a drive that left.
  if (root.size() == 3 && root[1] == ':') return;
  if (!IsFolderNow(root)) {
    Consume(Raw(RawChange::Delete, true, root), now);
  } else {
    ReportProblem({SourceReport::SourceEnded, 1, root + ": " + ErrorText(error)});
  }
}

void DirectoryChangesSource::CheckRoots(std::int64_t now) {
  // A read on a folder that is removed need not end (under Wine it never
  // does), so the roots are looked at as the drives are.
  std::vector<Watch*> gone;
  for (auto& w : watches_) {
    // Removed while the read holds it open, it is only marked for deletion
    // and keeps its name until the read lets go.
    FILE_STANDARD_INFO info{};
    const bool pending = ::GetFileInformationByHandleEx(w->dir, FileStandardInfo, &info, sizeof info) && info.DeletePending;
    if (pending || !IsFolderNow(w->root)) gone.push_back(w.get());
  }
  for (Watch* w : gone) RootLost(*w, ERROR_FILE_NOT_FOUND, now);
}

void DirectoryChangesSource::LearnTree(const std::string& top) {
  std::vector<std::string> pending{top};
  std::size_t listed = 0;
  while (!pending.empty()) {
    std::string dir = std::move(pending.back());
    pending.pop_back();
    if (++listed % 256 == 0) {
      // Reads that complete meanwhile are armed again at once, so a long
      // walk does not leave the system's buffers to overflow.
      ::SleepEx(0, TRUE);
      // A whole disk takes minutes to walk; stopping does not wait for it.
      if (::WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0) return;
    }
    // Listed through a handle that shares removal: a user removing a folder
    // while it is walked must not be refused.
    platform::Handle folder = platform::OpenFolderToList(dir);
    if (!folder.Valid()) continue;
    platform::ListFolder(folder.Get(), [&](const platform::FolderEntry& entry) {
      if (!(entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
      std::string path = JoinPath(dir, platform::Utf8FromWide(entry.name));
      folders_.insert(path);
      // A junction or link is a folder of its own here, but what it points
      // to is watched where it lies, if at all: never walked through.
      if (!(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) pending.push_back(std::move(path));
    });
  }
}

std::pair<std::set<std::string>::iterator, std::set<std::string>::iterator> DirectoryChangesSource::Below(
    const std::string& dir) {
  std::string prefix = dir;
  if (prefix.empty() || prefix.back() != '\\') prefix += '\\';
  // "\" sorts just before "]": everything below dir lies in between.
  std::string end = prefix;
  end.back() = ']';
  return {folders_.lower_bound(prefix), folders_.lower_bound(end)};
}

void DirectoryChangesSource::ForgetTree(const std::string& dir) {
  folders_.erase(dir);
  auto [from, to] = Below(dir);
  folders_.erase(from, to);
}

void DirectoryChangesSource::MoveTree(const std::string& from, const std::string& to) {
  std::vector<std::string> moved;
  auto [first, last] = Below(from);
  for (auto it = first; it != last; ++it) moved.push_back(to + it->substr(from.size()));
  ForgetTree(from);
  folders_.insert(to);
  folders_.insert(moved.begin(), moved.end());
}

bool NamesAnUnnamedFile(std::string_view) { return false; }

std::vector<std::string> WholeDiskRoots() { return DirectoryChangesSource::LocalDrives(); }

// Drives and shares are asked; a share that does not answer fails the read
// after the system's own time-out.
std::function<bool(const std::string&)> FolderAnswerable() {
  return [](const std::string&) { return true; };
}

std::unique_ptr<ChangeSource> StartChangeSource(WatchBackend, std::vector<std::string> roots, std::string& error) {
  // A smaller read than ours, for tests of the whole program that need the
  // system's buffer to overflow; never more than ours.
  std::size_t bytes = DirectoryChangesSource::kBufferBytes;
  wchar_t asked[32];
  if (DWORD n = ::GetEnvironmentVariableW(L"VANTREL_TEST_READ_BYTES", asked, 32); n > 0 && n < 32) {
    const unsigned long value = std::wcstoul(asked, nullptr, 10);
    if (value >= 64 && value < bytes) bytes = value & ~3ul;
  }
  auto source = std::make_unique<DirectoryChangesSource>(bytes);
  source->SetRoots(std::move(roots));
  std::string why;
  if (source->Start(why)) return source;
  error = std::string("ReadDirectoryChangesW: ") + why;
  return nullptr;
}

}  // namespace vantrel
