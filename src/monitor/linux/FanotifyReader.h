#pragma once
// Reads fanotify for whole local file systems and turns its events into raw
// changes with paths: it marks every local file system (and those mounted
// later), names directory handles through a cache kept current from the
// events, and holds back events in folders removed before they were read
// until the folders' own removal tells their paths. Used by the in-process
// source and by the watch helper alike; it needs CAP_SYS_ADMIN to mark and
// CAP_DAC_READ_SEARCH to open handles.
//
// The kernel's queue is left at its bounded default: a thread of its own
// does nothing but copy the kernel's events into a buffer of bounded size,
// so that the queue is empty while the naming falls behind, and a reader
// that stops (a stopped process, a full pipe) costs a told overflow rather
// than kernel memory without end.
#include "monitor/linux/MountTable.h"
#include "monitor/RawChange.h"
#include "monitor/SourceReport.h"
#include "monitor/linux/VisibleChanges.h"
#include "platform/Waker.h"

#include <condition_variable>
#include <memory>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

struct file_handle;
struct fanotify_event_metadata;

namespace vantrel {

class FanotifyReader {
 public:
  class Sink {
   public:
    virtual ~Sink() = default;
    virtual void Change(const RawChange& change, std::int64_t now) = 0;
    // Overflows and changes that never learnt a path.
    virtual void Report(const SourceReport& report) = 0;
    // A change in a folder whose handle opens but whose path is longer than
    // the kernel names; ancestor is the deepest folder above it that has a
    // name (empty when none has).
    virtual void TooLong(std::string_view folder, const std::string& ancestor) = 0;
  };

  explicit FanotifyReader(Sink& sink) : sink_(sink) {}
  ~FanotifyReader() { Close(); }
  FanotifyReader(const FanotifyReader&) = delete;
  FanotifyReader& operator=(const FanotifyReader&) = delete;

  // False, with the reason, unless at least one file system is marked and
  // handles can be opened.
  bool Open(std::vector<MountEntry> mounts, std::string& error);
  void Close();
  // Readable while events wait to be read.
  int Fd() const { return ready_.Handle(); }
  // CPU time the thread copying the kernel's events has spent, up to Close.
  double DrainCpuSeconds() const;

  // Names what the kernel has queued up to now, at most one buffer's worth.
  void Read(std::int64_t now);
  // The most the buffer holds before the kernel's own queue takes over.
  static constexpr std::size_t kBufferBytes = 32u << 20;
  // Marks file systems mounted since, forgets those gone.
  void MountsChanged(std::vector<MountEntry> mounts, const std::vector<std::string>& added,
                     const std::vector<std::string>& removed);
  std::optional<std::int64_t> NextDeadline() const;
  void Tick(std::int64_t now);

  // The folder a key of a raw change names, opened with O_PATH; -1 once it
  // is gone.
  int OpenFolder(std::string_view key) const;

  // Before naming what was read, notes the folders whose rights or place
  // change in it, for RightsChangedLater. Only a reader that judges what
  // others may see needs it.
  void LookAheadForRights(bool on) { lookAhead_ = on; }
  // While a change is being told: the rights changes read with it, after it,
  // to its folder or to one above it.
  // What the kernel queued up to now counts too: a rights change that took
  // effect before the caller judged the folder is found among it.
  void RightsChangedLater(std::string_view folder, std::vector<const LaterRightsChange*>& out);

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  template <typename Value>
  using Map = std::unordered_map<std::string, Value, Hash, std::equal_to<>>;
  struct FidRecord;
  struct Deferred {
    std::string event;
    std::int64_t since;
  };
  enum class Lookup { Found, Gone, TooLong };

  std::size_t MarkFileSystems(std::string* firstError);
  void Drain();
  // Copies what the kernel has queued into buffer_, while it has room.
  void CopyQueuedLocked();
  void HandleEvent(const fanotify_event_metadata& meta, const char* event, std::int64_t now);
  static void ParseRecords(const fanotify_event_metadata& meta, const char* event, FidRecord& dir, FidRecord& oldDir,
                           FidRecord& newDir, FidRecord& child);
  // The path of the item a record names (its folder's path and its name).
  bool PathOfItem(const FidRecord& rec, std::string& key, std::string& out);
  void NoteRightsChanges();
  // Notes the rights changes among the events from `from` bytes on, the
  // first of them numbered `at`; returns the number after the last.
  std::size_t NoteRightsChanges(const std::string& events, std::size_t& from, std::size_t at);
  // The path of a directory handle, from the cache or by opening the handle.
  Lookup ResolveDirectory(std::string_view key, const std::string** path);
  int OpenHandle(std::string_view key) const;
  void RenameCachedTree(const std::string& from, const std::string& to);
  const std::string& CacheDirectory(std::string_view key, std::string path);
  void Defer(const std::string& dirKey, const fanotify_event_metadata& meta, const char* event, std::int64_t now);
  // A folder was removed: what waited for its path is told, then the
  // removal itself.
  void Removed(std::string key, std::string path, std::string folder, std::int32_t pid, std::int64_t now);
  void Send(RawChange::Kind kind, bool isDir, std::int32_t pid, std::string_view path, std::string_view folder,
            std::int64_t now, std::string_view newPath = {}, std::string_view newFolder = {});

  Sink& sink_;
  int fd_ = -1;
  platform::Waker ready_, stop_;
  std::thread drain_;
  std::mutex bufferMutex_;
  std::condition_variable roomMade_;
  std::string buffer_, reading_;
  bool stopping_ = false;
  double drainCpuAtClose_ = 0.0;
  bool lookAhead_ = false;
  std::vector<LaterRightsChange> later_;
  Map<std::vector<std::size_t>> laterByPath_;
  std::size_t at_ = 0;
  // How far into the buffer the rights changes were noted, and the number
  // of the next event there.
  std::size_t bufferNoted_ = 0, bufferAt_ = 0;
  std::vector<MountEntry> mounts_;
  // File system id to the mount point its handles are opened through.
  std::unordered_map<std::string, std::string> fileSystems_;
  // Directory handle (fsid, type, handle bytes) to its current path, kept
  // current from the events: a handle of a deleted directory no longer opens.
  Map<std::string> dirs_;
  // Directories too deep to be named, with their deepest named ancestor
  // (shared: a chain of them below one ancestor costs one copy of it).
  Map<std::shared_ptr<const std::string>> tooLong_;
  Map<std::vector<Deferred>> deferred_;
  // Removed folders whose waiting events are being told, innermost last.
  struct Replay {
    std::vector<Deferred> events;
    std::size_t next = 0;
    std::string key, path, folder;
    std::int32_t pid = 0;
    std::int64_t now = 0;
  };
  std::vector<Replay> replays_;
  std::size_t deferredCount_ = 0, deferredDropped_ = 0;
  // What the directory cache holds, roughly: it starts afresh past a bound
  // in bytes as well as in entries, whatever paths anybody makes.
  std::size_t dirsBytes_ = 0;
  std::int64_t oldestDeferred_ = 0;
  std::string full_, other_, key_, otherKey_, childKey_;
};

}  // namespace vantrel
