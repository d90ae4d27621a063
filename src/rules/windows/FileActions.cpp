#include "rules/FileActions.h"

#include "platform/OwnTemporary.h"
#include "platform/windows/Handle.h"
#include "platform/windows/Wide.h"
#include "rules/ActionNames.h"
#include "rules/WholeFile.h"
#include "text/PathRoutines.h"
#include "text/TextRules.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <vector>

// Not in the system headers of the toolchain outside the driver kit.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apc, PVOID apcContext,
                                               PIO_STATUS_BLOCK io, PVOID information, ULONG length,
                                               FILE_INFORMATION_CLASS kind, BOOLEAN single, PUNICODE_STRING name,
                                               BOOLEAN restart);

namespace vantrel {
namespace {

using platform::Error;
using platform::Handle;

using platform::kShareAll;
// Deeper than any tree a path of Windows' greatest length can hold in
// practice, and shallow enough for the walk's own stack.
constexpr int kMaxDepth = 2048;

Error Own(int code) { return platform::OwnError(code); }
Error LastError() { return platform::LastWin32Error(); }

ActionResult Failed(std::string target, const Error& error) {
  return {std::move(target), false, error.Text(), error.code};
}
ActionResult Done(std::string target) { return {std::move(target), true, {}}; }

void Tell(const ActionChanges& changes, ActionChange::Kind kind, std::string path, std::string to = {}) {
  if (changes) changes({kind, std::move(path), std::move(to)});
}

struct Info {
  DWORD attributes = 0;
  std::uint64_t volume = 0, id = 0, size = 0;
  std::int64_t written = 0;
  // A symbolic link, a junction or another reparse point that stands for a
  // name elsewhere; other reparse points (cloud placeholders, deduplicated
  // files) are the files they hold.
  bool link = false;
  // Opened as what the link points to, the entry itself being out of reach
  // (Wine with a Unix link): nothing is done through such a handle.
  bool followed = false;
  bool Folder() const { return !link && (attributes & FILE_ATTRIBUTE_DIRECTORY); }
  bool ReadOnly() const { return attributes & FILE_ATTRIBUTE_READONLY; }
  bool SameFile(const Info& other) const { return volume == other.volume && id == other.id; }
  bool SameContent(const Info& other) const { return SameFile(other) && size == other.size && written == other.written; }
};

Error InfoOf(HANDLE h, Info& info) {
  BY_HANDLE_FILE_INFORMATION by{};
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandle(h, &by) ||
      !::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic))
    return LastError();
  info.attributes = by.dwFileAttributes;
  info.volume = by.dwVolumeSerialNumber;
  info.id = (std::uint64_t{by.nFileIndexHigh} << 32) | by.nFileIndexLow;
  info.size = (std::uint64_t{by.nFileSizeHigh} << 32) | by.nFileSizeLow;
  info.written = basic.LastWriteTime.QuadPart;
  info.link = info.followed = false;
  if (info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    // A tag that cannot be read is taken for a link: never followed.
    info.link = !::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) ||
                IsReparseTagNameSurrogate(tag.ReparseTag);
  }
  return {};
}

Error StatusError(NTSTATUS status) { return platform::ErrorFromWin32(::RtlNtStatusToDosError(status)); }

// Opens name in the open folder dir, relative to the handle, so that nothing
// above it is looked up again; with the reparse flag the entry itself is
// opened, never what a link points to. name is one component.
Error OpenAt(HANDLE dir, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options,
             Handle& out, bool ownEntry = true) {
  if (name.empty() || name.find_first_of(L"\\/:") != std::wstring::npos || name == L"." || name == L"..")
    return Own(EINVAL);
  UNICODE_STRING text;
  text.Buffer = const_cast<wchar_t*>(name.c_str());
  text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, dir, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE h = nullptr;
  NTSTATUS status = ::NtCreateFile(&h, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                                   disposition,
                                   options | FILE_SYNCHRONOUS_IO_NONALERT | (ownEntry ? FILE_OPEN_REPARSE_POINT : 0),
                                   nullptr, 0);
  if (status < 0) return StatusError(status);
  out.Reset(h);
  return {};
}

