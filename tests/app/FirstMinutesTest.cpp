// A newcomer's first minutes, through the real windows on a real display
// (first_minutes_test.sh runs it under a virtual X server with a window
// manager and a tray, at several screen sizes and scales): the first start
// says how to begin, a rule "~/下载/*.pdf → ~/文档/PDF" is made with the
// keyboard alone and copies a PDF but not a text file that real writes
// made, a failed copy stands apart and is told, a user scrolled up to read
// keeps the view, and Delete asks before it removes. Every window stays
// inside the screen's usable area.
#include "faces/qt/app/Application.h"
#include "faces/qt/app/MainWindow.h"
#include "faces/qt/tray/TrayIcon.h"
#include "faces/qt/ui/RuleEditorWindow.h"
#include "log/EventLog.h"
#include "platform/Utf8Path.h"

#include <QAbstractButton>
#include <QDir>
#include <QKeyEvent>
#include <QWheelEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <thread>

namespace vantrel {
namespace {

namespace fs = std::filesystem;

// Lets the program run until the condition holds, for at most the time given.
bool RunUntil(const std::function<bool()>& done, int ms = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The keys a person presses, to whatever has the focus now.
void Press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
  // A closed box hands the focus back in the window manager's own time.
  RunUntil([] { return QApplication::focusWidget() != nullptr; }, 5000);
  QWidget* target = QApplication::focusWidget();
  if (!target) target = QApplication::activeWindow();
  ASSERT_NE(target, nullptr) << "nothing has the keyboard";
  QKeyEvent down(QEvent::KeyPress, key, mods, text), up(QEvent::KeyRelease, key, mods, text);
  QApplication::sendEvent(target, &down);
  QApplication::sendEvent(target, &up);
  QApplication::processEvents();
}
void Wheel(QAbstractScrollArea* view, int delta) {
  const QPointF at = view->viewport()->rect().center();
  QWheelEvent wheel(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(view->viewport(), &wheel);
  QApplication::processEvents();
}
void Type(const QString& text) {
  for (QChar c : text) Press(0, Qt::NoModifier, QString(c));
}

// Answers the message boxes as they come, from the keyboard: the chosen
// button gets the focus and Space presses it.
class BoxAnswerer : public QObject {
 public:
  BoxAnswerer() {
    timer_.setInterval(30);
    connect(&timer_, &QTimer::timeout, this, [this] { Answer(); });
    timer_.start();
  }
  void Queue(bool yes) { answers_.push_back(yes); }
  bool Done() const { return answers_.empty(); }
  QStringList asked;

 private:
  void Answer() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || answers_.empty() || !box->isVisible()) return;
    const bool yes = answers_.front();
    answers_.pop_front();
    asked << box->text();
    for (QAbstractButton* button : box->buttons()) {
      const QMessageBox::ButtonRole role = box->buttonRole(button);
      const bool accepts = role == QMessageBox::YesRole || role == QMessageBox::AcceptRole;
      if (accepts != yes) continue;
      button->setFocus();
      QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
      QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " ");
      QApplication::sendEvent(button, &space);
      QApplication::sendEvent(button, &release);
      return;
    }
  }
  QTimer timer_;
  std::deque<bool> answers_;
};

bool Inside(const QRect& window, const QRect& area) { return area.contains(window); }

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(PathFromUtf8(path), std::ios::binary) << bytes;
}

class FirstMinutesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid());
    qputenv("HOME", home_.path().toUtf8());
    fs::create_directories(PathFromUtf8(Home() + "/下载"));
    MainWindow::Options options;
    options.home = Home() + "/.vantrel";
    fs::create_directories(PathFromUtf8(options.home));
    options.backend = WatchBackend::Inotify;
    window_ = std::make_unique<MainWindow>(options);
    window_->Tray().RecordPromptsForTesting(true);
    ASSERT_TRUE(window_->OnMainWindowCreated());
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(RunUntil([&] { return window_->isActiveWindow(); }, 10000)) << "the window never came to the front";
    shots_ = qEnvironmentVariable("VANTREL_SHOTS_DIR");
  }
  void TearDown() override { window_.reset(); }

  std::string Home() const { return home_.path().toStdString(); }
  // The keyboard's focus on a control of the main window, once the window is
  // in front again (a closed box hands activation back in its own time).
  void FocusOn(QWidget* control) {
    window_->activateWindow();
    ASSERT_TRUE(RunUntil([&] { return window_->isActiveWindow(); }, 10000)) << "the window never came back";
    control->setFocus();
    ASSERT_TRUE(RunUntil([&] { return QApplication::focusWidget() == control; }, 5000));
  }
  // At twice the scale a frame's odd device pixel rounds up to a whole one
  // of ours.
  QRect Usable() const {
    const int rounding = window_->screen()->devicePixelRatio() == 1.0 ? 0 : 1;
    return window_->screen()->availableGeometry().adjusted(0, 0, rounding, rounding);
  }
  template <typename W>
  W* Find(const char* name) {
    return window_->findChild<W*>(QString::fromUtf8(name));
  }
  QString Status() { return Find<QLabel>("状态栏")->text(); }
  QString Watched() { return Find<QLabel>("监控状态")->text(); }
  bool Listed(const std::string& text) {
    const EventList& rows = window_->EventRows();
    for (std::size_t r = 0; r < rows.RowCount(); ++r)
      for (int c = 1; c < 4; ++c)
        if (std::string(rows.Cell(r, c)).find(text) != std::string::npos) return true;
    return false;
  }
  std::optional<std::size_t> ActionRow(const std::string& type, const std::string& detail) {
    const EventList& rows = window_->EventRows();
    for (std::size_t r = 0; r < rows.RowCount(); ++r)
      if (rows.Cell(r, 1) == EventLog::kActionMark && rows.Cell(r, 2) == type &&
          std::string(rows.Cell(r, 3)).find(detail) != std::string::npos)
        return r;
    return std::nullopt;
  }
  void Shoot(const char* name) {
    if (shots_.isEmpty()) return;
    QApplication::processEvents();
    window_->screen()->grabWindow(0).save(shots_ + "/" + name + ".png");
  }

  QTemporaryDir home_;
  std::unique_ptr<MainWindow> window_;
  QString shots_;
};

