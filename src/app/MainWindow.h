#pragma once
#include "app/Layout.h"
#include "monitor/ChangeSource.h"
#include "monitor/ShellEvents.h"

#include <QWidget>
#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QGroupBox;
class QMenu;
class QStandardItemModel;
class QTreeView;

namespace vantrel {

class ChangeIntake;

struct DisplayMode {
  std::uint16_t bitsPerPixel = 0, width = 0, height = 0, frequency = 0;
};

class MainWindow : public QWidget {
  Q_OBJECT
 public:
  using SourceFactory = std::function<std::unique_ptr<ChangeSource>(std::string& error)>;
  struct Options {
    WatchBackend backend = WatchBackend::Auto;
    // Tests give a started source of their own; otherwise the backend decides.
    SourceFactory sourceFactory;
  };

  explicit MainWindow(Options options, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The start-up sequence; false when the program must end (exit code 0).
  bool OnMainWindowCreated();

  bool RegisterShellWatch();
  bool UnregisterShellWatch();
  void LoadSettings();
  void PlaceMainWindow(const std::string& saved);
  void SaveWindowSize();
  void ShowMainWindow();
  void SetTopmost(bool topmost);
  // "退出程序": the size is saved and the program ends without asking.
  void QuitProgram();
  int RecordChildLayout();
  void ApplyChildLayout();
  static int TaskbarThickness();
  static DisplayMode CurrentDisplayMode();
  static void ShowRuntimeError(int code, const QString& message);

  // Every change from the source arrives here, one at a time, in order.
  void OnChangeNotification(const ChangeNotification& n);
  void SetEventObserver(std::function<void(const ChangeEvent&)> observer) { observer_ = std::move(observer); }
  ChangeIntake* Intake() const { return intake_; }
  // The folders a per-folder source must watch in the current mode.
  std::vector<std::string> WatchRoots() const;

  QMenu* 右键菜单;
  QMenu* 列表右键;
  QMenu* 托盘右键;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void BuildControls();
  void BuildMenus();
  void ConnectCheckBoxes();
  void OnSizeChanged();
  bool OnQueryClose();
  void OnWindowDestroy();
  void WriteBox(const char* section, QCheckBox* box);
  void OnTrayPromptClicked();
  void OnTrayMenuPromptItem();
  void On全盘Clicked();
  void On自定义Clicked();
  void UpdateWatchRoots();
  void OnSourceReport(const std::string& text);

  Options options_;
  QGroupBox* 分组框1;
  QGroupBox* 分组框2;
  QCheckBox* 选择框_创建文件;
  QCheckBox* 选择框_删除文件;
  QCheckBox* 选择框_重命名文件;
  QCheckBox* 选择框_更新文件;
  QCheckBox* 选择框_创建目录;
  QCheckBox* 选择框_删除目录;
  QCheckBox* 选择框_重命名目录;
  QCheckBox* 选择框_全盘;
  QCheckBox* 选择框_自定义;
  QCheckBox* 选择框_保存日志;
  QCheckBox* 选择框_托盘提示;
  QTreeView* 超级列表框2;
  QTreeView* 超级列表框1;
  QStandardItemModel* ruleModel_;
  QStandardItemModel* eventModel_;

  std::vector<QWidget*> childWindows_;
  std::vector<ChildRatio> childRatios_;
  int childCount_ = 0;
  ChangeIntake* intake_ = nullptr;
  std::function<void(const ChangeEvent&)> observer_;
  bool quitting_ = false;
  bool destroyed_ = false;
};

}  // namespace vantrel
