#include "monitor/Decode.h"

#include "text/PathRoutines.h"

#include <array>
#include <utility>

namespace vantrel {

std::string DecodeEventName(std::uint32_t code) {
  static constexpr std::array<std::pair<std::uint32_t, const char*>, 25> kNames{{
      {SHCNE_RENAMEITEM, "重命名文件"},
      {SHCNE_CREATE, "新建文件"},
      {SHCNE_DELETE, "删除文件"},
      {SHCNE_MKDIR, "新建目录"},
      {SHCNE_RMDIR, "删除目录"},
      {SHCNE_MEDIAINSERTED, "插入可移动存储介质"},
      {SHCNE_MEDIAREMOVED, "移除可移动存储介质"},
      {SHCNE_DRIVEREMOVED, "移除驱动"},
      {SHCNE_DRIVEADD, "创建驱动"},
      {SHCNE_NETSHARE, "改变目录共享属性"},
      {SHCNE_NETUNSHARE, "目录不共享"},
      {SHCNE_ATTRIBUTES, "文件属性改变"},
      {SHCNE_UPDATEDIR, "更新目录"},
      {SHCNE_UPDATEITEM, "更新文件"},
      {SHCNE_SERVERDISCONNECT, "计算机与服务器断开连接"},
      {SHCNE_UPDATEIMAGE, "系统映像更改"},
      {SHCNE_DRIVEADDGUI, "SHCNE_DRIVEADDGUI（XP及以后系统未使用）"},
      {SHCNE_RENAMEFOLDER, "重命名目录"},
      {SHCNE_FREESPACE, "磁盘空间大小改变"},
      {SHCNE_EXTENDED_EVENT, "SHCNE_EXTENDED_EVENT（当前未使用）"},
      {SHCNE_ASSOCCHANGED, "文件关联改变"},
      {SHCNE_DISKEVENTS, "磁盘事件"},
      {SHCNE_GLOBALEVENTS, "全局事件"},
      {SHCNE_ALLEVENTS, "所有事件"},
      {SHCNE_INTERRUPT, "系统中断"},
  }};
  for (const auto& [value, name] : kNames)
    if (value == code) return name;
  return {};
}

std::string ItemDisplayName(std::string_view item) {
  if (!IsAbsolutePath(item)) return {};
  while (item.size() > 1 && IsPathSeparator(item.back())) item.remove_suffix(1);
  const std::size_t slash = LastSeparator(item);
  // A root names itself ("/", or "C:" of "C:\").
  if (slash == std::string_view::npos || slash + 1 == item.size()) return std::string(item);
  return std::string(item.substr(slash + 1));
}

std::string ItemPath(std::string_view item) {
  if (!IsAbsolutePath(item)) return {};
  return std::string(item);
}

std::optional<ChangeEvent> DecodeNotification(const ChangeNotification& n) {
  ChangeEvent event;
  event.code = n.code;
  event.kind = KindOfCode(n.code);
  event.pid = n.pid;
  if (n.item1) {
    event.name = ItemDisplayName(*n.item1);
    if (event.name.empty()) return std::nullopt;
    event.path = ItemPath(*n.item1);
  }
  // An item 2 equal to item 1 is the same item: the notification carries one.
  if (n.item2 && !(n.item1 && *n.item1 == *n.item2)) {
    event.name = ItemDisplayName(*n.item2);
    if (event.name.empty()) return std::nullopt;
    event.newPath = ItemPath(*n.item2);
  }
  return event;
}

}  // namespace vantrel
