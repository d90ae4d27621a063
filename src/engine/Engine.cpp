#include "engine/Engine.h"

#include "engine/CatchUp.h"
#include "monitor/WatchRoots.h"
#include "rules/RulePath.h"

#include "engine/ProgramDir.h"
#include "platform/ThisProcess.h"
#include "log/FormatTime.h"
#include "monitor/Decode.h"
#include "monitor/WatchRoots.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/IniFile.h"
#include "text/PathRoutines.h"
#include "text/TextRules.h"

#include <algorithm>
#include <cerrno>
#include <set>
#include <thread>

namespace vantrel {

Engine::Engine(Options options, EngineFace face)
    : options_(std::move(options)),
      face_(std::move(face)),
      settings_(JoinPath(options_.home, "config.ini")),
      rules_(JoinPath(options_.home, "data.jl"),
             RuleStore::Host{[this] { return settings_.Get().CustomPathMode(); },
                             [this] { return settings_.Get().wholeDisk; },
                             [this](const std::string& title, const std::string& text, bool error) {
                               Prompt(title, text, error ? PromptKind::Error : PromptKind::Info);
                             },
                             [this](const std::string& caption, const std::string& question) {
                               return face_.ask ? face_.ask(caption, question, false) : false;
                             },
                             [this] { UpdateWatchRoots(); }}),
      log_(std::make_unique<LogOutput>(options_.home, *options_.clock)),
      eventLog_(std::make_unique<EventLog>(events_, colours_, *log_, static_cast<EventLogHost&>(*this))) {
  // config.ini is read once and then trusted: our own writes update what was
  // read, and the face tells of anybody else's (a watch on the file, SIGHUP),
  // so that a row's colours ask the disk nothing.
  settings_.Config().ReportChanges(true);
  eventLog_->SetConsoleMirror(options_.console);
  // Reports of the actions come back on the face's thread, in order.
  actions_ = std::make_unique<ActionQueue>(ActionOutputs{
      [this](const ActionOutcome& outcome) { PostActionReport({ActionReport::Row, {}, {}, outcome}); },
      [this](const std::string& title, const std::string& text) { PostActionReport({ActionReport::Error, title, text}); },
      [this](const std::string& type, const std::string& text) { PostActionReport({ActionReport::Notice, type, text}); }},
      *options_.clock);
  journal_ = std::make_unique<ActionJournal>(JoinPath(options_.home, "journal.txt"));
  if (options_.journal) actions_->SetJournal(journal_.get());
}

Engine::~Engine() {
  Stop();
}

bool Engine::StartSource(std::string& error) {
  if (source_) return true;
  settings_.Load();
  if (options_.sourceFactory) {
    source_ = options_.sourceFactory(WatchRoots(), error);
  } else {
    source_ = StartChangeSource(options_.backend, WatchRoots(), error);
  }
  return source_ != nullptr;
}

void Engine::Start() {
  // The day of start-up names the log folder for the whole run.
  log_->SetLogFile(JoinPath(JoinPath(options_.home, "log"), FormatTime(options_.clock->Local(), 3, 1, 2)), "log.txt");
  // What saves cut short by a kill left behind; ours alone, by their names.
  RemoveStaleTemporaries(options_.home);
  if (!options_.startNotice.empty()) eventLog_->LogNotice("提示", options_.startNotice);
  actions_->SetLastActionTarget(options_.home);
  LoadSettings();
  TellActionsNotDoneLastTime();
  TellUnfinishedActions();
  CatchUp();
}

namespace {

// How many items of the rules' folders the record keeps: beyond it the rest
// goes unseen, and the record says it is not whole.
constexpr std::size_t kSeenLimit = 1000000;
constexpr const char* kSeenFile = "seen.txt";

}  // namespace

std::vector<std::string> Engine::CatchUpFolders() const {
  // The whole disk is not walked: only the rules' own folders, in either mode.
  std::vector<std::string> folders;
  for (const MonitorRule& rule : rules_.Rules()) {
    if (!rule.enabled || WhyRuleNeverActs(rule)) continue;
    const std::string folder(SplitRulePath(rule.monitoredPath).folder);
    if (IsAbsolutePath(folder) && IsDirectoryPath(folder)) folders.push_back(folder);
  }
  return NormaliseRoots(std::move(folders));
}

void Engine::SaveSeenFolders() {
  const std::vector<std::string> folders = CatchUpFolders();
  if (!folders.empty()) SaveSeen(JoinPath(options_.home, kSeenFile), LookAt(folders, kSeenLimit));
}

void Engine::KeepSeen(const SeenRecord& record, std::vector<std::string> folders) {
  seen_.clear();
  for (const SeenItem& item : record.items) seen_.emplace(item.path, item);
  seenFolders_ = std::move(folders);
  seenSinceMs_ = record.savedMs;
}

void Engine::CatchUp() {
  const std::vector<std::string> folders = CatchUpFolders();
  if (folders.empty()) return;
  const std::string file = JoinPath(options_.home, kSeenFile);
  std::optional<SeenRecord> before = LoadSeen(file);
  SeenRecord now = LookAt(folders, kSeenLimit);
  // At once: what a crash later cuts short is not told again.
  SaveSeen(file, now);
  KeepSeen(now, folders);
  if (!before) return;
  // Only what lies in today's folders: a folder a rule took up since has no
  // past to compare.
  std::erase_if(before->items, [&](const SeenItem& item) {
    return std::none_of(folders.begin(), folders.end(), [&](const std::string& f) { return PathWithin(item.path, f); });
  });
  ActOnMissed(*before, now, false);
}

void Engine::CatchUpAfterLoss() {
  catchUpDue_ = false;
  if (seenFolders_.empty()) return;
  // What was last seen, kept as the changes came: what differs now is what
  // the lost changes would have told.
  SeenRecord before;
  before.savedMs = seenSinceMs_;
  before.items.reserve(seen_.size());
  // In no order: Compare puts it in path order.
  for (const auto& [path, item] : seen_) before.items.push_back(item);
  SeenRecord now = LookAt(seenFolders_, kSeenLimit);
  KeepSeen(now, seenFolders_);
  ActOnMissed(before, now, true);
}

void Engine::NoteSeen(const ChangeEvent& event) {
  if (seenFolders_.empty()) return;
  auto inFolders = [&](const std::string& path) {
    return std::any_of(seenFolders_.begin(), seenFolders_.end(), [&](const std::string& f) { return PathWithin(path, f); });
  };
  auto forgetBelow = [&](const std::string& folder) {
    std::erase_if(seen_, [&](const auto& entry) { return PathWithin(entry.first, folder); });
  };
  // One look at the item itself, as the walk looks at each.
  auto look = [&](const std::string& path) {
    if (!inFolders(path)) return;
    bool isFolder = false;
    if (std::optional<platform::FileStamp> stamp = platform::StampOfItem(path, isFolder)) {
      seen_[path] = SeenItem{path, isFolder, *stamp};
    } else {
      seen_.erase(path);
    }
  };
  if (IsRemovalKind(event.kind)) {
    seen_.erase(event.path);
    if (IsFolderKind(event.kind)) forgetBelow(event.path);
  } else if (IsRenameKind(event.kind) && !event.newPath.empty()) {
    // What was below a folder is below its new name now; a file has
    // nothing below it, and the whole record is not gone through for it.
    std::vector<SeenItem> moved;
    for (auto it = seen_.begin(); IsFolderKind(event.kind) && it != seen_.end();) {
      if (PathWithin(it->first, event.path) && it->first != event.path) {
        moved.push_back(std::move(it->second));
        it = seen_.erase(it);
      } else {
        ++it;
      }
    }
    seen_.erase(event.path);
    for (SeenItem& item : moved) {
      item.path = event.newPath + item.path.substr(event.path.size());
      if (inFolders(item.path)) seen_[item.path] = std::move(item);
    }
    look(event.newPath);
  } else {
    look(event.path);
  }
}

void Engine::ActOnMissed(const SeenRecord& before, const SeenRecord& now, bool afterLoss) {
  const std::vector<MissedChange> changes = Compare(before, now);
  if (changes.empty()) return;
  const std::string mode = settings_.Config().Read("监控设置", "启动时补做", "询问");
  bool act = mode == "总是";
  const std::string when = afterLoss ? "变动丢失后重新查看时" : "程序未运行时";
  if (mode != "总是" && mode != "从不" && face_.ask)
    act = face_.ask("提示", when + ", 规则的文件夹中有 " + std::to_string(changes.size()) +
                               " 个变动。是否按规则处理? (否: 只列出)", false);
  // Nothing twice: what an action of the journal took since the last look
  // was handled already, and what the user took back stays as it is.
  std::set<std::string> handled;
  for (const JournalEntry& e : journal_->Entries()) {
    if (e.beganMs >= before.savedMs) handled.insert(PathKey(e.source));
    if (e.takenBackMs >= before.savedMs) {
      handled.insert(PathKey(e.source));
      handled.insert(PathKey(e.target));
      for (const JournalItem& item : e.items) handled.insert(PathKey(item.path));
    }
  }
  const std::string mark = afterLoss ? " 【重新查看发现】" : " 【启动时发现】";
  for (const MissedChange& change : changes) {
    const std::string name = PathFileName(change.newPath.empty() ? change.path : change.newPath);
    eventLog_->AddEventRow(name + mark, change.kind, change.path, change.newPath);
    if (act && !handled.count(PathKey(change.path)) && !handled.count(PathKey(change.newPath)))
      MatchRules(change.path, change.kind, name, change.newPath);
  }
  const std::string title = afterLoss ? "重新查看发现" : "启动时发现";
  eventLog_->LogNotice(title, when + "规则的文件夹中有 " + std::to_string(changes.size()) + " 个变动, " +
                                  (act ? "已按规则处理" : "只列出, 规则未执行") +
                                  (before.complete && now.complete ? "" : " (文件夹过大, 只比较了一部分)"));
}

namespace {

// The journal's entry for the action an event list row tells: the newest
// finished copy or move that made the row's target.
std::optional<JournalEntry> EntryOfRow(const EventList& events, const ActionJournal& journal, std::size_t row) {
  if (row >= events.RowCount() || events.Cell(row, 1) != EventLog::kActionMark) return std::nullopt;
  const Operation operation = OperationOfWord(events.Cell(row, 2));
  if (operation != Operation::Copy && operation != Operation::Move && operation != Operation::Delete)
    return std::nullopt;
  // A copy's or move's row names what it made; a deletion's what it deleted.
  const std::string shown = PathKey(events.Cell(row, 3));
  std::vector<JournalEntry> entries = journal.Entries();
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const std::string& named = operation == Operation::Delete ? it->source : it->target;
    if (it->operation == operation && PathKey(named) == shown)
      return CanBeTakenBack(*it) ? std::optional(std::move(*it)) : std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

bool Engine::CanTakeBack(std::size_t row) const { return EntryOfRow(events_, *journal_, row).has_value(); }

TakeBackResult Engine::TakeBackRow(std::size_t row) {
  const std::optional<JournalEntry> entry = EntryOfRow(events_, *journal_, row);
  if (!entry) return {false, "此行的操作无法撤销: 只有完成的文件复制、移动和删除到回收站的项目可以撤销, 且只撤销一次"};
  std::vector<ActionChange> changes;
  TakeBackResult result = TakeBack(*entry, [&changes](const ActionChange& c) { changes.push_back(c); });
  // What comes back into a rule's folder must not set the rule off again.
  if (actions_) actions_->RememberOwn(changes);
  if (result.done) journal_->TakenBack(entry->seq);
  eventLog_->LogAction(result.done ? "撤销" : "撤销失败", result.text, !result.done);
  for (const std::string& item : result.left) eventLog_->LogAction("撤销失败", item, true);
  return result;
}

void Engine::TellUnfinishedActions() {
  const std::vector<JournalEntry> unfinished = journal_->Recover();
  if (unfinished.empty()) return;
  // One notice, however many: the journal keeps each.
  const JournalEntry& last = unfinished.back();
  std::string text = "上次运行时有 " + std::to_string(unfinished.size()) + " 个操作被中断, 未完成, 如 " +
                     std::string(OperationWord(last.operation)) + " " + last.source;
  if (!last.target.empty()) text += " → " + last.target;
  eventLog_->LogNotice("未完成", text);
}

void Engine::LoadSettings() {
  if (int error = settings_.Load()) {
    Prompt("提示:",
           "无法读取设置文件 " + settings_.File() + " (" + FileErrorText(error) + "), 使用默认设置, 文件保持原样。",
           PromptKind::Error);
  }
  if (face_.settingsChanged) face_.settingsChanged();
  rules_.Load();
  // Copies a kill cut short in the rules' target folders.
  std::set<std::string> targets;
  for (const MonitorRule& rule : rules_.Rules()) {
    const Operation operation = OperationOf(rule.actionText);
    if (operation == Operation::Copy || operation == Operation::Move) targets.insert(Operand(rule.actionText));
  }
  targets.erase(std::string());
  // Off this thread, and never waited for: a target on a mount that stops
  // answering must hold up neither the rules nor quitting. A live copy's
  // temporary is locked, so the clean-up may run beside the actions.
  if (!targets.empty())
    std::thread([targets = std::move(targets)] {
      for (const std::string& target : targets) RemoveStaleTemporaries(target);
    }).detach();
  UpdateWatchRoots();
}

void Engine::Reload() {
  SettingsFilesChanged();
  LoadSettings();
}

void Engine::Stop() {
  if (stopped_ || !actions_) return;
  stopped_ = true;
  actions_->Stop();
  // Changes still on their way are listed; their rules no longer run.
  if (source_) {
    source_->Stop();
    DrainSource();
  }
  while (TakeActionReports(Clock::time_point::max())) {
  }
  std::vector<ActionJob> notDone = actions_->TakeNotDone();
  // What is there now, for the next start to compare with.
  SaveSeenFolders();
  for (const ActionJob& job : notDone)
    eventLog_->RecordNotice("未执行", std::string(EventKindName(job.kind)) + " " + EffectivePath(job.path, job.kind, job.itemName, job.newPath) +
                                          " (程序退出时规则尚未执行)");
  if (!notDone.empty()) settings_.Config().Write("上次退出", "未执行", std::to_string(notDone.size()));
  source_.reset();
}

void Engine::TellActionsNotDoneLastTime() {
  const std::string text = settings_.Config().Read("上次退出", "未执行", "0");
  // Only a count this program wrote is told; anything else (an edit, a
  // damaged file) is taken as absent and goes, rather than stay for ever.
  const bool plain = !text.empty() && text.size() <= 9 && text.find_first_not_of("0123456789") == std::string::npos;
  if (!plain) {
    settings_.Config().Write("上次退出", "未执行", std::nullopt);
    return;
  }
  const std::int64_t count = std::stoll(text);
  if (count <= 0) return;
  eventLog_->LogNotice("未执行", "上次退出时有 " + std::to_string(count) + " 个事件的规则尚未执行, 已记入日志 " +
                                     log_->Directory() + log_->FileName());
  settings_.Config().Write("上次退出", "未执行", "0");
}

// The face's loop.

std::vector<platform::WaitHandle> Engine::WakeFds() const {
  std::vector<platform::WaitHandle> handles{reportsWaker_.Handle()};
  if (source_) handles.push_back(source_->Queue().ReadyHandle());
  return handles;
}

std::optional<std::chrono::milliseconds> Engine::NextDeadline() const {
  const std::optional<Clock::time_point> due = losses_.Due();
  if (!due) return std::nullopt;
  return std::max(std::chrono::ceil<std::chrono::milliseconds>(*due - options_.clock->Now()),
                  std::chrono::milliseconds(0));
}

bool Engine::Work(std::chrono::milliseconds budget) {
  const Clock::time_point start = options_.clock->Now();
  // Thousands of small copies report faster than rows are made: a share of
  // the turn at a time, so that the face goes on answering in between.
  TakeActionReports(start + budget / 2);
  TakeChanges(start + budget);
  if (auto due = losses_.Due(); due && *due <= options_.clock->Now()) TellLosses(losses_.Take(options_.clock->Now()));
  std::lock_guard lock(reportsMutex_);
  return next_ < taken_.size() || !takenReports_.empty() || !postedReports_.empty();
}

void Engine::DrainSource() {
  if (!source_) return;
  while (TakeChanges(Clock::time_point::max()) && next_ < taken_.size()) {
  }
}

bool Engine::TakeChanges(Clock::time_point deadline) {
  if (!source_) return false;
  if (next_ == taken_.size()) {
    taken_.clear();
    next_ = 0;
  } else if (next_ * 2 >= taken_.size()) {
    // Changes that come faster than they are listed for a long while (a
    // copy of a whole disk) would otherwise keep every one already handled.
    taken_.erase(taken_.begin(), taken_.begin() + static_cast<std::ptrdiff_t>(next_));
    next_ = 0;
  }
  source_->Queue().TakeAll(taken_);
  for (const SourceReport& report : source_->Queue().TakeReports()) OnSourceReport(report);
  if (next_ == taken_.size()) {
    if (catchUpDue_) CatchUpAfterLoss();
    return false;
  }
  while (next_ < taken_.size()) {
    ChangeNotification n = std::move(taken_[next_++]);
    OnChangeNotification(n);
    if (options_.clock->Now() >= deadline) break;
  }
  if (catchUpDue_ && next_ == taken_.size()) CatchUpAfterLoss();
  return true;
}

void Engine::FinishPendingActions() {
  if (!actions_) return;
  actions_->WaitIdle();
  while (TakeActionReports(Clock::time_point::max())) {
  }
}

void Engine::PostActionReport(ActionReport report) {
  bool first;
  {
    std::lock_guard lock(reportsMutex_);
    first = postedReports_.empty();
    postedReports_.push_back(std::move(report));
  }
  if (first) reportsWaker_.Raise();
}

bool Engine::TakeActionReports(Clock::time_point deadline) {
  {
    std::lock_guard lock(reportsMutex_);
    reportsWaker_.Clear();
    for (ActionReport& r : postedReports_) takenReports_.push_back(std::move(r));
    postedReports_.clear();
  }
  if (takenReports_.empty()) return false;
  do {
    ActionReport r = std::move(takenReports_.front());
    takenReports_.pop_front();
    switch (r.kind) {
      case ActionReport::Row:
        LogAction(r.outcome);
        break;
      case ActionReport::Error:
        Prompt(r.text, r.detail, PromptKind::Error);
        break;
      case ActionReport::Notice:
        eventLog_->LogNotice(r.text, r.detail);
        break;
    }
  } while (!takenReports_.empty() && options_.clock->Now() < deadline);
  return true;
}

void Engine::LogAction(const ActionOutcome& outcome) {
  const bool failed = outcome.kind == ActionOutcome::Kind::Failed;
  eventLog_->LogAction(ActionOutcomeType(outcome), ActionOutcomeDetail(outcome), failed);
  // Why it failed, where the user looks: a row alone scrolls by unread.
  if (failed) Prompt(ActionOutcomeType(outcome), ActionOutcomeDetail(outcome), PromptKind::ActionFailed);
  if (face_.actionReported) face_.actionReported(ActionOutcomeText(outcome));
}

void Engine::OnSourceReport(const SourceReport& report) {
  if (face_.sourceReported) face_.sourceReported(SourceReportText(report));
  // Changes the kernel dropped, or a helper that went and came back: the
  // rules' folders are looked at again once what came before is listed.
  if (report.kind == SourceReport::QueueOverflow || report.kind == SourceReport::WatchChanged) catchUpDue_ = true;
  if (report.kind == SourceReport::SourceEnded) sourceEnded_ = true;
  // A turn in how changes are watched is news, not a loss to gather.
  if (report.kind == SourceReport::WatchChanged) {
    eventLog_->LogNotice("监控", SourceReportText(report));
    return;
  }
  TellLosses(losses_.Add(report, options_.clock->Now()));
}

void Engine::TellLosses(const std::optional<std::string>& text) {
  if (text) eventLog_->LogNotice("变动丢失", *text);
}

void Engine::OnChangeNotification(const ChangeNotification& n) {
  std::optional<ChangeEvent> event = DecodeNotification(n);
  if (!event) return;
  if (n.code == SHCNE_DRIVEADD || n.code == SHCNE_DRIVEREMOVED) UpdateWatchRoots();
  // A folder made or removed on the way to a rule's folder moves the watch
  // down to it, or back up.
  if (n.code == SHCNE_MKDIR || n.code == SHCNE_RMDIR || n.code == SHCNE_RENAMEFOLDER) {
    const std::string& folder = n.code == SHCNE_RENAMEFOLDER && n.item2 ? *n.item2 : event->path;
    const RuleList& rules = rules_.Rules();
    if (std::any_of(rules.begin(), rules.end(), [&](const MonitorRule& r) { return PathWithin(r.monitoredPath, folder); }))
      UpdateWatchRoots();
  }
  if (observer_) observer_(*event);
  std::int32_t outer = currentEventPid_;
  currentEventPid_ = n.pid;
  if (const std::optional<ChangeEvent> listed = DispatchChangeEvent(std::move(*event), *this, *options_.clock)) {
    NoteSeen(*listed);
    AddEventRow(listed->name, listed->kind, listed->path, listed->newPath);
    MatchRules(listed->path, listed->kind, listed->name, listed->newPath);
  }
  currentEventPid_ = outer;
}

std::vector<std::string> Engine::WatchRoots(std::vector<std::string>* waiting) const {
  auto whole = [] { return WholeDiskRoots(); };
  // With both boxes ticked the custom-path box decides.
  const Settings& s = settings_.Get();
  if (s.customPath || !s.wholeDisk) {
    std::vector<std::string> paths;
    for (const MonitorRule& rule : rules_.Rules()) paths.push_back(rule.monitoredPath);
    return CustomPathRoots(paths, GlobalPathMarker, whole, waiting);
  }
  return whole();
}

void Engine::UpdateWatchRoots() {
  if (!source_) return;
  std::vector<std::string> waiting;
  source_->SetRoots(WatchRoots(&waiting));
  // Told once while its drive is away, and again should it go once more.
  std::set<std::string> still;
  for (const std::string& path : waiting) {
    if (!toldWaiting_.count(path))
      eventLog_->LogNotice("监控", "监控路径 " + path + " 所在的驱动器不存在, 驱动器接入后开始监控");
    still.insert(path);
  }
  toldWaiting_ = std::move(still);
}

// What the filter and the event log read.

bool Engine::TypeBoxTicked(TypeBox box) const { return settings_.Get().types[box]; }

bool Engine::CustomPathMode() const { return settings_.Get().CustomPathMode(); }

std::string Engine::LastActionTarget() const { return actions_ ? actions_->LastActionTarget() : std::string(); }

bool Engine::InLastActionTarget(const std::string& path) const {
  return actions_ ? actions_->InLastActionTarget(path) : TextContains(path, std::string_view());
}

bool Engine::RowListed(std::string_view time, std::string_view eventName, std::string_view path) const {
  return events_.LatestSecondRepeats(time, eventName, path);
}

void Engine::AddEventRow(const std::string& name, EventKind kind, const std::string& path,
                         const std::string& newPath) {
  // A face that shows no list keeps few rows; the repeat test only asks
  // about the current second, so the list goes only when a second begins.
  if (options_.rowLimit && events_.RowCount() >= options_.rowLimit &&
      events_.Cell(events_.RowCount() - 1, 0) != FormatTime(options_.clock->Local(), 1, 0, 2)) {
    events_.Clear();
    colours_.Clear();
  }
  eventLog_->AddEventRow(name, kind, path, newPath);
}

void Engine::MatchRules(const std::string& path, EventKind kind, const std::string& name,
                        const std::string& newPath) {
  if (!actions_) return;
  ActionJob job;
  for (const MonitorRule& rule : rules_.Rules())
    if (RuleFires(rule, path, kind, name)) job.rules.push_back(rule);
  job.ours = currentEventPid_ != 0 && currentEventPid_ == platform::ThisProcessId();
  job.toTrash = settings_.Get().trashDeletions;
  // A job waiting for a file follows it when it is renamed (a download
  // given its name when done).
  if (IsRenameKind(kind)) actions_->Follow(path, EffectivePath(path, kind, name, newPath));
  if (!actions_->Wanted(job)) return;
  job.path = path;
  job.kind = kind;
  job.itemName = name;
  job.newPath = newPath;
  actions_->Submit(std::move(job));
}

void Engine::Prompt(const std::string& title, const std::string& text, PromptKind kind) {
  if (face_.prompt) face_.prompt(title, text, kind);
}

void Engine::ShowPrompt(const std::string& title, const std::string& text) { Prompt(title, text, PromptKind::Event); }

void Engine::ShowErrorPrompt(const std::string& title, const std::string& text) {
  Prompt(title, text, PromptKind::Error);
}

void Engine::RowsAppended() {
  if (face_.rowsAppended) face_.rowsAppended();
}

void Engine::RowsRecoloured() {
  if (face_.rowsRecoloured) face_.rowsRecoloured();
}

// Commands.

void Engine::Tell(bool written) {
  if (written) return;
  Prompt("提示:", "保存设置失败: " + settings_.File() + " (" + FileErrorText(errno) + ")", PromptKind::Error);
}

void Engine::SetType(TypeBox box, bool on) { Tell(settings_.SetType(box, on)); }

void Engine::SetPrompts(bool on) { Tell(settings_.SetPrompts(on)); }

void Engine::SetSaveLog(bool on) { Tell(settings_.SetSaveLog(on)); }

void Engine::SetWholeDisk(bool on) {
  Tell(settings_.SetWholeDisk(on));
  if (rules_.ChangeAllowed()) {
    if (!on) rules_.UntickGlobalPathRules();
    rules_.Save();
  }
  if (face_.settingsChanged) face_.settingsChanged();
  UpdateWatchRoots();
}

void Engine::SetCustomPath(bool on) {
  Tell(settings_.SetCustomPath(on));
  if (rules_.ChangeAllowed()) {
    if (on) rules_.UntickGlobalPathRules();
    rules_.Save();
  }
  if (face_.settingsChanged) face_.settingsChanged();
  UpdateWatchRoots();
}

void Engine::SetColour(const char* key, std::uint32_t colour) {
  Tell(settings_.SetColour(key, colour));
  eventLog_->RecolourRows();
}

void Engine::SaveWindowSize(int width, int height) { settings_.SetWindowSize(width, height); }

bool Engine::ExportList(const std::string& path, std::string& error) {
  if (WriteFileAtomically(path, Utf8ToGb18030(ExportText(events_)))) return true;
  error = FileErrorText(errno);
  return false;
}

void Engine::ClearEvents() {
  events_.Clear();
  colours_.Clear();
}

void Engine::SettingsFilesChanged() { settings_.Config().Changed(); }

}  // namespace vantrel
