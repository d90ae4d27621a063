// Every action once, over the per-system operations of rules/Files.h.
#include "rules/FileActions.h"

#include "rules/ActionNames.h"
#include "rules/Files.h"
#include "rules/Trash.h"
#include "text/PathRoutines.h"
#include "text/TextRules.h"

#include <cerrno>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace vantrel {

using files::Entry;
using files::Error;
using files::Folder;
using files::Kind;
using files::Own;

namespace {

// The flag of whoever runs actions on this thread; none: copies never stop.
thread_local const std::atomic<bool>* copyStop = nullptr;

ActionResult Failed(std::string target, const Error& error) {
  return {std::move(target), false, error.Text(), error.code};
}
ActionResult Done(std::string target) { return {std::move(target), true, {}}; }

void Tell(const ActionChanges& changes, ActionChange::Kind kind, std::string path, std::string to = {},
          std::optional<platform::FileStamp> made = {}) {
  if (changes) changes({kind, std::move(path), std::move(to), made});
}

// last: the error of the last attempt, with its native number.
ActionResult Result(const std::string& folder, const PlacedName& placed, const Error& last) {
  std::string target = JoinPath(folder, placed.name);
  return placed.error ? Failed(std::move(target), last) : Done(std::move(target));
}

// Numbered as everywhere, counting in the open target folder; place answers
// an Error, kept as the last one for the result.
template <typename Place>
PlacedName PlaceNumberedIn(const Folder& dir, const std::string& folder, const ActionNames& names,
                           const std::string& monitoredPath, Error& last, Place place) {
  return PlaceNumbered(
      names, monitoredPath, [&](const char* name) { return (last = place(std::string(name))).code; },
      [&](const std::string& pattern) { return files::CountMatching(dir, folder, pattern); });
}

// The folder holding path, and the last component's name.
Error OpenParent(const std::string& path, Folder& parent, std::string& name) {
  const std::string clean = CleanPath(path);
  const std::size_t root = RootLength(clean);
  const std::size_t separator = LastSeparator(clean);
  if (separator == std::string::npos || clean.size() <= root) return Own(EINVAL);
  name = clean.substr(separator + 1);
  if (name.empty() || name == "." || name == "..") return Own(EINVAL);
  return files::OpenFolder(clean.substr(0, separator < root ? root : separator), parent, false);
}

// The folders from the top of a walk down to the one it is in. However deep
// the walk goes, only the first kHeldFolders and the current one stay open;
// the way back up from below them must lead to the very folder the walk
// came down from.
class FolderChain {
 public:
  // From an open folder, which stays the caller's.
  explicit FolderChain(const Folder& top) {
    levels_.push_back({{}, &top});
    seen_.insert(Key(top.info));
  }
  const Folder& Current() const { return levels_.back().top ? *levels_.back().top : levels_.back().own; }
  // The way back up was lost: this level can only be dropped.
  bool Lost() const { return !levels_.back().top && !levels_.back().own.handle.Valid(); }

  // Opens the folder name below the current one without going down yet; a
  // folder already on the way down (here or in other) is met again through
  // a mount, and is not entered.
  Error Open(const std::string& name, Folder& out, const FolderChain* other = nullptr) const {
    if (Error e = files::OpenBelow(Current(), name, out)) return e;
    if (Holds(out.info) || (other && other->Holds(out.info))) return Own(kFolderLoop);
    return {};
  }
  void Enter(Folder folder) {
    if (levels_.size() > files::kHeldFolders) levels_.back().own.handle.Reset();
    seen_.insert(Key(folder.info));
    levels_.push_back({std::move(folder), nullptr});
  }
  // Back to the parent; on any failure the parent is Lost.
  Error Leave() {
    Folder child = std::move(levels_.back().own);
    Drop();
    Level& up = levels_.back();
    if (up.top || up.own.handle.Valid()) return {};
    Folder above;
    if (Error e = files::OpenAbove(child, up.own.info, above)) return e;
    up.own.handle = std::move(above.handle);
    return {};
  }
  void Drop() {
    seen_.erase(Key(Current().info));
    levels_.pop_back();
  }

