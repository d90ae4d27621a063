#include "text/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace vantrel {

std::string FileErrorText(int error) {
  switch (error) {
    case kNotRegularFile:
      return "不是普通文件(管道、套接字或设备),不打开";
    case kFileTooLarge:
      return "文件过大";
    case kLinkInTarget:
      return "目标位置是一个链接,不写入";
    case kSourceChanged:
      return "源文件在复制时被改动";
    case kSourceBeingWritten:
      return "源文件仍在被其他程序写入";
    case kNotFolderInTarget:
      return "目标位置已有同名的非文件夹项";
    case kTargetInsideSource:
      return "目标位于源文件夹之内";
    case kFolderMoved:
      return "文件夹在处理时被移走";
    case kFolderLoop:
      return "文件夹经挂载又出现在自身之内,不进入";
    default:
      break;
  }
  // The interface is Chinese: the system's common reasons in our own words,
  // any other by its number.
  static const std::pair<int, const char*> kSystem[] = {
      {EPERM, "不允许的操作"},         {ENOENT, "没有那个文件或目录"},   {EIO, "输入/输出错误"},
      {EBADF, "无效的文件描述符"},     {EAGAIN, "资源暂时不可用"},       {ENOMEM, "内存不足"},
      {EACCES, "权限不够"},            {EBUSY, "设备或资源忙"},          {EEXIST, "文件已存在"},
      {EXDEV, "不能跨文件系统链接"},   {ENODEV, "没有那个设备"},         {ENOTDIR, "不是文件夹"},
      {EISDIR, "是一个文件夹"},        {EINVAL, "无效的参数"},           {ENFILE, "系统中打开的文件过多"},
      {EMFILE, "打开的文件过多"},      {ETXTBSY, "文件正被执行"},        {EFBIG, "文件过大"},
      {ENOSPC, "磁盘空间不足"},        {EROFS, "只读文件系统"},          {EMLINK, "链接过多"},
      {ENAMETOOLONG, "文件名过长"},    {ENOTEMPTY, "文件夹不是空的"},    {ELOOP, "符号链接的层数过多"},
      {ENOSYS, "功能未实现"},          {EOPNOTSUPP, "不支持的操作"},     {ECANCELED, "操作已取消"},
      {EDQUOT, "超出磁盘限额"},        {ESTALE, "文件句柄已失效"},       {ENXIO, "没有那个设备或地址"},
      {ETIMEDOUT, "超时"},             {EINTR, "被中断"},                {ENOEXEC, "不是可执行的程序"},
      {E2BIG, "参数过长"},             {ENOTCONN, "连接已断开"},         {EHOSTDOWN, "主机已关闭"},
  };
  for (const auto& [number, text] : kSystem)
    if (number == error) return text;
  return "系统错误 " + std::to_string(error);
}

int OpenRegularFile(int dirfd, const char* name, bool followLinks, struct stat* st) {
  int nofollow = followLinks ? 0 : O_NOFOLLOW;
  int path = ::openat(dirfd, name, O_PATH | O_CLOEXEC | nofollow);
  if (path < 0) return -1;
  struct stat own {};
  if (!st) st = &own;
  if (::fstat(path, st) != 0 || !S_ISREG(st->st_mode)) {
    int error = S_ISLNK(st->st_mode) ? ELOOP : kNotRegularFile;
    ::close(path);
    errno = error;
    return -1;
  }
  // Reopening the inode already checked leaves no moment in which another
  // kind of file could be swapped in under the name.
  std::string self = "/proc/self/fd/" + std::to_string(path);
  int fd = ::open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  int error = errno;
  if (fd < 0 && error == ENOENT) {
    // No /proc: open by name without blocking, and make sure it is the same file.
    fd = ::openat(dirfd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | nofollow);
    struct stat again {};
    if (fd >= 0 && (::fstat(fd, &again) != 0 || again.st_ino != st->st_ino || again.st_dev != st->st_dev)) {
      ::close(fd);
      fd = -1;
      error = kNotRegularFile;
    } else {
      error = errno;
    }
  }
  ::close(path);
  if (fd < 0) errno = error;
  return fd;
}