TEST_F(FirstMinutesTest, ANewcomerAddsAWorkingRuleWithTheKeyboardAlone) {
  // Whatever the screen and its scale, the whole window is there to use
  // once the window manager has placed it.
  EXPECT_TRUE(RunUntil([&] { return Inside(window_->frameGeometry(), Usable()); }))
      << "window " << window_->frameGeometry().width() << "x" << window_->frameGeometry().height() << " at "
      << window_->frameGeometry().x() << "," << window_->frameGeometry().y() << " on " << Usable().width() << "x"
      << Usable().height() << ", inside " << window_->geometry().width() << "x" << window_->geometry().height() << " at "
      << window_->geometry().x() << "," << window_->geometry().y() << (window_->isMaximized() ? " maximized" : "");
  auto* rules = Find<QTreeView>("超级列表框2");
  auto* events = Find<QTableView>("超级列表框1");
  EXPECT_EQ(rules->model()->rowCount(), 0);
  EXPECT_TRUE(Watched().startsWith("未在监控")) << Watched().toStdString();
  Shoot("1-first-start");

  // From the first control, Tab reaches the rule list; Enter there opens the
  // editor for the first rule.
  for (int i = 0; i < 20 && QApplication::focusWidget() != rules; ++i) Press(Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), rules) << "Tab never reaches the rule list";
  Press(Qt::Key_Return);
  RuleEditorWindow& editor = window_->RuleEditor();
  ASSERT_TRUE(RunUntil([&] { return editor.isVisible() && editor.isActiveWindow(); }, 10000));
  EXPECT_TRUE(RunUntil([&] { return Inside(editor.frameGeometry(), Usable()); }))
      << "the editor and its 添加 are on the screen";
  for (int i = 0; i < 10 && QApplication::focusWidget() != editor.findChild<QLineEdit*>("编辑框1"); ++i)
    Press(Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), editor.findChild<QLineEdit*>("编辑框1"));
  Type("~/下载/*.pdf");
  for (int i = 0; i < 10 && QApplication::focusWidget() != editor.findChild<QLineEdit*>("编辑框2"); ++i)
    Press(Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), editor.findChild<QLineEdit*>("编辑框2")) << "the target takes typing";
  Type("~/文档/PDF");
  Shoot("2-editor-with-pattern");
  BoxAnswerer answers;
  answers.Queue(true);  // make the folder
  answers.Queue(true);  // add the rule
  Press(Qt::Key_Return);
  ASSERT_TRUE(RunUntil([&] { return window_->Rules().size() == 1 && answers.Done(); }, 10000))
      << "asked: " << answers.asked.join(" / ").toStdString() << "; editor says "
      << editor.findChild<QLabel*>("标签_状态")->text().toStdString();
  const std::string target = Home() + "/文档/PDF";
  EXPECT_TRUE(answers.asked.first().contains(QString::fromStdString(target))) << "the missing folder is offered";
  EXPECT_TRUE(fs::is_directory(PathFromUtf8(target)));
  EXPECT_EQ(window_->Rules()[0].monitoredPath, Home() + "/下载/*.pdf") << "~ is the home, stored spelled out";
  EXPECT_EQ(window_->Rules()[0].actionText, "【复制文件】" + target);
  EXPECT_EQ(editor.findChild<QLineEdit*>("编辑框1")->text().toStdString(), Home() + "/下载/*.pdf");
  EXPECT_TRUE(Watched().startsWith("监控: 规则中的 1 个文件夹")) << Watched().toStdString();
  editor.activateWindow();
  ASSERT_TRUE(RunUntil([&] { return editor.isActiveWindow() && QApplication::focusWidget(); }, 10000));
  Press(Qt::Key_Escape);
  ASSERT_TRUE(RunUntil([&] { return !editor.isVisible(); }));

  // Real files: a text file first, then a PDF. The rule copies the PDF; the
  // text file, listed before it, was never the rule's.
  Write(Home() + "/下载/笔记.txt", "notes");
  Write(Home() + "/下载/报告.pdf", "%PDF-1.4");
  ASSERT_TRUE(RunUntil([&] { return ActionRow("复制文件", "报告.pdf").has_value(); }))
      << "the PDF was never copied; listed: " << window_->EventRows().RowCount();
  EXPECT_TRUE(fs::exists(PathFromUtf8(target + "/报告.pdf")));
  EXPECT_TRUE(Listed("笔记.txt")) << "the text file is listed";
  EXPECT_FALSE(fs::exists(PathFromUtf8(target + "/笔记.txt"))) << "but not copied";
  EXPECT_FALSE(ActionRow("复制文件", "笔记.txt").has_value());

  // A copy that fails: the target is a file now. Its row stands apart, and
  // the reason reaches the status line and the tray.
  fs::rename(PathFromUtf8(target), PathFromUtf8(target + ".away"));
  Write(target, "not a folder");
  window_->Tray().TakeIssuedPrompts();
  Write(Home() + "/下载/坏.pdf", "%PDF-1.4");
  std::optional<std::size_t> failed;
  ASSERT_TRUE(RunUntil([&] { return (failed = ActionRow("复制文件失败", "坏.pdf")).has_value(); }));
  const auto colour = window_->Core().Colours().CellColourAt(*failed, 3);
  ASSERT_TRUE(colour.has_value());
  EXPECT_EQ(colour->background, EventLog::kFailedBackground);
  const auto done = window_->Core().Colours().CellColourAt(*ActionRow("复制文件", "报告.pdf"), 3);
  ASSERT_TRUE(done.has_value());
  EXPECT_NE(*colour, *done) << "a failed action is not drawn as a done one";
  ASSERT_TRUE(RunUntil([&] { return Status().contains("复制文件失败"); }, 5000)) << Status().toStdString();
  bool told = false;
  for (const TrayIcon::Prompt& p : window_->Tray().TakeIssuedPrompts()) told = told || p.title == "复制文件失败";
  EXPECT_TRUE(told) << "the balloon tells the failure, not only the event";
  events->scrollToBottom();
  Shoot("3-failed-row");
  fs::remove(PathFromUtf8(target));
  fs::rename(PathFromUtf8(target + ".away"), PathFromUtf8(target));

  // Enough rows to scroll; the user goes up to read and stays there while
  // more come, told how many wait below; at the bottom again, it follows.
  // The list shows new rows a frame at a time.
  auto shown = [&] { return events->model()->rowCount() == static_cast<int>(window_->EventRows().RowCount()); };
  for (int i = 0; i < 40; ++i) Write(Home() + "/下载/行" + std::to_string(i) + ".txt", "x");
  ASSERT_TRUE(RunUntil([&] { return Listed("行39.txt") && shown() && events->verticalScrollBar()->maximum() > 0; }));
  FocusOn(events);
  // The wheel, as a reader scrolls up.
  for (int i = 0; i < 50 && events->verticalScrollBar()->value() > 0; ++i) Wheel(events, 120);
  ASSERT_TRUE(RunUntil([&] { return events->verticalScrollBar()->value() == 0; }, 5000))
      << "at " << events->verticalScrollBar()->value() << " of " << events->verticalScrollBar()->maximum();
  for (int i = 0; i < 5; ++i) Write(Home() + "/下载/新" + std::to_string(i) + ".txt", "x");
  ASSERT_TRUE(RunUntil([&] { return Listed("新4.txt") && shown(); }));
  EXPECT_TRUE(RunUntil([&] { return Watched().contains("条新记录"); }, 5000)) << Watched().toStdString();
  EXPECT_EQ(events->verticalScrollBar()->value(), 0) << "the view stays where the user is reading";
  for (int i = 0; i < 50 && events->verticalScrollBar()->value() < events->verticalScrollBar()->maximum(); ++i)
    Wheel(events, -120);
  Write(Home() + "/下载/最后.txt", "x");
  ASSERT_TRUE(RunUntil([&] { return Listed("最后.txt") && shown(); }));
  EXPECT_EQ(events->verticalScrollBar()->value(), events->verticalScrollBar()->maximum()) << "following again";
  EXPECT_FALSE(Watched().contains("条新记录")) << Watched().toStdString();

  // Delete asks; No keeps the rule, Yes removes it and says what went.
  FocusOn(rules);
  EXPECT_TRUE(rules->selectionModel()->isRowSelected(0, {})) << "the lone rule is selected from the keyboard";
  answers.Queue(false);
  Press(Qt::Key_Delete);
  ASSERT_TRUE(RunUntil([&] { return answers.Done(); }, 10000));
  EXPECT_EQ(window_->Rules().size(), 1u);
  answers.Queue(true);
  FocusOn(rules);
  Press(Qt::Key_Delete);
  ASSERT_TRUE(RunUntil([&] { return window_->Rules().empty(); }, 10000));
  EXPECT_TRUE(answers.asked.last().contains("下载/*.pdf")) << "the question names the rule";
  EXPECT_TRUE(Status().contains("已删除监控:") && Status().contains("下载/*.pdf")) << Status().toStdString();
  EXPECT_TRUE(Watched().startsWith("未在监控")) << Watched().toStdString();
  EXPECT_TRUE(Inside(window_->frameGeometry(), Usable()));
}

}  // namespace
}  // namespace vantrel

int main(int argc, char** argv) {
  vantrel::Application app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