 private:
  struct Level {
    Folder own;
    const Folder* top = nullptr;
  };
  static std::pair<std::uint64_t, std::uint64_t> Key(const Entry& e) { return {e.stamp.volume, e.stamp.id}; }
  bool Holds(const Entry& e) const { return seen_.count(Key(e)) != 0; }
  std::vector<Level> levels_;
  std::set<std::pair<std::uint64_t, std::uint64_t>> seen_;
};

// Entries a folder move copied, so that exactly those leave the source: one
// list, the top folder first, each folder naming its entries by index.
struct CopiedEntry {
  std::string name;
  Entry info;
  std::vector<std::size_t> children;
};
using CopiedTree = std::vector<CopiedEntry>;

// What a folder copy did: how many entries failed, and the first of them.
struct TreeCopy {
  bool durable = false;
  std::size_t failures = 0;
  Error firstError;
  std::string firstPath;
  void Fail(const std::string& relative, const Error& error) {
    if (!failures++) {
      firstError = error;
      firstPath = relative;
    }
  }
};

ActionResult TreeResult(std::string target, const TreeCopy& copy) {
  if (!copy.failures) return Done(std::move(target));
  std::string text =
      std::to_string(copy.failures) + " 项未复制, 首项 " + copy.firstPath + ": " + copy.firstError.Text();
  return {std::move(target), false, std::move(text), copy.firstError.code};
}

// Copies one entry that is not a folder: a link as a link where the system
// copies links, a regular file whole, replacing a file or link standing at
// its name, never a folder.
Error CopyEntry(const Folder& src, const Folder& dst, const std::string& name, bool durable, Entry& copied,
                const files::Teller& tell) {
  files::Source in;
  // A folder's files are not waited for one by one: each is copied as it
  // stands, unless a writer is known, and only if unchanged by the end.
  if (Error e = in.OpenAt(src, name)) return e;
  copied = in.Info();
  Entry there;
  const bool exists = !files::Look(dst, name, there);
  if (exists && there.kind == Kind::Folder) return Own(EISDIR);
  if (copied.kind == Kind::Link) return files::PlaceLink(in, dst, name, exists, tell);
  if (exists && there.kind == Kind::Link) return Own(kLinkInTarget);
  files::NewFile file(dst, tell);
  if (Error e = file.Fill(in, durable)) return e;
  Error e = exists ? Own(EEXIST) : file.Place(name, false);
  // Something came to stand at the name meanwhile: replaced like a file
  // that was there, a link included, which is removed, never written through.
  return e.code == EEXIST ? file.Place(name, true) : e;
}

// Copies everything in the open folder src into the open folder dst, which
// is top in the folder base; made tells whether dst was made for it. With
// record, what was copied is noted for a move, top folder first.
void CopyTree(const Folder& src, const Folder& dst, const std::string& base, const std::string& top, bool made,
              TreeCopy& copy, CopiedTree* record, const ActionChanges& changes) {
  struct Frame {
    std::vector<std::string> names;
    std::size_t next = 0;
    std::size_t pathSize = 0;
    bool made = false;
    std::size_t record = 0;
  };
  FolderChain from(src), to(dst);
  std::string path = top;
  std::vector<Frame> frames(1);
  frames[0].pathSize = path.size();
  frames[0].made = made;
  if (record) record->push_back({PathFileName(top), src.info, {}});
  if (Error e = files::ListNames(src, frames[0].names)) copy.Fail(top, e);

  while (!frames.empty()) {
    Frame& f = frames.back();
    path.resize(f.pathSize);
    if (f.next == f.names.size()) {
      files::FinishFolder(to.Current(), from.Current().info, f.made, copy.durable);
      frames.pop_back();
      if (frames.empty()) break;
      Error up = from.Leave();
      if (Error dstUp = to.Leave(); !up) up = dstUp;
      if (!up) continue;
      copy.Fail(path.substr(0, frames.back().pathSize), up);
      while (from.Lost() || to.Lost()) {
        frames.pop_back();
        from.Drop();
        to.Drop();
      }
      continue;
    }
    const std::string name = f.names[f.next++];
    const files::Teller tell(changes, JoinPath(base, path));
    path = JoinPath(path, name);
    CopiedEntry entry{name, {}, {}};
    Error error = files::Look(from.Current(), name, entry.info);
    if (!error && entry.info.kind != Kind::Folder) {
      error = CopyEntry(from.Current(), to.Current(), name, copy.durable, entry.info, tell);
      if (!error && record) {
        record->at(f.record).children.push_back(record->size());
        record->push_back(std::move(entry));
      }
    } else if (!error) {
      Entry existing;
      const bool exists = !files::Look(to.Current(), name, existing);
      Folder srcSub, dstSub;
      bool madeSub = false;
      if (exists && existing.kind != Kind::Folder) {
        error = Own(existing.kind == Kind::Link ? kLinkInTarget : kNotFolderInTarget);
      } else if (!(error = from.Open(name, srcSub, &to))) {
        if (!exists && !(error = files::MakeFolder(to.Current(), name))) {
          madeSub = true;
          tell(ActionChange::FolderAppeared, name);
        } else if (error.code == EEXIST) {
          error = {};
        }
        if (!error) error = to.Open(name, dstSub, &from);
        if (error.code == ELOOP) error = Own(kLinkInTarget);
        if (error.code == ENOTDIR) error = Own(kNotFolderInTarget);
      }
      if (!error) {
        Frame sub;
        sub.pathSize = path.size();
        sub.made = madeSub;
        if (record) {
          sub.record = record->size();
          record->at(f.record).children.push_back(record->size());
          record->push_back({name, srcSub.info, {}});
        }
        if (Error listed = files::ListNames(srcSub, sub.names)) copy.Fail(path, listed);
        from.Enter(std::move(srcSub));
        to.Enter(std::move(dstSub));
        frames.push_back(std::move(sub));
        continue;
      }
    }
    if (error) copy.Fail(path, error);
  }
}

// Removes from the open folder parent exactly the entries that were copied,
// the top folder first in tree and named path, each only while it is still
// the same, unchanged file. Returns how many entries stayed.
std::size_t RemoveCopied(const Folder& parent, const CopiedTree& tree, const std::string& path,
                         const ActionChanges& changes) {
  struct Frame {
    const std::vector<std::size_t>* entries;
    std::size_t next = 0;
    std::size_t kept = 0;
    std::size_t self = 0;
    std::string path;
  };
  const std::vector<std::size_t> top{0};
  if (tree.empty()) return 1;
  FolderChain chain(parent);
  std::vector<Frame> frames{{&top, 0, 0, 0, {}}};
  for (;;) {
    Frame& f = frames.back();
    if (f.next == f.entries->size()) {
      if (frames.size() == 1) return f.kept;
      Frame done = std::move(f);
      frames.pop_back();
      if (chain.Leave()) {
        frames.back().kept += done.kept + 1;
        while (chain.Lost()) {
          std::size_t lost = frames.back().kept + 1;
          frames.pop_back();
          chain.Drop();
          frames.back().kept += lost;
        }
        continue;
      }
      const CopiedEntry& folder = tree[done.self];
      const bool removed = !files::Remove(chain.Current(), folder.name, folder.info);
      if (removed) Tell(changes, ActionChange::FolderVanished, done.path);
      frames.back().kept += done.kept + (!removed && done.kept == 0 ? 1 : 0);
      continue;
    }
    const std::size_t index = (*f.entries)[f.next++];
    const CopiedEntry& e = tree[index];
    std::string entryPath = frames.size() == 1 ? path : JoinPath(f.path, e.name);
    if (e.info.kind != Kind::Folder) {
      const Error removed = files::Remove(chain.Current(), e.name, e.info, true);
      if (!removed) Tell(changes, ActionChange::FileVanished, entryPath);
      // Gone meanwhile is not kept.
      if (removed && removed.code != ENOENT) ++f.kept;
      continue;
    }
    Folder sub;
    const Error opened = chain.Open(e.name, sub);
    if (opened.code == ENOENT) continue;
    if (opened || !files::SameItem(sub.info, e.info)) {
      ++f.kept;
      continue;
    }
    chain.Enter(std::move(sub));
    frames.push_back({&e.children, 0, 0, index, std::move(entryPath)});
  }
}

// Empties the folder name in parent, whose path is path, and removes it;
// links are removed, never followed. All that can go goes; the first
// failure is told.
Error RemoveTree(const Folder& parent, const std::string& name, const std::string& path,
                 const ActionChanges& changes) {
  struct Frame {
    std::vector<std::string> names;
    std::size_t next = 0;
    std::string name;
    std::string path;
  };
  FolderChain chain(parent);
  Error first;
  auto fail = [&first](const Error& e) {
    if (!first) first = e;
  };
  std::vector<Frame> frames;
  // Goes down into the folder sub of the current one.
  auto enter = [&](const std::string& sub, std::string subPath) {
    Folder folder;
    if (Error e = chain.Open(sub, folder)) return fail(e);
    Frame frame{{}, 0, sub, std::move(subPath)};
    if (Error e = files::ListNames(folder, frame.names)) fail(e);
    chain.Enter(std::move(folder));
    frames.push_back(std::move(frame));
  };
  enter(name, path);
  while (!frames.empty()) {
    Frame& f = frames.back();
    if (f.next == f.names.size()) {
      const Frame done = std::move(f);
      const Entry doneInfo = chain.Current().info;
      frames.pop_back();
      if (Error e = chain.Leave()) {
        fail(e);
        while (chain.Lost()) {
          frames.pop_back();
          chain.Drop();
        }
        continue;
      }
      Error e = files::Remove(chain.Current(), done.name, doneInfo);
      if (e.code == ENOENT || e.code == kSourceChanged) e = Own(kFolderMoved);
      if (e) {
        fail(e);
      } else {
        Tell(changes, ActionChange::FolderVanished, done.path);
      }
      continue;
    }
    const std::string entry = f.names[f.next++];
    std::string entryPath = JoinPath(f.path, entry);
    Entry info;
    if (files::Look(chain.Current(), entry, info)) continue;
    if (info.kind == Kind::Folder) {
      enter(entry, std::move(entryPath));
    } else if (Error e = files::Remove(chain.Current(), entry, info)) {
      fail(e);
    } else {
      Tell(changes, info.folderLink ? ActionChange::FolderVanished : ActionChange::FileVanished, entryPath);
    }
  }
  return first;
}

// Removes the placed name in dir while it is still what was looked at.
void TakeBack(const Folder& dir, const files::Teller& tell, const std::string& name) {
  Entry placed;
  if (!files::Look(dir, name, placed) && !files::Remove(dir, name, placed))
    tell(ActionChange::FileVanished, name);
}

// A file given its new name by a link loses its old one, unless something
// else stands there by now, which stays.
ActionResult DropLinkedSource(const files::Item& item, const Folder& dir, const files::Teller& tell,
                              const PlacedName& placed, const ActionChanges& changes) {
  const std::string target = tell.Path(placed.name);
  Entry moved;
  files::Item now;
  if (files::Look(dir, placed.name, moved) || files::OpenItem(item.path, now) || !files::SameItem(now.info, moved))
    return Done(target);
  if (Error e = files::RemoveItem(now)) {
    TakeBack(dir, tell, placed.name);
    return Failed(target, e);
  }
  Tell(changes, ActionChange::FileVanished, item.path);
  return Done(target);
}

// Across file systems: a complete, unchanged copy first, then the source.
ActionResult MoveAcross(files::Item& item, const Folder& dir, const files::Teller& tell, const ActionNames& names,
                        const std::string& monitoredPath, const ActionChanges& changes) {
  const std::string first = tell.Path(names.file);
  if (item.info.kind == Kind::Folder) return Failed(first, Own(EXDEV));
  // The source is opened again to be read, and nothing may hold it meanwhile.
  item.handle.Reset();
  files::Source source;
  if (Error e = source.Open(item.path, true, true)) return Failed(first, e);
  Error last;
  PlacedName placed;
  std::optional<files::NewFile> copy;
  const std::string folder = tell.Path({});
  if (source.Info().kind == Kind::Link) {
    placed = PlaceNumberedIn(dir, folder, names, monitoredPath, last, [&](const std::string& name) {
      return files::PlaceLink(source, dir, name, false, tell);
    });
  } else {
    copy.emplace(dir, tell);
    if (Error e = copy->Fill(source, true)) return Failed(first, e);
    placed = PlaceNumberedIn(dir, folder, names, monitoredPath, last,
                             [&](const std::string& name) { return copy->Place(name, false); });
  }
  if (placed.error) return Result(folder, placed, last);
  bool keepCopy = false;
  if (Error e = source.RemoveAfterCopy(dir, keepCopy)) {
    if (!keepCopy && copy) copy->Unplace();
    if (!keepCopy && !copy) TakeBack(dir, tell, placed.name);
    return Failed(tell.Path(placed.name), e);
  }
  Tell(changes, ActionChange::FileVanished, item.path);
  return Result(folder, placed, last);
}

}  // namespace

