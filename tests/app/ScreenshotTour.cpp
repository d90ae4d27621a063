// Walks the program's windows on a real display and saves a picture of each
// state a person meets: scripts/screenshots.sh runs it under a virtual X
// server with a window manager and a tray.
#include "faces/qt/app/Application.h"
#include "faces/qt/app/MainWindow.h"
#include "monitor/ScriptedSource.h"
#include "faces/qt/ui/RuleEditorWindow.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <cstdio>

namespace {

void Settle(int ms = 600) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool Shoot(const QString& dir, const char* name) {
  QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
  QString path = dir + "/" + name + ".png";
  bool saved = shot.save(path);
  std::printf("%s %s\n", saved ? "saved" : "FAILED", path.toLocal8Bit().constData());
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  vantrel::Application app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: screenshot_tour OUTDIR\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  QTemporaryDir home, files;
  const std::string in = files.path().toStdString() + "/收件箱", backup = files.path().toStdString() + "/备份";
  QDir().mkpath(QString::fromStdString(in));
  QDir().mkpath(QString::fromStdString(backup));

  vantrel::ScriptedSource* source = nullptr;
  vantrel::MainWindow::Options options;
  options.home = home.path().toStdString();
  options.sourceFactory = [&source](std::string& error) -> std::unique_ptr<vantrel::ChangeSource> {
    auto made = std::make_unique<vantrel::ScriptedSource>();
    source = made.get();
    made->Start(error);
    return made;
  };
  vantrel::MainWindow window(options);
  if (!window.OnMainWindowCreated()) return 1;
  window.AddRule("新建文件", in, "【复制文件】" + backup);
  window.AddRule("删除文件", in, "【执行程序】/usr/bin/logger§已删除 #文件名§1");
  window.AddRule("重命名目录", "/srv/共享", "【移动文件】/srv/归档");
  window.show();
  Settle();
  for (const char* name : {"报告.docx", "照片-2024.jpg", "合同.pdf"}) {
    std::string path = in + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f) std::fclose(f);
    source->Inject({{vantrel::SHCNE_CREATE, path, std::nullopt, 0}});
    Settle(200);
  }
  source->Inject({{vantrel::SHCNE_RENAMEITEM, in + "/草稿.txt", in + "/定稿.txt", 0}});
  Settle();
  window.FinishPendingActions();
  Settle();
  bool ok = Shoot(out, "1-main-window");

  auto* rules = window.findChild<QTreeView*>("超级列表框2");
  window.findChild<QMenu*>("列表右键")->popup(rules->mapToGlobal(QPoint(300, 60)));
  Settle();
  ok = Shoot(out, "2-rule-list-menu") && ok;
  window.findChild<QMenu*>("列表右键")->close();

  window.OpenRuleEditorForAdd();
  vantrel::RuleEditorWindow& editor = window.RuleEditor();
  const char* radios[][2] = {{"单选框_复制", "3-editor-copy"},
                             {"单选框_移动", "4-editor-move"},
                             {"单选框_删除", "5-editor-delete"},
                             {"单选框_执行", "6-editor-execute"}};
  for (const auto& [radio, picture] : radios) {
    editor.findChild<QRadioButton*>(QString::fromUtf8(radio))->click();
    Settle();
    ok = Shoot(out, picture) && ok;
  }

  rules->setCurrentIndex(rules->model()->index(0, 0));
  window.OpenRuleEditorForModify();
  Settle();
  ok = Shoot(out, "7-editor-modify") && ok;

  // A validation message: a real, modal box, pictured and closed from a timer.
  editor.close();
  window.OpenRuleEditorForAdd();
  editor.findChild<QRadioButton*>("单选框_复制")->click();
  editor.findChild<QLineEdit*>("编辑框1")->clear();
  QTimer::singleShot(800, [&] {
    ok = Shoot(out, "8-validation-message") && ok;
    if (QWidget* box = QApplication::activeModalWidget()) box->close();
  });
  QMetaObject::invokeMethod(&editor, [&] { editor.Submit(); }, Qt::QueuedConnection);
  Settle(1500);

  // What a person sees after adding a rule: the editor and the main window
  // both say so, tray or not.
  editor.findChild<QComboBox*>("组合框1")->setCurrentIndex(2);
  editor.findChild<QLineEdit*>("编辑框1")->setText(QString::fromStdString(in));
  editor.findChild<QLineEdit*>("编辑框2")->setText(QString::fromStdString(backup));
  QTimer::singleShot(500, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
      for (QAbstractButton* button : box->buttons())
        if (box->buttonRole(button) == QMessageBox::AcceptRole || box->buttonRole(button) == QMessageBox::YesRole)
          button->click();
  });
  QMetaObject::invokeMethod(&editor, [&] { editor.Submit(); }, Qt::QueuedConnection);
  Settle(1500);
  ok = Shoot(out, "9-after-add") && ok;

  // The monitored path's picker, which takes a folder or a file.
  QTimer::singleShot(1000, [&] {
    ok = Shoot(out, "10-path-picker") && ok;
    if (QWidget* box = QApplication::activeModalWidget()) box->close();
  });
  QMetaObject::invokeMethod(editor.findChild<QPushButton*>("按钮1"), "click", Qt::QueuedConnection);
  Settle(2000);
  return ok ? 0 : 1;
}
