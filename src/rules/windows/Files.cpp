#include "rules/Files.h"

#include "platform/OwnTemporary.h"
#include "platform/windows/Handle.h"
#include "platform/windows/Wide.h"
#include "rules/WholeFile.h"
#include "text/PathRoutines.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <vector>

// Not in the system headers of the toolchain outside the driver kit.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apc, PVOID apcContext,
                                               PIO_STATUS_BLOCK io, PVOID information, ULONG length,
                                               FILE_INFORMATION_CLASS kind, BOOLEAN single, PUNICODE_STRING name,
                                               BOOLEAN restart);

namespace vantrel::files {
namespace {

using platform::kShareAll;
constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_TRAVERSE;

HANDLE H(const Handle& h) { return reinterpret_cast<HANDLE>(h.Get()); }
HANDLE H(const Folder& f) { return H(f.handle); }
void Hold(Handle& out, HANDLE h) {
  out.Reset(h == INVALID_HANDLE_VALUE ? Handle::kNone : reinterpret_cast<std::intptr_t>(h));
}
Error LastError() { return platform::LastWin32Error(); }
Error Denied() { return platform::ErrorFromWin32(ERROR_ACCESS_DENIED); }
Error StatusError(NTSTATUS status) { return platform::ErrorFromWin32(::RtlNtStatusToDosError(status)); }

// mode holds the attributes. A symbolic link, a junction or another reparse
// point that stands for a name elsewhere is a link; other reparse points
// (cloud placeholders, deduplicated files) are the files they hold.
Error InfoOf(HANDLE h, Entry& e) {
  BY_HANDLE_FILE_INFORMATION by{};
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandle(h, &by) || !::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic))
    return LastError();
  const DWORD attributes = by.dwFileAttributes;
  bool link = false;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    // A tag that cannot be read is taken for a link: never followed.
    link = !::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) ||
           IsReparseTagNameSurrogate(tag.ReparseTag);
  }
  e.kind = link ? Kind::Link : (attributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::Folder : Kind::File;
  e.stamp = {by.dwVolumeSerialNumber, (std::uint64_t{by.nFileIndexHigh} << 32) | by.nFileIndexLow,
             (std::uint64_t{by.nFileSizeHigh} << 32) | by.nFileSizeLow, basic.LastWriteTime.QuadPart, 0};
  e.mode = attributes;
  e.readOnly = attributes & FILE_ATTRIBUTE_READONLY;
  e.folderLink = link && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  e.followed = false;
  return {};
}

// A reparse point by its name that the handle does not show was followed.
void MarkFollowed(Entry& e, DWORD nameAttributes) {
  if ((nameAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !(e.mode & FILE_ATTRIBUTE_REPARSE_POINT)) {
    e.kind = Kind::Link;
    e.followed = true;
    e.folderLink = nameAttributes & FILE_ATTRIBUTE_DIRECTORY;
  }
}

// Opens name in the open folder dir, relative to the handle, so that nothing
// above it is looked up again; with ownEntry the entry itself is opened,
// never what a link points to. name is one component.
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
  Hold(out, h);
  return {};
}