CopyStop::CopyStop(const std::atomic<bool>& flag) : previous_(copyStop) { copyStop = &flag; }

CopyStop::~CopyStop() { copyStop = previous_; }

bool CopyStop::Requested() { return copyStop && copyStop->load(std::memory_order_relaxed); }

namespace files {

void Teller::operator()(ActionChange::Kind kind, const std::string& name, std::string to,
                        std::optional<platform::FileStamp> made) const {
  if (changes_) changes_({kind, Path(name), std::move(to), made});
}

std::string Teller::Path(const std::string& name) const { return name.empty() ? folder_ : JoinPath(folder_, name); }

Error OpenTarget(const std::string& path, Folder& out) { return OpenFolder(path, out, true); }

}  // namespace files

std::size_t CountMatchingFiles(const std::string& directory, std::string_view patterns) {
  Folder dir;
  if (files::OpenFolder(directory, dir, false)) return 0;
  std::size_t count = 0;
  for (const std::string& pattern : SplitText(patterns, "|")) count += files::CountMatching(dir, directory, pattern);
  return count;
}

ActionResult CopyFileAction(const std::string& path, const std::string& targetDir, const std::string& monitoredPath,
                            const ActionChanges& changes, bool judgedWhole) {
  const std::string folder = CleanPath(targetDir);
  const files::Teller tell(changes, folder);
  const ActionNames names = SplitActionName(path);
  const std::string first = JoinPath(folder, names.file);
  files::Source source;
  if (Error e = source.Open(path, judgedWhole, false)) return Failed(first, e);
  Folder dir;
  if (Error e = files::OpenTarget(targetDir, dir)) return Failed(first, e);
  Error last;
  if (source.Info().kind == Kind::Link) {
    // As a link: its target's content may be something the rule's folder
    // was never meant to hand out.
    return Result(folder, PlaceNumberedIn(dir, folder, names, monitoredPath, last, [&](const std::string& name) {
                    return files::PlaceLink(source, dir, name, false, tell);
                  }), last);
  }
  files::NewFile copy(dir, tell);
  if (Error e = copy.Fill(source, false)) return Failed(first, e);
  return Result(folder, PlaceNumberedIn(dir, folder, names, monitoredPath, last, [&](const std::string& name) {
                  return copy.Place(name, false);
                }), last);
}

