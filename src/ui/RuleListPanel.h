#pragma once
// The rule list 超级列表框2: its rows (mirrored in a RuleList that the
// matcher reads), the rule file behind them, the user's ticks and the
// commands of its menu 列表右键. Every change is saved at once.
#include "rules/RuleFile.h"

#include <QObject>
#include <functional>
#include <string>

class QStandardItemModel;
class QTreeView;

namespace vantrel {

// The action column's text: an execution rule's program, parameters and
// mode spelled out; any other rule's action as data.jl stores it.
std::string ShownAction(const std::string& actionText);

class RuleListPanel : public QObject {
  Q_OBJECT
 public:
  // What the list asks of the window around it.
  struct Host {
    std::function<bool()> customPathMode;  // 选择框_自定义 ticked
    std::function<bool()> wholeDiskMode;   // 选择框_全盘 ticked
    std::function<void(const std::string& text, bool error)> prompt;  // titled "提示:"
    std::function<void(const std::string& title, const std::string& text)> promptTitled;
    std::function<bool(const QString& caption, const QString& question)> ask;
    std::function<void()> rulesChanged;  // the monitored paths may have changed
  };

  RuleListPanel(QTreeView* view, std::string filePath, Host host, QObject* parent);

  const RuleList& Rules() const { return rules_; }
  QStandardItemModel* Model() const { return model_; }
  // The row the view's current selection names, or -1.
  int SelectedRow() const;

  // Fills the list from the rule file; an unreadable file is told and kept.
  void Load();
  // False, after telling the user, while the rule file exists but cannot be
  // read: replacing it would lose the rules it holds. Reads it again first.
  bool ChangeAllowed();
  bool Save();

  // Appends a ticked rule (unticked for a global-path rule in custom-path
  // mode), tells it, saves.
  void Add(const std::string& eventName, const std::string& monitoredPath, const std::string& actionText);
  // Writes the three texts over a row, keeping its tick; saves. False when
  // the list may not change now.
  bool Replace(int row, const std::string& eventName, const std::string& monitoredPath, const std::string& actionText);
  void UntickGlobalPathRules();

  // The commands of 列表右键.
  void DeleteSelected();
  void EnableAll();
  void DisableAll();
  void InvertAll();
  void ClearAll();

 private:
  void Append(const MonitorRule& rule);
  bool ReadFileIntoList();
  void SetTicked(int row, bool ticked);
  void OnUserTick(int row);

  QTreeView* view_;
  QStandardItemModel* model_;
  std::string filePath_;
  Host host_;
  RuleList rules_;
  // Lines of the file that are no rules, written back where they stood.
  std::vector<KeptLine> keptLines_;
  // The rule file exists but could not be read (the reason); empty otherwise.
  std::string fileError_;
  // Set while the program itself changes ticks, which the user's handler ignores.
  bool programChange_ = false;
};

}  // namespace vantrel
