#include "platform/Error.h"

#include <cerrno>
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
    case kOtherSystemError:
      return "系统错误";
    case kLinkNotCopied:
      return "是一个链接(重解析点),不复制";
    case kWritersUnknown:
      return "无法确定源文件是否仍在被写入";
    case kChangedSince:
      return "此后已被改变";
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
    {ENXIO, "没有那个设备或地址"},   {ETIMEDOUT, "超时"},              {EINTR, "被中断"},
    {ENOEXEC, "不是可执行的程序"},   {E2BIG, "参数过长"},              {ENOTCONN, "连接已断开"},
#ifdef EDQUOT
    {EDQUOT, "超出磁盘限额"},
#endif
#ifdef ESTALE
    {ESTALE, "文件句柄已失效"},
#endif
#ifdef EHOSTDOWN
    {EHOSTDOWN, "主机已关闭"},
#endif
  };
  for (const auto& [number, text] : kSystem)
    if (number == error) return text;
  return "系统错误 " + std::to_string(error);
}

namespace platform {

std::string Error::Text() const {
  if (code != kOtherSystemError) return FileErrorText(code);
  std::string words = NativeErrorText(native);
  return "系统错误 " + std::to_string(native) + (words.empty() ? "" : ": " + words);
}

}  // namespace platform
}  // namespace vantrel