ActionResult MoveFileAction(const std::string& path, const std::string& targetDir, const std::string& monitoredPath,
                            const ActionChanges& changes) {
  const std::string folder = CleanPath(targetDir);
  const files::Teller tell(changes, folder);
  const ActionNames names = SplitActionName(path);
  const std::string first = JoinPath(folder, names.file);
  files::Item item;
  if (Error e = files::OpenItem(path, item)) return Failed(first, e);
  if (item.info.kind == Kind::Other) return Failed(first, Own(kNotRegularFile));
  Folder dir;
  if (Error e = files::OpenTarget(targetDir, dir)) return Failed(first, e);
  // A rename into itself is refused, but the copy that follows a refusal would not end.
  if (item.info.kind == Kind::Folder)
    if (Error e = files::CheckTargetOutside(dir, names.file, item.handle, item.info)) return Failed(first, e);
  bool linked = false;
  Error last;
  const PlacedName placed = PlaceNumberedIn(dir, folder, names, monitoredPath, last, [&](const std::string& name) {
    Error e = files::RenameInto(item, dir, name, linked);
    if (!e && linked) tell(ActionChange::FileAppeared, name);
    // A rename keeps the file's time: as it was opened is as it arrives.
    if (!e && !linked) Tell(changes, ActionChange::Renamed, path, tell.Path(name), item.info.stamp);
    return e;
  });
  if (placed.error == EXDEV) return MoveAcross(item, dir, tell, names, monitoredPath, changes);
  if (placed.error || !linked) return Result(folder, placed, last);
  return DropLinkedSource(item, dir, tell, placed, changes);
}

