#include "monitor/EventFilter.h"

#include "log/FormatTime.h"
#include "text/PathRoutines.h"
#include "text/TextRules.h"

namespace vantrel {

bool IsRepeatEvent(const std::string& eventName, const std::string& path, const DispatchHost& host) {
  std::string now = FormatTime(std::nullopt, 1, 0, 2);
  // One and the same row: three texts found in three different rows would
  // drop nearly every real change on a busy disk.
  return host.RowListed(now, eventName, path);
}

bool PathInCustomScope(const std::string& path, const DispatchHost& host) {
  for (std::size_t row = 0; row < host.MonitoredPathCount(); ++row)
    if (TextContains(path, host.MonitoredPathAt(row))) return true;
  return false;
}

bool DispatchChangeEvent(const ChangeEvent& event, DispatchHost& host) {
  if (!event.name.empty() && event.name.front() == '$') return false;
  if (!TextContains(kAcceptedEventNames, event.eventName)) return false;
  for (int i = 0; i < DispatchHost::kTypeBoxCount; ++i) {
    auto box = static_cast<DispatchHost::TypeBox>(i);
    if (TextContains(event.eventName, host.TypeBoxCaption(box)) && !host.TypeBoxTicked(box)) return false;
  }
  if (TextContains(event.eventName, host.TypeBoxCaption(DispatchHost::更新文件)) && IsDirectoryPath(event.path))
    return false;
  if (IsRepeatEvent(event.eventName, event.path, host)) return false;
  const std::string programDir = host.ProgramDirectory();
  if (TextContains(event.path, programDir)) return false;
  if (host.CustomPathMode()) {
    if (!PathInCustomScope(event.path, host)) return false;
  } else if (TextContains(event.path, host.LastActionTarget())) {
    return false;
  }
  host.AddEventRow(event.name, event.eventName, event.path);
  host.MatchRules(event.path, event.eventName, event.name);
  return true;
}

}  // namespace vantrel
