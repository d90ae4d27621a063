#pragma once
// Everything between the kernel and what a person sees: the change source,
// decoding, the filter and repeat test, the event list with its colours, the
// log, the rules with data.jl, matching, the action queue with its memory of
// our own changes, and the settings with config.ini. A face (the window, the
// headless program) shows it and drives it: it calls Work on its own thread
// whenever one of WakeFds is readable or NextDeadline has come, and hears of
// what happened through EngineFace, on that same thread, in order.
#include "engine/CatchUp.h"
#include "engine/RuleStore.h"
#include "engine/Settings.h"
#include "log/EventList.h"
#include "log/EventLog.h"
#include "log/ListColourStore.h"
#include "log/LogOutput.h"
#include "monitor/ChangeSource.h"
#include "monitor/EventFilter.h"
#include "monitor/SourceReport.h"
#include "platform/Waker.h"
#include "rules/ActionQueue.h"
#include "time/Timing.h"

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace vantrel {

enum class PromptKind {
  Event,  // a listed change, while prompts are on
  Info,   // the answer to the user's own command
  Error,  // something failed or was lost: shown whatever the settings
  // A rule's action failed (its row says so too): shown whatever the
  // settings, and a burst of them may come at once.
  ActionFailed,
};

// What the engine tells its face. Every member may be left empty.
struct EngineFace {
  std::function<void()> rowsAppended;
  std::function<void()> rowsRecoloured;
  std::function<void(const std::string& title, const std::string& text, PromptKind kind)> prompt;
  // A question; a face that cannot ask takes the default answer.
  std::function<bool(const std::string& caption, const std::string& question, bool defaultAnswer)> ask;
  // An action was done (its row is appended too): the report's text.
  std::function<void(const std::string& report)> actionReported;
  // The change source lost changes (its notice is appended too).
  std::function<void(const std::string& text)> sourceReported;
  // Settings changed other than through the face's own command (a mode box
  // switches its partner, the file was read again).
  std::function<void()> settingsChanged;
};

class Engine : private DispatchHost, private EventLogHost {
 public:
  using SourceFactory =
      std::function<std::unique_ptr<ChangeSource>(const std::vector<std::string>& roots, std::string& error)>;
  struct Options {
    std::string home;
    WatchBackend backend = WatchBackend::Auto;
    // Tests give a source of their own; otherwise the backend decides.
    SourceFactory sourceFactory;
    // Every record also to standard error.
    bool console = false;
    // Rows kept in memory (0: all). A face that shows no list keeps few;
    // the repeat test only ever looks at the current second's rows.
    std::size_t rowLimit = 0;
    // The time the engine waits by and writes (tests give one they move).
    const vantrel::Clock* clock = &vantrel::Clock::System();
    // Told once the log is open (where the program's files went).
    std::string startNotice = {};
    // Every action recorded in the home's journal.txt, to be taken back
    // (off only for measuring what the journal costs).
    bool journal = true;
  };
  // How long one turn of Work may take before the face's loop gets a say.
  static constexpr std::chrono::milliseconds kSlice = timing::kTurn;

  Engine(Options options, EngineFace face);
  ~Engine() override;
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // The change source; false, with the reason, when none can run.
  bool StartSource(std::string& error);
  // The change source said it sees nothing any more.
  bool SourceEnded() const { return sourceEnded_; }
  // The rest of the start: the log file, leftovers of interrupted saves and
  // copies, the settings, the rules, and what the last run left undone.
  void Start();
  // The program ends: the copy in hand is given up, everything done gets its
  // row and record, changes still on their way are listed, and what never
  // began is written to the log as not done (the next start tells how many).
  void Stop();

  // Raised (readable) when Work has something to do.
  std::vector<platform::WaitHandle> WakeFds() const;
  // How long until something is due on the engine's clock (gathered losses
  // to tell), never less than nothing; nothing when nothing is.
  std::optional<std::chrono::milliseconds> NextDeadline() const;
  // Does what waits, for about the given time; true when more remains.
  bool Work(std::chrono::milliseconds budget = kSlice);
  // Takes whatever the source has now and handles all of it; for tests.
  void DrainSource();
  // The changes the engine holds, handled or not; for tests.
  std::size_t ChangesHeld() const { return taken_.size(); }
  // Blocks until every action asked for so far is done and listed.
  void FinishPendingActions();
  // One change, as if from the source.
  void OnChangeNotification(const ChangeNotification& n);
  void SetEventObserver(std::function<void(const ChangeEvent&)> observer) { observer_ = std::move(observer); }

  const std::string& Home() const { return options_.home; }
  EventList& Events() { return events_; }
  const ListColourStore& Colours() const { return colours_; }
  ListColourStore& Colours() { return colours_; }
  EventLog& Log() { return *eventLog_; }
  LogOutput& LogFile() { return *log_; }
  RuleStore& Rules() { return rules_; }
  const RuleStore& Rules() const { return rules_; }
  const Settings& CurrentSettings() const { return settings_.Get(); }
  SettingsStore& SettingsFile() { return settings_; }
  ChangeSource* Source() { return source_.get(); }
  const ChangeSource* Source() const { return source_.get(); }
  std::string LastActionTarget() const;
  // The folders a per-folder source must watch in the current mode; the
  // rules' paths whose drive is not there go to waiting.
  std::vector<std::string> WatchRoots(std::vector<std::string>* waiting = nullptr) const;

  // The user's commands. Each setting is written at once; a failed write is
  // told.
  void SetType(TypeBox box, bool on);
  void SetPrompts(bool on);
  void SetSaveLog(bool on);
  void SetWholeDisk(bool on);
  void SetCustomPath(bool on);
  void SetColour(const char* key, std::uint32_t colour);
  void SaveWindowSize(int width, int height);
  // False with the reason when the file could not be written.
  bool ExportList(const std::string& path, std::string& error);
  // Whether a row of the event list tells a finished copy or move of a file
  // that the journal can take back, and taking it back: the take-back gets
  // a row and a record of its own, and says what it did or why not.
  bool CanTakeBack(std::size_t row) const;
  TakeBackResult TakeBackRow(std::size_t row);
  void ClearEvents();
  // config.ini changed under the program.
  void SettingsFilesChanged();
  // data.jl and config.ini as they are on disk now.
  void Reload();
  // An action's row and record, as the action queue reports them.
  void LogAction(const ActionOutcome& outcome);

 private:
  // DispatchHost
  bool TypeBoxTicked(TypeBox box) const override;
  bool CustomPathMode() const override;
  const std::string& ProgramDirectory() const override { return options_.home; }
  bool InLastActionTarget(const std::string& path) const override;
  std::size_t MonitoredPathCount() const override { return rules_.Rules().size(); }
  const std::string& MonitoredPathAt(std::size_t row) const override { return rules_.Rules()[row].monitoredPath; }
  bool RowListed(std::string_view time, std::string_view eventName, std::string_view path) const override;
  // What becomes of an event the filter lets through: its row, then the
  // rules' jobs.
  void AddEventRow(const std::string& name, EventKind kind, const std::string& path, const std::string& newPath);
  void MatchRules(const std::string& path, EventKind kind, const std::string& name, const std::string& newPath);
  // EventLogHost
  bool PromptsOn() const override { return settings_.Get().prompts; }
  bool SaveLogOn() const override { return settings_.Get().saveLog; }
  const vantrel::SettingsFile& Config() const override { return settings_.Config(); }
  void ShowPrompt(const std::string& title, const std::string& text) override;
  void ShowErrorPrompt(const std::string& title, const std::string& text) override;
  void RowsAppended() override;
  void RowsRecoloured() override;

  struct ActionReport {
    enum Kind { Row, Error, Notice } kind;
    std::string text;    // the prompt's or notice's title
    std::string detail;  // the prompt's or notice's text
    ActionOutcome outcome = {};  // the row's
  };
  // Called on the queue's thread.
  void PostActionReport(ActionReport report);
  // Lists what was posted until the deadline; false when there was nothing.
  bool TakeActionReports(Clock::time_point deadline);
  bool TakeChanges(Clock::time_point deadline);
  void OnSourceReport(const SourceReport& report);
  void TellLosses(const std::optional<std::string>& text);
  void UpdateWatchRoots();
  void LoadSettings();
  void TellActionsNotDoneLastTime();
  // Actions a kill or a crash cut short, from the journal.
  void TellUnfinishedActions();
  // What changed in the rules' folders while the program was not running:
  // listed as found at start, and acted on as the settings say.
  void CatchUp();
  std::vector<std::string> CatchUpFolders() const;
  void SaveSeenFolders();
  // After changes were lost: the folders compared with what was last seen.
  void CatchUpAfterLoss();
  void KeepSeen(const SeenRecord& record, std::vector<std::string> folders);
  // What was last seen, kept as listed changes come.
  void NoteSeen(const ChangeEvent& event);
  // Lists what differs, and acts on it as 启动时补做 says.
  void ActOnMissed(const SeenRecord& before, const SeenRecord& now, bool afterLoss);
  void Prompt(const std::string& title, const std::string& text, PromptKind kind);
  void Tell(bool written);

  Options options_;
  EngineFace face_;
  SettingsStore settings_;
  RuleStore rules_;
  EventList events_;
  ListColourStore colours_;
  std::unique_ptr<LogOutput> log_;
  std::unique_ptr<EventLog> eventLog_;
  std::unique_ptr<ChangeSource> source_;
  std::vector<ChangeNotification> taken_;
  std::size_t next_ = 0;
  // Rules fire here, in the order of their events; their actions run on the
  // queue's own thread.
  // Before the queue, which writes to it until it ends.
  std::unique_ptr<ActionJournal> journal_;
  std::unique_ptr<ActionQueue> actions_;
  platform::Waker reportsWaker_;
  std::mutex reportsMutex_;
  std::vector<ActionReport> postedReports_;
  std::deque<ActionReport> takenReports_;
  std::int32_t currentEventPid_ = 0;
  LossNotices losses_;
  std::function<void(const ChangeEvent&)> observer_;
  bool stopped_ = false;
  // The rules' folders as last looked at, kept as changes are listed.
  std::unordered_map<std::string, SeenItem> seen_;
  std::vector<std::string> seenFolders_;
  std::int64_t seenSinceMs_ = 0;
  bool catchUpDue_ = false;
  bool sourceEnded_ = false;
  // The rules' paths told to wait for their drive.
  std::set<std::string> toldWaiting_;
};

}  // namespace vantrel