bool WriteAllBytes(int fd, std::string_view bytes, std::size_t* written) {
  std::size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (written) *written = done;
  return ok;
}

namespace {

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

constexpr std::string_view kNameChars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::size_t kRandomChars = 8;

}  // namespace

std::string OwnTemporaryName() {
  thread_local std::mt19937 random{std::random_device{}()};
  std::string name(kOwnTemporaryPrefix);
  for (std::size_t i = 0; i < kRandomChars; ++i) name += kNameChars[random() % kNameChars.size()];
  return name;
}

bool IsOwnTemporaryName(std::string_view name) {
  if (name.size() != kOwnTemporaryPrefix.size() + kRandomChars || name.substr(0, kOwnTemporaryPrefix.size()) != kOwnTemporaryPrefix)
    return false;
  for (char c : name.substr(kOwnTemporaryPrefix.size()))
    if (kNameChars.find(c) == std::string_view::npos) return false;
  return true;
}

bool NamesOwnTemporary(std::string_view path) {
  std::size_t slash = path.rfind('/');
  return IsOwnTemporaryName(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

int CreateOwnTemporary(int dirFd, std::string& name, int flags, mode_t mode) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = OwnTemporaryName();
    int fd = ::openat(dirFd, name.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      // Where the file system keeps no locks the file is simply not known
      // to be live; start-up then leaves alone only what is locked.
      ::flock(fd, LOCK_EX | LOCK_NB);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes) {
  mode_t mode = 0644;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;

  int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  std::string temp;
  int fd = CreateOwnTemporary(dir, temp, O_WRONLY, 0600);
  if (fd < 0) {
    int saved = errno;
    ::close(dir);
    errno = saved;
    return false;
  }
  bool ok = WriteAllBytes(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  int saved = errno;
  ok = (::close(fd) == 0) && ok;
  if (ok && ::renameat(dir, temp.c_str(), AT_FDCWD, path.c_str()) == 0) {
    ::fsync(dir);
    ::close(dir);
    return true;
  }
  if (ok) saved = errno;
  ::unlinkat(dir, temp.c_str(), 0);
  ::close(dir);
  errno = saved;
  return false;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, std::size_t maxBytes) {
  bytes.clear();
  struct stat st {};
  int fd = OpenRegularFile(AT_FDCWD, path.c_str(), true, &st);
  if (fd < 0) return false;
  if (static_cast<std::size_t>(st.st_size) > maxBytes) {
    ::close(fd);
    errno = kFileTooLarge;
    return false;
  }
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int error = errno;
      ::close(fd);
      errno = error;
      return n == 0;
    }
    // Files whose size the kernel does not know (/proc) are still bounded.
    if (bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
      ::close(fd);
      errno = kFileTooLarge;
      return false;
    }
    bytes.append(buf, static_cast<std::size_t>(n));
  }
}

std::size_t RemoveStaleTemporaries(const std::string& dir) {
  int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return 0;
  DIR* d = ::fdopendir(dirFd);
  if (!d) {
    ::close(dirFd);
    return 0;
  }
  std::size_t removed = 0;
  while (dirent* e = ::readdir(d)) {
    if (!IsOwnTemporaryName(e->d_name)) continue;
    struct stat st {};
    int fd = OpenRegularFile(dirFd, e->d_name, false, &st);
    if (fd < 0) continue;
    // Locked: a copy of the program still writes it.
    if (st.st_uid == ::geteuid() && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      struct stat now {};
      if (::fstatat(dirFd, e->d_name, &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_ino == st.st_ino &&
          now.st_dev == st.st_dev && ::unlinkat(dirFd, e->d_name, 0) == 0)
        ++removed;
    }
    ::close(fd);
  }
  ::closedir(d);
  return removed;
}

}  // namespace vantrel