ActionResult DeleteFileAction(const std::string& path, const ActionChanges& changes) {
  files::Item item;
  if (Error e = files::OpenItem(path, item)) return Failed(path, e);
  if (item.info.kind == Kind::Folder) return Failed(path, Own(EISDIR));
  if (item.info.kind != Kind::Link && item.info.readOnly) return Failed(path, Own(EACCES));
  if (Error e = files::RemoveItem(item)) return Failed(path, e);
  Tell(changes, ActionChange::FileVanished, path);
  return Done(path);
}

ActionResult TrashAction(const std::string& path, bool folder, const ActionChanges& changes) {
  {
    // Looked at as a deletion looks, and let go before the system moves it.
    files::Item item;
    if (Error e = files::OpenItem(path, item)) return Failed(path, e);
    if ((item.info.kind == Kind::Folder) != folder) return Failed(path, Own(folder ? ENOTDIR : EISDIR));
    if (!folder && item.info.kind != Kind::Link && item.info.readOnly) return Failed(path, Own(EACCES));
  }
  std::string trashed;
  if (Error e = MoveToTrash(path, trashed)) return Failed(path, e);
  if (trashed.empty()) {
    Tell(changes, folder ? ActionChange::FolderVanished : ActionChange::FileVanished, path);
  } else {
    Tell(changes, ActionChange::Renamed, path, trashed);
  }
  return Done(path);
}

