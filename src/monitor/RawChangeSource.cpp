#include "monitor/ChangeSource.h"

#include "platform/OwnTemporary.h"
#include "text/PathRoutines.h"

#include <chrono>
#include <climits>

namespace vantrel {
namespace {

// Nothing could act on what a path past the limit names.
bool TooLongToName(std::string_view path) { return SystemPathUnits(path) >= kSystemPathLimit; }

}  // namespace

std::int64_t RawChangeSource::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string_view RawChangeSource::NameableAncestor(std::string_view path) {
  // Counted in bytes: on Windows that is never more than the units, so the
  // folder found can always be named.
  std::size_t slash = path.find_last_of(kPathSeparators, kSystemPathLimit - 1);
  if (slash == std::string_view::npos) return {};
  // The root keeps its separator: "/" and "C:\" name folders, "" and "C:" do not.
  if (const std::size_t root = RootLength(path); slash < root) return path.substr(0, root);
  return path.substr(0, slash);
}

void RawChangeSource::Emit(std::uint32_t code, std::string item1, std::optional<std::string> item2,
                           std::int32_t pid) {
  ChangeNotification n;
  n.code = code;
  n.item1 = std::move(item1);
  n.item2 = std::move(item2);
  n.pid = pid;
  batch_.push_back(std::move(n));
}

void RawChangeSource::FlushBatch() {
  if (tooLong_) {
    ReportProblem({SourceReport::PathTooLong, tooLong_, tooLongAncestor_});
    tooLong_ = 0;
    tooLongAncestor_.clear();
  }
  out_->Push(batch_);
}

void RawChangeSource::CountTooLong(std::size_t count, std::string_view ancestor) {
  tooLong_ += count;
  if (!ancestor.empty() || tooLongAncestor_.empty()) tooLongAncestor_.assign(ancestor);
}

void RawChangeSource::Consume(const RawChange& c, std::int64_t now) {
  if (c.kind == RawChange::DriveAdded || c.kind == RawChange::DriveRemoved) {
    Emit(c.kind == RawChange::DriveAdded ? SHCNE_DRIVEADD : SHCNE_DRIVEREMOVED, std::string(c.path));
    return;
  }
  auto leftOut = [&](std::string_view path) {
    if (TooLongToName(path)) {
      CountTooLong(1, NameableAncestor(path));
      return true;
    }
    // The program's own temporaries are its own business.
    return NamesOwnTemporary(path);
  };
  RawChange::Kind kind = c.kind;
  std::string_view path = c.path;
  if (kind == RawChange::Rename) {
    const bool oldOut = leftOut(c.path), newOut = leftOut(c.newPath);
    if (oldOut && newOut) return;
    if (oldOut) {
      // What is still being written inside a folder follows it to its name.
      if (c.isDir && !TooLongToName(c.path)) tracker_.MoveTree(c.path, c.newPath);
      kind = RawChange::Appear;
      path = c.newPath;
    } else if (newOut) {
      kind = RawChange::Delete;
    }
  } else if (leftOut(path)) {
    return;
  }
  const std::int32_t pid = c.pid;
  const bool dir = c.isDir;
  switch (kind) {
    case RawChange::Create:
      if (dir) {
        Emit(SHCNE_MKDIR, std::string(path), std::nullopt, pid);
      } else {
        tracker_.Created(path, now, pid);
      }
      break;
    case RawChange::Modify:
      if (!dir && !NamesAnUnnamedFile(path)) tracker_.Written(path, now, pid);
      break;
    case RawChange::CloseWrite:
      if (!dir && !NamesAnUnnamedFile(path)) tracker_.Closed(path, pid);
      break;
    case RawChange::Attrib:
      if (dir) {
        Emit(SHCNE_ATTRIBUTES, std::string(path), std::nullopt, pid);
      } else if (!NamesAnUnnamedFile(path)) {
        tracker_.AttributesChanged(path, pid);
      }
      break;
    case RawChange::Delete:
      tracker_.Settle(path, dir);
      Emit(dir ? SHCNE_RMDIR : SHCNE_DELETE, std::string(path), std::nullopt, pid);
      break;
    case RawChange::Appear:
      if (dir) {
        Emit(SHCNE_MKDIR, std::string(path), std::nullopt, pid);
      } else {
        tracker_.Settle(path);
        Emit(SHCNE_CREATE, std::string(path), std::nullopt, pid);
      }
      break;
    case RawChange::Rename:
      if (dir) {
        tracker_.MoveTree(path, c.newPath);
        Emit(SHCNE_RENAMEFOLDER, std::string(path), std::string(c.newPath), pid);
      } else {
        tracker_.Settle(path);
        tracker_.Settle(c.newPath);
        Emit(SHCNE_RENAMEITEM, std::string(path), std::string(c.newPath), pid);
      }
      break;
    default:
      break;
  }
}

}  // namespace vantrel