// The entry's attributes as its folder lists them. Wine opens a Unix link
// to a folder as the folder even when asked for the entry itself, and only
// the listing shows a reparse point there; Windows shows the same in both.
// Through a handle of its own, since a folder handle keeps the first name
// it was searched for.
DWORD ListedAttributes(HANDLE dir, const std::wstring& name) {
  Handle list(::ReOpenFile(dir, FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll, FILE_FLAG_BACKUP_SEMANTICS));
  if (!list.Valid()) return 0;
  alignas(8) char buffer[sizeof(FILE_ID_BOTH_DIR_INFO) + 520 * sizeof(wchar_t)];
  UNICODE_STRING text;
  text.Buffer = const_cast<wchar_t*>(name.c_str());
  text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  IO_STATUS_BLOCK io{};
  NTSTATUS status = ::NtQueryDirectoryFile(list.Get(), nullptr, nullptr, nullptr, &io, buffer, sizeof buffer,
                                           static_cast<FILE_INFORMATION_CLASS>(FileIdBothDirectoryInformation), TRUE,
                                           &text, TRUE);
  return status < 0 ? 0 : reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer)->FileAttributes;
}

// A reparse point by its name that the handle does not show was followed.
void MarkFollowed(Info& info, DWORD nameAttributes) {
  if ((nameAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !(info.attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    info.link = info.followed = true;
}

// An existing entry of dir, itself where it is a link; the file or folder
// where it is a reparse point of another kind, which must be read through.
Error OpenEntryAt(HANDLE dir, const std::string& name, ACCESS_MASK access, ULONG share, Handle& out, Info& info) {
  const std::wstring wide = platform::WideFromUtf8(name);
  if (Error e = OpenAt(dir, wide, access, share, FILE_OPEN, 0, out)) return e;
  if (Error e = InfoOf(out.Get(), info)) return e;
  MarkFollowed(info, ListedAttributes(dir, wide));
  if (!(info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) || info.link) return {};
  const Info entry = info;
  if (Error e = OpenAt(dir, wide, access, share, FILE_OPEN, 0, out, false)) return e;
  if (Error e = InfoOf(out.Get(), info)) return e;
  // Swapped for something else between the two opens.
  return info.SameFile(entry) ? Error{} : Own(kSourceChanged);
}

// A path given by the user or the change source: the entry itself, a link
// included. Device names are never opened.
Error OpenEntry(const std::string& path, ACCESS_MASK access, ULONG share, Handle& out, Info& info) {
  if (platform::NamesDevice(path)) return Own(kNotRegularFile);
  out.Reset(::CreateFileW(platform::NativePath(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!out.Valid()) return LastError();
  if (::GetFileType(out.Get()) != FILE_TYPE_DISK) return Own(kNotRegularFile);
  if (Error e = InfoOf(out.Get(), info)) return e;
  MarkFollowed(info, ::GetFileAttributesW(platform::NativePath(path).c_str()));
  return {};
}

// Why a file could not be opened for its move: a program writing it (the
// job waits for it to finish), or one merely holding it without sharing its
// removal, which no waiting for a writer would end.
Error InUse(const std::string& path) {
  return LookForWriters(path).answer == WriterLook::Writer ? Own(kSourceBeingWritten)
                                                           : platform::ErrorFromWin32(ERROR_SHARING_VIOLATION);
}

// A regular file to copy from: shared for reading only, so that a program
// still writing it makes the open fail, and none can start writing it
// while it is copied. With remove, the handle can take the file away once
// its copy is whole, nobody else could have moved it meanwhile.
Error OpenSource(const std::string& path, bool remove, Handle& out, Info& info) {
  if (platform::NamesDevice(path)) return Own(kNotRegularFile);
  out.Reset(::CreateFileW(platform::NativePath(path).c_str(), GENERIC_READ | (remove ? DELETE : 0),
                          FILE_SHARE_READ | (remove ? 0 : FILE_SHARE_DELETE), nullptr, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN,
                          nullptr));
  if (!out.Valid()) {
    if (::GetLastError() != ERROR_SHARING_VIOLATION) return LastError();
    return remove ? InUse(path) : Own(kSourceBeingWritten);
  }
  if (::GetFileType(out.Get()) != FILE_TYPE_DISK) return Own(kNotRegularFile);
  if (Error e = InfoOf(out.Get(), info)) return e;
  MarkFollowed(info, ::GetFileAttributesW(platform::NativePath(path).c_str()));
  if (info.link) return Own(kLinkNotCopied);
  if (info.attributes & FILE_ATTRIBUTE_DIRECTORY) return Own(EISDIR);
  return {};
}

// The user's target folder itself may be a link (a backup disk mounted in a
// folder); what lies below it is opened relative to this handle. Held with
// no deletion shared, so that it cannot be renamed away meanwhile.
Error OpenTargetDir(const std::string& dir, Handle& out) {
  out.Reset(::CreateFileW(platform::NativePath(dir).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                          nullptr));
  if (!out.Valid()) return LastError();
  Info info;
  if (Error e = InfoOf(out.Get(), info)) return e;
  return (info.attributes & FILE_ATTRIBUTE_DIRECTORY) ? Error{} : Own(ENOTDIR);
}

// Removes the entry once the last handle on it closes; false takes that back.
Error RemoveByHandle(HANDLE h, bool remove = true) {
  FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(remove)};
  return ::SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) ? Error{} : LastError();
}

// Gives the open file the name in the open folder dir, relative to it. The
// system call itself: SetFileInformationByHandle takes no name relative to
// a folder under Wine (it answers 87), the kernel does on both.
Error RenameInto(HANDLE file, HANDLE dir, const std::string& name, bool replace) {
  const std::wstring wide = platform::WideFromUtf8(name);
  if (wide.empty() || wide.find_first_of(L"\\/:") != std::wstring::npos) return Own(EINVAL);
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + wide.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  rename->RootDirectory = dir;
  rename->FileNameLength = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
  std::copy(wide.begin(), wide.end(), rename->FileName);
  rename->FileName[wide.size()] = L'\0';
  IO_STATUS_BLOCK io{};
  NTSTATUS status = ::NtSetInformationFile(file, &io, rename, static_cast<ULONG>(buffer.size()),
                                           static_cast<FILE_INFORMATION_CLASS>(FileRenameInformation));
  return status < 0 ? StatusError(status) : Error{};
}

// Chunked, so that a stop is heard; CopyFileEx would neither be stopped
// under Wine nor refuse a reparse point midway.
Error CopyData(HANDLE in, HANDLE out) {
  std::vector<char> buffer(std::size_t{1} << 20);
  for (;;) {
    if (CopyStop::Requested()) return Own(ECANCELED);
    DWORD n = 0;
    if (!::ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr)) return LastError();
    if (n == 0) return {};
    for (DWORD done = 0; done < n;) {
      DWORD written = 0;
      if (!::WriteFile(out, buffer.data() + done, n - done, &written, nullptr)) return LastError();
      if (written == 0) return Own(ENOSPC);
      done += written;
    }
  }
}

// A file being written into a folder under a temporary name of our own, so
// that nothing half-written ever has the name; it takes its name by a
// rename through the handle still held, which also lets a placed copy be
// taken back exactly. Unless it was placed, it is gone with this object.
class NewFile {
 public:
  NewFile(HANDLE dir, std::string folder, const ActionChanges& changes)
      : dir_(dir), folder_(std::move(folder)), changes_(changes) {}
  ~NewFile() {
    if (file_.Valid() && !placed_) RemoveByHandle(file_.Get());
  }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  // The whole content of the open source; durable for a move, whose source
  // goes once this is in place.
  Error Fill(HANDLE source, const Info& sourceInfo, bool durable) {
    info_ = sourceInfo;
    Error e;
    for (int attempt = 0; attempt < 100; ++attempt) {
      // Shared for reading only: nobody writes into it or takes it while
      // it is filled, and start-up sees that a live copy still holds it.
      e = OpenAt(dir_, platform::WideFromUtf8(OwnTemporaryName()),
                 GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, FILE_CREATE,
                 FILE_NON_DIRECTORY_FILE, file_);
      if (e.code != EEXIST) break;
    }
    if (e) return e;
    // Marked for removal until it takes its name, so that a copy killed
    // midway leaves no temporary: the system removes it with the last handle.
    if (Error marked = RemoveByHandle(file_.Get())) return marked;
    if (Error copied = CopyData(source, file_.Get())) return copied;
    if (durable && !::FlushFileBuffers(file_.Get())) return LastError();
    return {};
  }

  // EEXIST when the name is taken and replace is false. A read-only file is
  // never replaced: Windows refuses it, and Wine would not.
  Error Place(const std::string& name, bool replace) {
    if (replace) {
      Handle existing;
      Info there;
      if (!OpenEntryAt(dir_, name, FILE_READ_ATTRIBUTES, kShareAll, existing, there) && !there.link &&
          there.ReadOnly())
        return platform::ErrorFromWin32(ERROR_ACCESS_DENIED);
    }
    // As a copy made by Windows: the source's attributes and time of
    // writing, set before it has its name, so that no change of it follows
    // its appearance (the watching source would tell one, an update nobody
    // made). Read-only alone waits for the name: a read-only temporary
    // could not be taken back should the rename fail.
    FILE_BASIC_INFO basic{};
    basic.LastWriteTime.QuadPart = info_.written;
    basic.FileAttributes = info_.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (!basic.FileAttributes) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(file_.Get(), FileBasicInfo, &basic, sizeof basic);
    if (Error e = RemoveByHandle(file_.Get(), false)) return e;
    if (Error e = RenameInto(file_.Get(), dir_, name, replace)) {
      RemoveByHandle(file_.Get());
      return e;
    }
    placed_ = true;
    name_ = name;
    if (info_.attributes & FILE_ATTRIBUTE_READONLY) {
      basic.LastWriteTime.QuadPart = 0;
      basic.FileAttributes = (basic.FileAttributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_READONLY;
      ::SetFileInformationByHandle(file_.Get(), FileBasicInfo, &basic, sizeof basic);
    }
    // Told as it now stands: its echo is known by this very state.
    Tell(changes_, ActionChange::FileAppeared, JoinPath(folder_, name));
    return {};
  }

  // Takes a placed copy back, when what it was made for failed.
  void Unplace() {
    if (!placed_) return;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(file_.Get(), FileBasicInfo, &basic, sizeof basic);
    if (!RemoveByHandle(file_.Get())) Tell(changes_, ActionChange::FileVanished, JoinPath(folder_, name_));
    placed_ = false;
  }

 private:
  HANDLE dir_;
  std::string folder_;
  const ActionChanges& changes_;
  Handle file_;
  Info info_;
  bool placed_ = false;
  std::string name_;
};

std::size_t CountMatchingIn(const std::string& directory, const std::string& pattern) {
  std::size_t count = 0;
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileExW(platform::NativePath(JoinPath(directory, pattern)).c_str(), FindExInfoBasic,
                                     &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do {
    // Our own temporary, a copy still being written, is nobody's file yet.
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsOwnTemporaryName(platform::Utf8FromWide(found.cFileName)))
      continue;
    ++count;
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return count;
}

// last: the error of the last attempt, with its native number.
ActionResult Result(const std::string& folder, const PlacedName& placed, const Error& last) {
  std::string target = JoinPath(folder, placed.name);
  return placed.error ? Failed(std::move(target), last) : Done(std::move(target));
}

// Every name in the open folder, read whole before anything below it is
// opened.
Error ReadNames(HANDLE dir, std::vector<std::string>& names) {
  const DWORD error = platform::ListFolder(
      dir, [&](const platform::FolderEntry& entry) { names.push_back(platform::Utf8FromWide(entry.name)); });
  return error ? platform::ErrorFromWin32(error) : Error{};
}

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

// Entries a folder move copied, so that exactly those leave the source.
struct CopiedEntry {
  std::string name;
  Info info;
  std::vector<CopiedEntry> children;
};

ActionResult TreeResult(std::string target, const TreeCopy& copy) {
  if (!copy.failures) return Done(std::move(target));
  std::string text =
      std::to_string(copy.failures) + " 项未复制, 首项 " + copy.firstPath + ": " + copy.firstError.Text();
  return {std::move(target), false, std::move(text), copy.firstError.code};
}

constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_TRAVERSE;

// Copies one file of the open folder src into the open folder dst,
// replacing a file of the same name, never a folder, a link or a read-only
// file.
Error CopyEntry(HANDLE src, HANDLE dst, const std::string& name, const std::string& folder, TreeCopy& copy,
                CopiedEntry& entry, const ActionChanges& changes) {
  Handle in;
  if (Error e = OpenEntryAt(src, name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, in, entry.info))
    return e.native == ERROR_SHARING_VIOLATION ? Own(kSourceBeingWritten) : e;
  if (entry.info.link) return Own(kLinkNotCopied);
  Handle existing;
  Info there;
  bool exists = !OpenEntryAt(dst, name, FILE_READ_ATTRIBUTES, kShareAll, existing, there);
  existing.Reset();
  if (exists && there.link) return Own(kLinkInTarget);
  if (exists && (there.attributes & FILE_ATTRIBUTE_DIRECTORY)) return Own(EISDIR);
  NewFile file(dst, folder, changes);
  if (Error e = file.Fill(in.Get(), entry.info, copy.durable)) return e;
  Error e = exists ? Own(EEXIST) : file.Place(name, false);
  // Something came to stand at the name meanwhile: replaced like a file
  // that was there, a link included, which is removed, never written through.
  return e.code == EEXIST ? file.Place(name, true) : e;
}

// Copies everything in the open folder src into the open folder dst, whose
// path is dstPath; relative is the path shown in failures. With record,
// what was copied is noted for a move.
void CopyFolder(HANDLE src, HANDLE dst, const std::string& dstPath, const std::string& relative, TreeCopy& copy,
                CopiedEntry* record, const ActionChanges& changes, int depth) {
  if (depth > kMaxDepth) return copy.Fail(relative, Own(ENAMETOOLONG));
  std::vector<std::string> names;
  if (Error e = ReadNames(src, names)) copy.Fail(relative, e);
  for (const std::string& name : names) {
    const std::string entryRelative = relative + "\\" + name;
    const std::string entryPath = JoinPath(dstPath, name);
    CopiedEntry entry{name, {}, {}};
    Handle probe;
    Error e = OpenEntryAt(src, name, FILE_READ_ATTRIBUTES, kShareAll, probe, entry.info);
    probe.Reset();
    if (!e && !entry.info.Folder()) {
      e = CopyEntry(src, dst, name, dstPath, copy, entry, changes);
      if (!e && record) record->children.push_back(std::move(entry));
      if (e) copy.Fail(entryRelative, e);
      continue;
    }
    if (e) {
      copy.Fail(entryRelative, e);
      continue;
    }
    Handle from, to;
    Info there;
    if (Error opened = OpenEntryAt(src, name, kFolderAccess, kShareAll, from, entry.info)) {
      copy.Fail(entryRelative, opened);
      continue;
    }
    if (!OpenEntryAt(dst, name, kFolderAccess, kShareAll, to, there)) {
      if (!there.Folder()) {
        copy.Fail(entryRelative, Own(there.link ? kLinkInTarget : kNotFolderInTarget));
        continue;
      }
    } else if (Error made = OpenAt(dst, platform::WideFromUtf8(name), kFolderAccess, kShareAll, FILE_CREATE,
                                   FILE_DIRECTORY_FILE, to)) {
      copy.Fail(entryRelative, made);
      continue;
    } else {
      Tell(changes, ActionChange::FolderAppeared, entryPath);
    }
    CopiedEntry* sub = nullptr;
    if (record) {
      record->children.push_back(std::move(entry));
      sub = &record->children.back();
    }
    CopyFolder(from.Get(), to.Get(), entryPath, entryRelative, copy, sub, changes, depth + 1);
    if (copy.durable) ::FlushFileBuffers(to.Get());
  }
}

// Empties the open folder (held with deletion allowed) and removes it;
// links are removed, never followed; read-only files stay. All that can go
// goes; the first failure is told.
Error RemoveFolder(HANDLE folder, const std::string& path, const ActionChanges& changes, int depth) {
  if (depth > kMaxDepth) return Own(ENAMETOOLONG);
  Error first;
  auto fail = [&first](const Error& e) {
    if (!first) first = e;
  };
  std::vector<std::string> names;
  if (Error e = ReadNames(folder, names)) fail(e);
  for (const std::string& name : names) {
    const std::string entryPath = JoinPath(path, name);
    Handle entry;
    Info info;
    if (Error e = OpenEntryAt(folder, name, DELETE | kFolderAccess, kShareAll, entry, info)) {
      fail(e);
      continue;
    }
    if (info.Folder()) {
      fail(RemoveFolder(entry.Get(), entryPath, changes, depth + 1));
      continue;
    }
    if (info.followed) {
      fail(Own(ELOOP));
      continue;
    }
    if (!info.link && info.ReadOnly()) {
      fail(platform::ErrorFromWin32(ERROR_ACCESS_DENIED));
      continue;
    }
    if (Error e = RemoveByHandle(entry.Get())) {
      fail(e);
    } else {
      Tell(changes, (info.attributes & FILE_ATTRIBUTE_DIRECTORY) ? ActionChange::FolderVanished
                                                                  : ActionChange::FileVanished,
           entryPath);
    }
  }
  if (Error e = RemoveByHandle(folder)) {
    fail(e);
  } else {
    Tell(changes, ActionChange::FolderVanished, path);
  }
  return first;
}

// Removes from the open source folder exactly the entries that were copied,
// each only while it is still the same, unchanged file, and the folder once
// empty. Returns how many entries stayed.
std::size_t RemoveCopied(HANDLE folder, const CopiedEntry& copied, const std::string& path,
                         const ActionChanges& changes) {
  std::size_t kept = 0;
  for (const CopiedEntry& e : copied.children) {
    const std::string entryPath = JoinPath(path, e.name);
    Handle entry;
    Info now;
    if (OpenEntryAt(folder, e.name, DELETE | kFolderAccess, kShareAll, entry, now) || !now.SameFile(e.info) ||
        now.Folder() != e.info.Folder() || (!now.Folder() && !now.SameContent(e.info))) {
      ++kept;
      continue;
    }
    if (now.Folder()) {
      kept += RemoveCopied(entry.Get(), e, entryPath, changes);
      continue;
    }
    if (RemoveByHandle(entry.Get())) {
      ++kept;
    } else {
      Tell(changes, ActionChange::FileVanished, entryPath);
    }
  }
  if (kept) return kept + 1;
  if (RemoveByHandle(folder)) return 1;
  Tell(changes, ActionChange::FolderVanished, path);
  return 0;
}

// The final path of an open folder, for telling whether one lies in another
// whatever the spelling, links and drive letters on the way.
std::wstring FinalPath(HANDLE h) {
  std::wstring path(MAX_PATH, L'\0');
  DWORD n = ::GetFinalPathNameByHandleW(h, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
  if (n >= path.size()) {
    path.resize(n + 1);
    n = ::GetFinalPathNameByHandleW(h, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
  }
  path.resize(n < path.size() ? n : 0);
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

bool WithinFolder(const std::wstring& path, const std::wstring& folder) {
  if (folder.empty() || path.size() < folder.size()) return false;
  if (::CompareStringOrdinal(path.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                             static_cast<int>(folder.size()), TRUE) != CSTR_EQUAL)
    return false;
  return path.size() == folder.size() || path[folder.size()] == L'\\';
}

// Whether name in the open target folder is the source folder or lies in it.
Error CheckTargetOutside(HANDLE targetDir, const std::string& name, HANDLE source) {
  const std::wstring from = FinalPath(source);
  const std::wstring to = FinalPath(targetDir);
  if (from.empty() || to.empty()) return LastError();
  return WithinFolder(to + L"\\" + platform::WideFromUtf8(name), from) ? Own(kTargetInsideSource) : Error{};
}

// Across volumes: a complete copy first, then the source, through the
// handle that was copied from and that nobody could write meanwhile.
ActionResult MoveFileAcross(const std::string& path, HANDLE dir, const std::string& folder, const ActionNames& names,
                            const std::string& monitoredPath, const ActionChanges& changes) {
  const std::string first = JoinPath(folder, names.file);
  Handle source;
  Info info;
  if (Error e = OpenSource(path, true, source, info)) return Failed(first, e);
  // Windows removes no read-only file: such a move could only ever copy.
  if (info.ReadOnly()) return Failed(first, platform::ErrorFromWin32(ERROR_ACCESS_DENIED));
  NewFile copy(dir, folder, changes);
  if (Error e = copy.Fill(source.Get(), info, true)) return Failed(first, e);
  Error last;
  PlacedName placed = PlaceNumbered(
      names, monitoredPath, [&](const char* name) { return (last = copy.Place(name, false)).code; },
      [&](const std::string& pattern) { return CountMatchingIn(folder, pattern); });
  if (placed.error) return Result(folder, placed, last);
  const std::string target = JoinPath(folder, placed.name);
  if (Error e = RemoveByHandle(source.Get())) {
    copy.Unplace();
    return Failed(target, e);
  }
  Tell(changes, ActionChange::FileVanished, path);
  return Done(target);
}

}  // namespace


std::size_t CountMatchingFiles(const std::string& directory, std::string_view patterns) {
  std::size_t count = 0;
  for (const std::string& pattern : SplitText(patterns, "|")) count += CountMatchingIn(directory, pattern);
  return count;
}

// Share modes tell of every writer on a local volume, and the source is
// opened sharing no writing: nothing is left to be judged by steadiness.
ActionResult CopyFileAction(const std::string& path, const std::string& targetDir, const std::string& monitoredPath,
                            const ActionChanges& changes, bool) {
  const std::string folder = CleanPath(targetDir);
  const ActionNames names = SplitActionName(path);
  const std::string first = JoinPath(folder, names.file);
  Handle source;
  Info info;
  if (Error e = OpenSource(path, false, source, info)) return Failed(first, e);
  Handle dir;
  if (Error e = OpenTargetDir(targetDir, dir)) return Failed(first, e);
  NewFile copy(dir.Get(), folder, changes);
  if (Error e = copy.Fill(source.Get(), info, false)) return Failed(first, e);
  Error last;
  PlacedName placed = PlaceNumbered(
      names, monitoredPath, [&](const char* name) { return (last = copy.Place(name, false)).code; },
      [&](const std::string& pattern) { return CountMatchingIn(folder, pattern); });
  return Result(folder, placed, last);
}

ActionResult MoveFileAction(const std::string& path, const std::string& targetDir, const std::string& monitoredPath,
                            const ActionChanges& changes) {
  const std::string folder = CleanPath(targetDir);
  const ActionNames names = SplitActionName(path);
  const std::string first = JoinPath(folder, names.file);
  Handle source;
  Info info;
  if (Error e = OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES, kShareAll, source, info))
    return Failed(first, e.native == ERROR_SHARING_VIOLATION ? InUse(path) : e);
  if (info.followed) return Failed(first, Own(ELOOP));
  Handle dir;
  if (Error e = OpenTargetDir(targetDir, dir)) return Failed(first, e);
  if (info.Folder())
    if (Error e = CheckTargetOutside(dir.Get(), names.file, source.Get())) return Failed(first, e);
  Error last;
  PlacedName placed = PlaceNumbered(
      names, monitoredPath,
      [&](const char* name) {
        last = RenameInto(source.Get(), dir.Get(), name, false);
        if (!last) Tell(changes, ActionChange::Renamed, path, JoinPath(folder, name));
        return last.code;
      },
      [&](const std::string& pattern) { return CountMatchingIn(folder, pattern); });
  if (placed.error != EXDEV) return Result(folder, placed, last);
  if (info.link || (info.attributes & FILE_ATTRIBUTE_DIRECTORY)) return Failed(first, Own(EXDEV));
  source.Reset();
  return MoveFileAcross(path, dir.Get(), folder, names, monitoredPath, changes);
}

ActionResult DeleteFileAction(const std::string& path, const ActionChanges& changes) {
  Handle file;
  Info info;
  if (Error e = OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES, kShareAll, file, info)) return Failed(path, e);
  if (info.Folder()) return Failed(path, Own(EISDIR));
  if (info.followed) return Failed(path, Own(ELOOP));
  if (!info.link && info.ReadOnly()) return Failed(path, platform::ErrorFromWin32(ERROR_ACCESS_DENIED));
  if (Error e = RemoveByHandle(file.Get())) return Failed(path, e);
  Tell(changes, ActionChange::FileVanished, path);
  return Done(path);
}

ActionResult CopyDirectoryAction(const std::string& path, const std::string& targetDir, const ActionChanges& changes) {
  const std::string folder = CleanPath(targetDir);
  const std::string name = DirectoryCopyName(path);
  const std::string target = JoinPath(folder, name);
  if (name.empty()) return Failed(target, Own(EINVAL));
  Handle src;
  Info info;
  if (Error e = OpenEntry(path, kFolderAccess, kShareAll, src, info)) return Failed(target, e);
  if (info.link) return Failed(target, Own(kLinkNotCopied));
  if (!info.Folder()) return Failed(target, Own(ENOTDIR));
  Handle dst;
  if (Error e = OpenTargetDir(targetDir, dst)) return Failed(target, e);
  // A target inside the source would copy itself forever.
  if (Error e = CheckTargetOutside(dst.Get(), name, src.Get())) return Failed(target, e);
  Handle to;
  Info there;
  if (!OpenEntryAt(dst.Get(), name, kFolderAccess, kShareAll, to, there)) {
    if (!there.Folder()) return Failed(target, Own(there.link ? kLinkInTarget : kNotFolderInTarget));
  } else if (Error e = OpenAt(dst.Get(), platform::WideFromUtf8(name), kFolderAccess, kShareAll, FILE_CREATE,
                              FILE_DIRECTORY_FILE, to)) {
    return Failed(target, e);
  } else {
    Tell(changes, ActionChange::FolderAppeared, target);
  }
  TreeCopy copy;
  CopyFolder(src.Get(), to.Get(), target, name, copy, nullptr, changes, 0);
  return TreeResult(target, copy);
}

ActionResult MoveDirectoryAction(const std::string& path, const std::string& targetDir, const ActionChanges& changes) {
  const std::string folder = CleanPath(targetDir);
  const std::string name = PathFileName(path, true);
  const std::string target = JoinPath(folder, name);
  Handle dst;
  if (Error e = OpenTargetDir(targetDir, dst)) return Failed(target, e);
  Handle src;
  Info info;
  if (Error e = OpenEntry(path, DELETE | kFolderAccess, kShareAll, src, info)) return Failed(target, e);
  if (info.followed) return Failed(target, Own(ELOOP));
  // Windows refuses such a rename, but the copy that follows a refusal would not end.
  if (info.Folder())
    if (Error e = CheckTargetOutside(dst.Get(), name, src.Get())) return Failed(target, e);
  Error e = RenameInto(src.Get(), dst.Get(), name, false);
  if (!e) {
    Tell(changes, ActionChange::Renamed, path, target);
    return Done(target);
  }
  if (e.code != EXDEV || !info.Folder()) return Failed(target, e);

  // The folder is made here, so everything below it is ours to take back.
  Handle to;
  if (Error made = OpenAt(dst.Get(), platform::WideFromUtf8(name), DELETE | kFolderAccess, kShareAll, FILE_CREATE,
                          FILE_DIRECTORY_FILE, to))
    return Failed(target, made);
  Tell(changes, ActionChange::FolderAppeared, target);
  TreeCopy copy;
  copy.durable = true;
  CopiedEntry copied{name, info, {}};
  CopyFolder(src.Get(), to.Get(), target, name, copy, &copied, changes, 0);
  if (copy.failures) {
    // A partial copy would block every later attempt: it goes, the source stays.
    RemoveFolder(to.Get(), target, changes, 0);
    return TreeResult(target, copy);
  }
  to.Reset();
  std::size_t kept = RemoveCopied(src.Get(), copied, path, changes);
  if (kept) return {target, false, "源文件夹中 " + std::to_string(kept) + " 项在移动时新出现或被改动, 已留在原处"};
  return Done(target);
}

ActionResult DeleteDirectoryTree(const std::string& path, const ActionChanges& changes) {
  Handle folder;
  Info info;
  if (Error e = OpenEntry(path, DELETE | kFolderAccess, kShareAll, folder, info)) return Failed(path, e);
  // Never followed, as a link met below.
  if (info.link) return Failed(path, Own(ELOOP));
  if (!info.Folder()) return Failed(path, Own(ENOTDIR));
  Error e = RemoveFolder(folder.Get(), path, changes, 0);
  return e ? Failed(path, e) : Done(path);
}

}  // namespace vantrel
