#pragma once
// Whole file systems through fanotify: every local file system is marked,
// so every change anywhere is seen, like a registration on the root of the
// namespace. Needs CAP_SYS_ADMIN (and CAP_DAC_READ_SEARCH to open handles).
#include "monitor/ChangeSource.h"

#include <optional>
#include <string_view>
#include <unordered_map>

struct file_handle;
struct fanotify_event_metadata;

namespace vantrel {

class FanotifySource final : public KernelSource {
 public:
  ~FanotifySource() override { Stop(); }
  const char* Name() const override { return "fanotify"; }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  struct FileSystem {
    std::string mountPoint;
  };

  bool Open(std::string& error) override;
  int KernelFd() const override { return fd_; }
  void ReadKernel(std::int64_t now) override;
  void OnMountsChanged(const std::vector<std::string>& added, const std::vector<std::string>& removed) override;
  void Close() override;

  // Marks the local file systems of mounts_ not marked yet; the number marked.
  std::size_t MarkFileSystems(std::string* firstError);
  void HandleEvent(const fanotify_event_metadata& meta, const char* event, std::int64_t now);
  // The directory a handle names, from the cache or by opening the handle.
  const std::string* ResolveDirectory(std::string_view key, std::string_view fsid, const file_handle* handle);
  void RenameCachedTree(const std::string& from, const std::string& to);
  // An event in a folder whose handle no longer opens (removed before the
  // event was read) waits for that folder's own removal event, which tells
  // its path; what never learns one is reported.
  void Defer(const std::string& dirKey, const fanotify_event_metadata& meta, const char* event, std::int64_t now);
  void ReplayDeferred(const std::string& dirKey, const std::string& dirPath);
  std::optional<std::int64_t> NextDeadline() override;
  void OnTick(std::int64_t now) override;

  int fd_ = -1;
  std::unordered_map<std::string, FileSystem> fileSystems_;
  // Directory handle (fsid, type, handle bytes) to its current path, kept
  // current from the events: a handle of a deleted directory no longer opens.
  std::unordered_map<std::string, std::string, Hash, std::equal_to<>> dirs_;
  struct Deferred {
    std::string event;
    std::int64_t since;
  };
  std::unordered_map<std::string, std::vector<Deferred>, Hash, std::equal_to<>> deferred_;
  std::int64_t oldestDeferred_ = 0;
  std::string full_, other_, key_, childKey_;
};

}  // namespace vantrel
