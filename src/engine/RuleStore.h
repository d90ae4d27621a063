#pragma once
// The rule list and its file, data.jl: the store of record that the
// matcher, the window's list and the editor all work on. Every change is
// saved at once; a file that exists but cannot be read is never replaced.
#include "rules/RuleFile.h"

#include <functional>
#include <string>
#include <vector>

namespace vantrel {

class RuleStore {
 public:
  // What the store asks of the engine around it.
  struct Host {
    std::function<bool()> customPathMode;
    std::function<bool()> wholeDiskMode;
    std::function<void(const std::string& title, const std::string& text, bool error)> prompt;
    std::function<bool(const std::string& caption, const std::string& question)> ask;
    // The monitored paths may have changed.
    std::function<void()> changed;
  };
  // Told before and after rows come or go, and after a row changed, so that
  // a view keeps its place (a row being edited stays the same row).
  struct Observer {
    std::function<void(std::size_t row, std::size_t count)> aboutToInsert, inserted;
    std::function<void(std::size_t row)> aboutToRemove, removed;
    std::function<void()> aboutToReset, reset;
    std::function<void(std::size_t row)> rowChanged;
  };

  RuleStore(std::string file, Host host) : file_(std::move(file)), host_(std::move(host)) {}
  void SetObserver(Observer observer) { observer_ = std::move(observer); }

  const RuleList& Rules() const { return rules_; }
  const std::string& File() const { return file_; }

  // Fills the list from the file; an unreadable file is told and kept.
  void Load();
  // The file as it is now, replacing the list (the user edited it).
  void Reload();
  // False, after telling the user, while the file exists but cannot be read:
  // replacing it would lose the rules it holds. Reads it again first.
  bool ChangeAllowed();
  bool Save();

  // Appends a ticked rule (unticked for a global-path rule in custom-path
  // mode), tells it, saves.
  void Add(const std::string& eventName, const std::string& monitoredPath, const std::string& actionText);
  // Writes the three texts over a row, keeping its tick; saves. False when
  // the list may not change now or the row is gone.
  bool Replace(std::size_t row, const std::string& eventName, const std::string& monitoredPath,
               const std::string& actionText);
  // The user's tick: a global-path rule stays off in custom-path mode.
  void SetEnabledByUser(std::size_t row, bool enabled);
  void UntickGlobalPathRules();
  void Remove(std::size_t row);
  void EnableAll();
  void DisableAll();
  void InvertAll();
  // After asking.
  void ClearAll();

 private:
  bool ReadFile(RuleList& rules, std::vector<KeptLine>& kept);
  void SetEnabled(std::size_t row, bool enabled);
  template <typename F>
  void Notify(const F& f) const {
    if (f) f();
  }

  std::string file_;
  Host host_;
  Observer observer_;
  RuleList rules_;
  // Lines of the file that are no rules, written back where they stood.
  std::vector<KeptLine> keptLines_;
  // The file exists but could not be read (the reason); empty otherwise.
  std::string fileError_;
};

}  // namespace vantrel