ActionResult CopyDirectoryAction(const std::string& path, const std::string& targetDir, const ActionChanges& changes) {
  const std::string folder = CleanPath(targetDir);
  const std::string name = DirectoryCopyName(path);
  const std::string target = JoinPath(folder, name);
  if (name.empty()) return Failed(target, Own(EINVAL));
  Folder parent, src, dst, to;
  std::string sourceName;
  if (Error e = OpenParent(path, parent, sourceName)) return Failed(target, e);
  if (Error e = files::OpenBelow(parent, sourceName, src)) return Failed(target, e);
  if (Error e = files::OpenTarget(targetDir, dst)) return Failed(target, e);
  // A target inside the source would copy itself forever.
  if (Error e = files::CheckTargetOutside(dst, name, src.handle, src.info)) return Failed(target, e);
  Error made = files::MakeFolder(dst, name);
  if (made && made.code != EEXIST) return Failed(target, made);
  if (!made) Tell(changes, ActionChange::FolderAppeared, target);
  if (Error e = files::OpenBelow(dst, name, to))
    return Failed(target, e.code == ELOOP ? Own(kLinkInTarget) : e.code == ENOTDIR ? Own(kNotFolderInTarget) : e);
  TreeCopy copy;
  CopyTree(src, to, folder, name, !made, copy, nullptr, changes);
  return TreeResult(target, copy);
}

ActionResult MoveDirectoryAction(const std::string& path, const std::string& targetDir, const ActionChanges& changes) {
  const std::string folder = CleanPath(targetDir);
  const std::string name = PathFileName(path, true);
  const std::string target = JoinPath(folder, name);
  Folder dst;
  if (Error e = files::OpenTarget(targetDir, dst)) return Failed(target, e);
  files::Item item;
  if (Error e = files::OpenItem(path, item)) return Failed(target, e);
  // A rename into itself is refused, but the copy that follows a refusal would not end.
  if (item.info.kind == Kind::Folder)
    if (Error e = files::CheckTargetOutside(dst, name, item.handle, item.info)) return Failed(target, e);
  bool linked = false;
  const Error e = files::RenameInto(item, dst, name, linked);
  if (!e && linked) {
    const files::Teller tell(changes, folder);
    tell(ActionChange::FileAppeared, name);
    return DropLinkedSource(item, dst, tell, {name, 0}, changes);
  }
  if (!e) {
    Tell(changes, ActionChange::Renamed, path, target, item.info.stamp);
    return Done(target);
  }
  if (e.code != EXDEV || item.info.kind != Kind::Folder) return Failed(target, e);
  item.handle.Reset();

  Folder parent, src, to;
  std::string sourceName;
  if (Error opened = OpenParent(path, parent, sourceName)) return Failed(target, opened);
  if (Error opened = files::OpenBelow(parent, sourceName, src)) return Failed(target, opened);
  if (!files::SameItem(src.info, item.info)) return Failed(target, Own(kSourceChanged));
  // The folder is made here, so everything below it is ours to take back.
  if (Error made = files::MakeFolder(dst, name)) return Failed(target, made);
  Tell(changes, ActionChange::FolderAppeared, target);
  if (Error opened = files::OpenBelow(dst, name, to)) return Failed(target, opened);
  TreeCopy copy;
  copy.durable = true;
  CopiedTree copied;
  CopyTree(src, to, folder, name, true, copy, &copied, changes);
  files::FinishFolder(dst, {}, false, true);
  to.handle.Reset();
  src.handle.Reset();
  if (copy.failures) {
    // A partial copy would block every later attempt: it goes, the source stays.
    RemoveTree(dst, name, target, changes);
    return TreeResult(target, copy);
  }
  copied[0].name = sourceName;
  const std::size_t kept = RemoveCopied(parent, copied, path, changes);
  if (kept) return {target, false, "源文件夹中 " + std::to_string(kept) + " 项在移动时新出现或被改动, 已留在原处"};
  return Done(target);
}