// The entry's attributes as its folder lists them. Wine opens a Unix link
// to a folder as the folder even when asked for the entry itself, and only
// the listing shows a reparse point there; Windows shows the same in both.
// Through a handle of its own, since a folder handle keeps the first name
// it was searched for.
DWORD ListedAttributes(HANDLE dir, const std::wstring& name) {
  platform::Handle list(::ReOpenFile(dir, FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll, FILE_FLAG_BACKUP_SEMANTICS));
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

// An existing entry of dir, itself where it is a link; the file or folder
// where it is a reparse point of another kind, which must be read through.
Error OpenEntryAt(HANDLE dir, const std::string& name, ACCESS_MASK access, ULONG share, Handle& out, Entry& info) {
  const std::wstring wide = platform::WideFromUtf8(name);
  if (Error e = OpenAt(dir, wide, access, share, FILE_OPEN, 0, out)) return e;
  if (Error e = InfoOf(H(out), info)) return e;
  MarkFollowed(info, ListedAttributes(dir, wide));
  if (!(info.mode & FILE_ATTRIBUTE_REPARSE_POINT) || info.kind == Kind::Link) return {};
  const Entry entry = info;
  if (Error e = OpenAt(dir, wide, access, share, FILE_OPEN, 0, out, false)) return e;
  if (Error e = InfoOf(H(out), info)) return e;
  // Swapped for something else between the two opens.
  return info.stamp.SameFile(entry.stamp) ? Error{} : Own(kSourceChanged);
}

// A path given by the user or the change source: the entry itself, a link
// included. Device names are never opened.
Error OpenEntry(const std::string& path, ACCESS_MASK access, ULONG share, DWORD flags, Handle& out, Entry& info) {
  if (platform::NamesDevice(path)) return Own(kNotRegularFile);
  Hold(out, ::CreateFileW(platform::NativePath(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
  if (!out.Valid()) return LastError();
  if (::GetFileType(H(out)) != FILE_TYPE_DISK) return Own(kNotRegularFile);
  if (Error e = InfoOf(H(out), info)) return e;
  MarkFollowed(info, ::GetFileAttributesW(platform::NativePath(path).c_str()));
  return {};
}

// Why a file could not be opened to be moved or removed: a program writing
// it (the job waits for it to finish), or one merely holding it without
// sharing its removal, which no waiting for a writer would end.
Error InUse(const std::string& path) {
  return LookForWriters(path).answer == WriterLook::Writer ? Own(kSourceBeingWritten)
                                                           : platform::ErrorFromWin32(ERROR_SHARING_VIOLATION);
}

// Removes the entry once the last handle on it closes; false takes that back.
Error RemoveByHandle(HANDLE h, bool remove = true) {
  FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(remove)};
  return ::SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) ? Error{} : LastError();
}

// Gives the open file the name in the open folder dir, relative to it. The
// system call itself: SetFileInformationByHandle takes no name relative to
// a folder under Wine (it answers 87), the kernel does on both.
Error RenameByHandle(HANDLE file, HANDLE dir, const std::string& name, bool replace) {
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

}  // namespace

void Handle::Reset(std::intptr_t h) {
  if (Valid()) ::CloseHandle(reinterpret_cast<HANDLE>(h_));
  h_ = h;
}

// Handles are plentiful: a walk keeps every folder on its way open.
const std::size_t kHeldFolders = std::numeric_limits<std::size_t>::max();

// A target is held with no deletion shared, so that it cannot be renamed
// away meanwhile.
Error OpenFolder(const std::string& path, Folder& out, bool hold) {
  Hold(out.handle,
       ::CreateFileW(platform::NativePath(path).c_str(), kFolderAccess | SYNCHRONIZE,
                     hold ? FILE_SHARE_READ | FILE_SHARE_WRITE : kShareAll, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!out.handle.Valid()) return LastError();
  if (Error e = InfoOf(H(out), out.info)) return e;
  return out.info.kind == Kind::Folder ? Error{} : Own(ENOTDIR);
}

Error Look(const Folder& dir, const std::string& name, Entry& out) {
  Handle h;
  return OpenEntryAt(H(dir), name, FILE_READ_ATTRIBUTES, kShareAll, h, out);
}

Error OpenBelow(const Folder& dir, const std::string& name, Folder& out) {
  if (Error e = OpenEntryAt(H(dir), name, kFolderAccess, kShareAll, out.handle, out.info)) return e;
  if (out.info.kind == Kind::Folder) return {};
  out.handle.Reset();
  return Own(out.info.kind == Kind::Link ? ELOOP : ENOTDIR);
}

Error OpenAbove(const Folder&, const Entry&, Folder&) { return Own(ENOSYS); }

Error MakeFolder(const Folder& dir, const std::string& name) {
  Handle made;
  return OpenAt(H(dir), platform::WideFromUtf8(name), kFolderAccess, kShareAll, FILE_CREATE, FILE_DIRECTORY_FILE,
                made);
}

Error ListNames(const Folder& dir, std::vector<std::string>& names) {
  const DWORD error = platform::ListFolder(
      H(dir), [&](const platform::FolderEntry& entry) { names.push_back(platform::Utf8FromWide(entry.name)); });
  return error ? platform::ErrorFromWin32(error) : Error{};
}

// Read-only files stay: Windows refuses their removal, and Wine would not.
Error Remove(const Folder& dir, const std::string& name, const Entry& expected, bool unchanged) {
  Handle h;
  Entry now;
  if (Error e = OpenEntryAt(H(dir), name, DELETE | FILE_READ_ATTRIBUTES, kShareAll, h, now)) return e;
  if (now.followed) return Own(ELOOP);
  if (!SameItem(now, expected) || (unchanged && now.kind == Kind::File && !Unchanged(now, expected)))
    return Own(kSourceChanged);
  if (now.kind == Kind::File && now.readOnly) return Denied();
  return RemoveByHandle(H(h));
}

void FinishFolder(const Folder& copy, const Entry&, bool, bool durable) {
  if (durable) ::FlushFileBuffers(H(copy));
}

std::size_t CountMatching(const Folder&, const std::string& path, const std::string& pattern) {
  std::size_t count = 0;
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileExW(platform::NativePath(JoinPath(path, pattern)).c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do {
    // Our own temporary, a copy still being written, is nobody's file yet.
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !IsOwnTemporaryName(platform::Utf8FromWide(found.cFileName)))
      ++count;
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return count;
}

Error CheckTargetOutside(const Folder& dir, const std::string& name, const Handle& source, const Entry&) {
  const std::wstring from = FinalPath(H(source));
  const std::wstring to = FinalPath(H(dir));
  if (from.empty() || to.empty()) return LastError();
  return WithinFolder(to + L"\\" + platform::WideFromUtf8(name), from) ? Own(kTargetInsideSource) : Error{};
}

Error OpenItem(const std::string& path, Item& out) {
  out.path = path;
  Error e = OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES, kShareAll, 0, out.handle, out.info);
  return e.native == ERROR_SHARING_VIOLATION ? InUse(path) : e;
}

// Nothing is ever done through what a link led to.
Error RenameInto(Item& item, const Folder& dir, const std::string& name, bool& linked) {
  linked = false;
  return item.info.followed ? Own(ELOOP) : RenameByHandle(H(item.handle), H(dir), name, false);
}

Error RemoveItem(Item& item) { return item.info.followed ? Own(ELOOP) : RemoveByHandle(H(item.handle)); }

struct Source::State {
  Handle h;
  Entry info;
};

Source::Source() : s_(std::make_unique<State>()) {}
Source::~Source() = default;
const Entry& Source::Info() const { return s_->info; }

// Shared for reading only, so that a program still writing the file makes
// the open fail, and none can start writing it while it is copied: share
// modes tell of every writer on a local volume, so nothing is left to be
// judged by steadiness. For a move, the handle takes the file away once its
// copy is whole, nobody else could have moved it meanwhile.
Error Source::Open(const std::string& path, bool, bool forMove) {
  Error e = OpenEntry(path, GENERIC_READ | (forMove ? DELETE : 0), FILE_SHARE_READ | (forMove ? 0 : FILE_SHARE_DELETE),
                      FILE_FLAG_SEQUENTIAL_SCAN, s_->h, s_->info);
  if (e.native == ERROR_SHARING_VIOLATION) return forMove ? InUse(path) : Own(kSourceBeingWritten);
  if (e) return e;
  if (s_->info.kind == Kind::Link) return Own(kLinkNotCopied);
  if (s_->info.kind == Kind::Folder) return Own(EISDIR);
  // Windows removes no read-only file: such a move could only ever copy.
  return forMove && s_->info.readOnly ? Denied() : Error{};
}

Error Source::OpenAt(const Folder& dir, const std::string& name) {
  Error e = OpenEntryAt(H(dir), name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, s_->h, s_->info);
  if (e.native == ERROR_SHARING_VIOLATION) return Own(kSourceBeingWritten);
  if (e) return e;
  return s_->info.kind == Kind::Link ? Own(kLinkNotCopied) : Error{};
}

Error Source::RemoveAfterCopy(const Folder&, bool& keepCopy) {
  keepCopy = false;
  return RemoveByHandle(H(s_->h));
}

// Under a temporary name of our own, so that nothing half-written ever has
// the name; it takes its name by a rename through the handle still held,
// which also lets a placed copy be taken back exactly.
struct NewFile::State {
  State(const Folder& folder, const Teller& teller) : dir(H(folder)), tell(teller) {}
  ~State() {
    if (file.Valid() && !placed) RemoveByHandle(H(file));
  }
  HANDLE dir;
  const Teller& tell;
  Handle file;
  Entry source;
  bool placed = false;
  std::string name;
};

NewFile::NewFile(const Folder& dir, const Teller& tell) : s_(std::make_unique<State>(dir, tell)) {}
NewFile::~NewFile() = default;

Error NewFile::Fill(Source& from, bool durable) {
  s_->source = from.s_->info;
  std::string temp;
  // Shared for reading only: nobody writes into it or takes it while it is
  // filled, and start-up sees that a live copy still holds it.
  const Error e = WithOwnTemporaryName(temp, [&](const char* name) {
    return OpenAt(s_->dir, platform::WideFromUtf8(name),
                  GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, FILE_CREATE,
                  FILE_NON_DIRECTORY_FILE, s_->file);
  });
  if (e) return e;
  // Marked for removal until it takes its name, so that a copy killed
  // midway leaves no temporary: the system removes it with the last handle.
  if (Error marked = RemoveByHandle(H(s_->file))) return marked;
  if (Error copied = CopyData(H(from.s_->h), H(s_->file))) return copied;
  if (durable && !::FlushFileBuffers(H(s_->file))) return LastError();
  return {};
}

// A read-only file is never replaced: Windows refuses it, and Wine would not.
Error NewFile::Place(const std::string& name, bool replace) {
  if (replace) {
    Handle existing;
    Entry there;
    if (!OpenEntryAt(s_->dir, name, FILE_READ_ATTRIBUTES, kShareAll, existing, there) && there.kind != Kind::Link &&
        there.readOnly)
      return Denied();
  }
  // As a copy made by Windows: the source's attributes and time of writing,
  // set before it has its name, so that no change of it follows its
  // appearance (the watching source would tell one, an update nobody made).
  // Read-only alone waits for the name: a read-only temporary could not be
  // taken back should the rename fail.
  FILE_BASIC_INFO basic{};
  basic.LastWriteTime.QuadPart = s_->source.stamp.writtenNs;
  basic.FileAttributes = s_->source.mode & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  if (!basic.FileAttributes) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  ::SetFileInformationByHandle(H(s_->file), FileBasicInfo, &basic, sizeof basic);
  if (Error e = RemoveByHandle(H(s_->file), false)) return e;
  if (Error e = RenameByHandle(H(s_->file), s_->dir, name, replace)) {
    RemoveByHandle(H(s_->file));
    return e;
  }
  s_->placed = true;
  s_->name = name;
  if (s_->source.readOnly) {
    basic.LastWriteTime.QuadPart = 0;
    basic.FileAttributes = (basic.FileAttributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_READONLY;
    ::SetFileInformationByHandle(H(s_->file), FileBasicInfo, &basic, sizeof basic);
  }
  // Told as it now stands: its echo is known by this very state.
  s_->tell(ActionChange::FileAppeared, name, {}, platform::StampOfHandle(H(s_->file)));
  return {};
}

void NewFile::Unplace() {
  if (!s_->placed) return;
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  ::SetFileInformationByHandle(H(s_->file), FileBasicInfo, &basic, sizeof basic);
  if (!RemoveByHandle(H(s_->file))) s_->tell(ActionChange::FileVanished, s_->name);
  s_->placed = false;
}

// Links are never copied here: making one needs a privilege the user seldom
// has, and what one points to is not the rule's to hand out.
Error PlaceLink(const Source&, const Folder&, const std::string&, bool, const Teller&) { return Own(kLinkNotCopied); }

}  // namespace vantrel::files
