#include "monitor/SourceReport.h"
#include "time/Timing.h"

namespace vantrel {

std::string SourceReportText(const SourceReport& r) {
  const std::string n = std::to_string(r.count);
  switch (r.kind) {
    case SourceReport::QueueOverflow:
      return (r.count > 1 ? "内核的变动队列溢出 " + n + " 次" : std::string("内核的变动队列溢出")) +
             ", 部分变动未被看到" + (r.detail.empty() ? "" : "; " + r.detail);
    case SourceReport::NoPath:
      return n + " 个变动所在的文件夹在读取前已被删除, 无法得到路径, 未列出";
    case SourceReport::PathTooLong:
      return n + " 个变动的路径超过系统的长度上限, 无法列出" + (r.detail.empty() ? "" : " (如 " + r.detail + ")");
    case SourceReport::WatchLimit:
      return "inotify 监视数量已达上限 (fs.inotify.max_user_watches = " + r.detail +
             "), 更多文件夹中的变动无法看到; 可用 sysctl fs.inotify.max_user_watches=1048576 提高上限";
    case SourceReport::SourceEnded:
      return "监控已停止, 此后的变动无法看到" + (r.detail.empty() ? "" : ": " + r.detail);
    case SourceReport::WatchChanged:
      return r.detail;
    case SourceReport::RightsChanged:
      return n + " 个变动所在的文件夹随即改了权限或位置, 无法确定变动时你能否看到它们, 未列出";
    case SourceReport::kKinds:
      break;
  }
  return {};
}

std::optional<std::string> LossNotices::Add(const SourceReport& report, time_point now) {
  counts_[report.kind] += report.count;
  if (!report.detail.empty()) details_[report.kind] = report.detail;
  anyWaiting_ = true;
  return Take(now);
}

std::optional<LossNotices::time_point> LossNotices::Due() const {
  if (!anyWaiting_) return std::nullopt;
  return toldAt_ ? *toldAt_ + timing::kNoticeInterval : time_point{};
}

std::optional<std::string> LossNotices::Take(time_point now) {
  if (!anyWaiting_ || (toldAt_ && now < *toldAt_ + timing::kNoticeInterval)) return std::nullopt;
  std::string text;
  for (int kind = 0; kind < SourceReport::kKinds; ++kind) {
    if (!counts_[kind]) continue;
    if (!text.empty()) text += "; ";
    text += SourceReportText({static_cast<SourceReport::Kind>(kind), counts_[kind], details_[kind]});
    counts_[kind] = 0;
  }
  anyWaiting_ = false;
  toldAt_ = now;
  return text;
}

}  // namespace vantrel