ActionResult DeleteDirectoryTree(const std::string& path, const ActionChanges& changes) {
  Folder parent;
  std::string name;
  if (Error e = OpenParent(path, parent, name)) return Failed(path, e);
  Entry top;
  if (Error e = files::Look(parent, name, top)) return Failed(path, e);
  // Never followed, as a link met below.
  if (top.kind == Kind::Link) return Failed(path, Own(ELOOP));
  if (top.kind != Kind::Folder) return Failed(path, Own(ENOTDIR));
  const Error e = RemoveTree(parent, name, path, changes);
  return e ? Failed(path, e) : Done(path);
}

namespace {

bool AsLeft(const Entry& now, bool folder, const platform::FileStamp& asLeft) {
  return folder ? now.kind == Kind::Folder && now.stamp.SameFile(asLeft)
                : now.kind == Kind::File && now.stamp.SameContent(asLeft);
}

}  // namespace

Error RemoveAsLeft(const std::string& path, bool folder, const platform::FileStamp& asLeft,
                   const ActionChanges& changes) {
  Folder parent;
  std::string name;
  if (Error e = OpenParent(path, parent, name)) return e;
  Entry now;
  if (Error e = files::Look(parent, name, now)) return e;
  if (!AsLeft(now, folder, asLeft)) return Own(kChangedSince);
  if (Error e = files::Remove(parent, name, now, !folder)) return e;
  Tell(changes, folder ? ActionChange::FolderVanished : ActionChange::FileVanished, path);
  return {};
}

Error PutBack(const std::string& path, bool folder, const platform::FileStamp& asLeft, const std::string& to,
              const ActionChanges& changes) {
  files::Item item;
  if (Error e = files::OpenItem(path, item)) return e;
  if (!AsLeft(item.info, folder, asLeft)) return Own(kChangedSince);
  const std::string back(FolderPart(to));
  Folder dir;
  if (Error e = files::OpenTarget(back, dir)) return e;
  const std::string name = PathFileName(to, true);
  const files::Teller tell(changes, back);
  bool linked = false;
  const Error e = files::RenameInto(item, dir, name, linked);
  if (!e && !linked) {
    Tell(changes, ActionChange::Renamed, path, to, asLeft);
    return {};
  }
  if (!e) {
    tell(ActionChange::FileAppeared, name, {}, asLeft);
    if (!files::RemoveItem(item)) Tell(changes, ActionChange::FileVanished, path);
    return {};
  }
  if (e.code != EXDEV || folder) return e;
  item.handle.Reset();
  files::Source source;
  if (Error opened = source.Open(path, true, true)) return opened;
  if (!AsLeft(source.Info(), false, asLeft)) return Own(kChangedSince);
  files::NewFile copy(dir, tell);
  if (Error filled = copy.Fill(source, true)) return filled;
  if (Error placed = copy.Place(name, false)) return placed;
  bool keepCopy = false;
  if (Error removed = source.RemoveAfterCopy(dir, keepCopy)) {
    if (!keepCopy) copy.Unplace();
    return removed;
  }
  Tell(changes, ActionChange::FileVanished, path);
  return {};
}

Error MakeFolderAt(const std::string& path, const ActionChanges& changes) {
  Folder parent;
  std::string name;
  if (Error e = OpenParent(path, parent, name)) return e;
  Error made = files::MakeFolder(parent, name);
  if (!made) {
    Tell(changes, ActionChange::FolderAppeared, path);
    return {};
  }
  Entry there;
  if (made.code == EEXIST && !files::Look(parent, name, there) && there.kind == Kind::Folder) return {};
  return made;
}

}  // namespace vantrel
