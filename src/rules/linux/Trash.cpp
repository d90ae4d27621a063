#include "rules/Trash.h"

#include "platform/ThisProcess.h"
#include "text/PathRoutines.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {
namespace {

using platform::Error;
Error Sys() { return platform::LastSystemError(); }

std::string PercentEncoded(const std::string& path) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// A folder of ours: made when missing, and refused when it is a link or
// somebody else's (another user could read or plant what we trash).
bool OwnFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

// The trash for an item on device dev: the home's when it is on the same
// file system, else $topdir/.Trash-$uid of the item's own. info: the part
// the info file's Path is written relative to (empty: absolute).
bool TrashFor(const std::string& parent, dev_t dev, std::string& trash, std::string& relativeTo) {
  const char* data = std::getenv("XDG_DATA_HOME");
  const std::string dataHome = data && *data == '/' ? data : platform::UserHome() + "/.local/share";
  struct stat st {};
  if (::stat(dataHome.c_str(), &st) == 0 && st.st_dev == dev) {
    trash = dataHome + "/Trash";
    relativeTo.clear();
    return OwnFolder(trash);
  }
  // The top of the item's file system: up while the device stays.
  std::string top = parent;
  while (top != "/") {
    const std::size_t slash = top.rfind('/');
    const std::string up = slash == 0 ? "/" : top.substr(0, slash);
    if (::stat(up.c_str(), &st) != 0 || st.st_dev != dev) break;
    top = up;
  }
  trash = JoinPath(top, ".Trash-" + std::to_string(::getuid()));
  relativeTo = top;
  return OwnFolder(trash);
}

std::string Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

}  // namespace

Error MoveToTrash(const std::string& path, std::string& trashed) {
  const std::string clean = CleanPath(path);
  const std::size_t slash = clean.rfind('/');
  if (slash == std::string::npos || slash + 1 == clean.size()) return platform::OwnError(EINVAL);
  const std::string parent(FolderPart(clean)), name = clean.substr(slash + 1);
  struct stat st {};
  if (::lstat(clean.c_str(), &st) != 0) return Sys();
  std::string trash, relativeTo;
  if (!TrashFor(parent, st.st_dev, trash, relativeTo) || !OwnFolder(trash + "/files") || !OwnFolder(trash + "/info"))
    return platform::OwnError(EACCES);
  const std::string shown = relativeTo.empty() ? clean : clean.substr(relativeTo == "/" ? 1 : relativeTo.size() + 1);
  const std::string info = "[Trash Info]\nPath=" + PercentEncoded(shown) + "\nDeletionDate=" + Now() + "\n";
  const std::string extension = PathExtension(name), stem = name.substr(0, name.size() - extension.size());
  for (int n = 1; n < 1000; ++n) {
    // The info file is claimed first, as the trash's readers expect.
    const std::string taken = n == 1 ? name : stem + "." + std::to_string(n) + extension;
    const std::string infoPath = trash + "/info/" + taken + ".trashinfo";
    const int fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return Sys();
    }
    const bool written = ::write(fd, info.data(), info.size()) == static_cast<ssize_t>(info.size());
    ::close(fd);
    const std::string target = trash + "/files/" + taken;
    if (written && ::renameat2(AT_FDCWD, clean.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      trashed = target;
      return {};
    }
    const Error why = written ? Sys() : platform::OwnError(EIO);
    ::unlink(infoPath.c_str());
    if (why.code != EEXIST) return why;
  }
  return platform::OwnError(EEXIST);
}

Error RestoreFromTrash(const std::string& trashed, const std::string& path) {
  if (::renameat2(AT_FDCWD, trashed.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) return Sys();
  // files/NAME's record is info/NAME.trashinfo.
  const std::size_t slash = trashed.rfind('/');
  const std::string files = trashed.substr(0, slash), name = trashed.substr(slash + 1);
  ::unlink((files.substr(0, files.rfind('/')) + "/info/" + name + ".trashinfo").c_str());
  return {};
}

}  // namespace vantrel
