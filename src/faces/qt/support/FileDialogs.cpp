#include "faces/qt/support/FileDialogs.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QStringList>

namespace vantrel {
namespace {

struct State {
  std::optional<QString> nextPath;
  std::optional<SaveRequest> last;
  std::optional<QString> nextBrowse;
  std::optional<FileDialogs::BrowseRequest> lastBrowse;
};

State& S() {
  static State state;
  return state;
}

// The file list's sizes and dates in the interface's language: the list
// formats them in the system's locale, which is not the interface's.
class ChineseColumns : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;
  QVariant data(const QModelIndex& index, int role) const override {
    auto* files = qobject_cast<QFileSystemModel*>(sourceModel());
    if (role != Qt::DisplayRole || !files || index.column() < 1 || index.column() > 3)
      return QIdentityProxyModel::data(index, role);
    const QModelIndex source = mapToSource(index);
    if (index.column() == 2) {
      if (files->isDir(source)) return QString("文件夹");
      const QString suffix = QFileInfo(files->fileName(source)).suffix();
      return suffix.isEmpty() ? QString("文件") : suffix.toUpper() + " 文件";
    }
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    if (index.column() == 3) return chinese.toString(files->lastModified(source), "yyyy/M/d HH:mm");
    if (files->isDir(source)) return QString();
    return chinese.formattedDataSize(files->size(source), 1, QLocale::DataSizeTraditionalFormat);
  }
};

// Our own dialog rather than the desktop's, so that it speaks the
// interface's language whatever the system's locale.
void Prepare(QFileDialog& dialog) {
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setProxyModel(new ChineseColumns(&dialog));
}

// Chooses a file or a folder: a folder that is selected or typed is taken
// as the answer when the choose button is pressed, while double-clicking a
// folder still opens it.
class PathDialog : public QFileDialog {
 public:
  using QFileDialog::QFileDialog;
  void accept() override {
    const QStringList chosen = selectedFiles();
    if (fileMode() == AnyFile && chosen.size() == 1 && QFileInfo(chosen.first()).isDir()) {
      QDialog::accept();
      return;
    }
    QFileDialog::accept();
  }
};

// Where files are shown too, the dialog offers its button only once a name
// is selected or typed; the folder it stands in is a choice all the same.
void KeepFolderChoosable(QFileDialog& dialog) {
  auto* buttons = dialog.findChild<QDialogButtonBox*>("buttonBox");
  auto* name = dialog.findChild<QLineEdit*>("fileNameEdit");
  if (!buttons || !name) return;
  auto enable = [buttons, name] {
    if (!name->text().isEmpty()) return;
    for (QAbstractButton* button : buttons->buttons())
      if (buttons->buttonRole(button) == QDialogButtonBox::AcceptRole) button->setEnabled(true);
  };
  // Connected after the dialog's own, so these run after it decides.
  QObject::connect(name, &QLineEdit::textChanged, &dialog, enable);
  QObject::connect(&dialog, &QFileDialog::directoryEntered, &dialog, enable);
  QObject::connect(&dialog, &QFileDialog::currentChanged, &dialog, enable);
  enable();
}

}  // namespace

QString FileDialogs::DialogFilter(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString shown = parts[i];
    const QString& pattern = parts[i + 1];
    // The dialog reads the patterns from the parentheses of the entry.
    if (!shown.contains("(" + pattern + ")")) shown += " (" + pattern + ")";
    entries << shown;
  }
  return entries.join(";;");
}

QString FileDialogs::ShowSaveDialog(QWidget* parent, const SaveRequest& request) {
  S().last = request;
  if (S().nextPath) {
    QString path = *S().nextPath;
    S().nextPath.reset();
    return path;
  }
  QFileDialog dialog(parent, request.title, request.initialDirectory, DialogFilter(request.filter));
  Prepare(dialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.selectFile(request.defaultName);
  QString suffix = request.defaultExtension;
  if (suffix.startsWith('.')) suffix.remove(0, 1);
  dialog.setDefaultSuffix(suffix);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

void FileDialogs::SetNextSavePathForTesting(const QString& path) { S().nextPath = path; }

std::optional<SaveRequest> FileDialogs::LastRequest() { return S().last; }

QString FileDialogs::BrowseForPath(QWidget* parent, const BrowseRequest& request) {
  S().lastBrowse = request;
  if (S().nextBrowse) {
    QString path = *S().nextBrowse;
    S().nextBrowse.reset();
    return path;
  }
  PathDialog dialog(parent, request.title.isEmpty() ? QString("请选择一个文件夹") : request.title);
  // Ours, so that a folder can be the answer where files are shown too.
  Prepare(dialog);
  dialog.setFileMode(request.includeFiles ? QFileDialog::AnyFile : QFileDialog::Directory);
  if (!request.includeFiles) dialog.setOption(QFileDialog::ShowDirsOnly, true);
  dialog.setLabelText(QFileDialog::Accept, "选择");
  // At the current value: a folder opens, a file is selected in its folder.
  const QFileInfo start(request.initialPath);
  if (start.isDir()) {
    dialog.setDirectory(start.absoluteFilePath());
  } else {
    dialog.setDirectory(start.absolutePath());
    if (start.exists()) dialog.selectFile(start.fileName());
  }
  if (request.includeFiles) KeepFolderChoosable(dialog);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

void FileDialogs::SetNextBrowseResultForTesting(const QString& path) { S().nextBrowse = path; }

void FileDialogs::ForgetTestingResults() {
  S().nextBrowse.reset();
  S().nextPath.reset();
}

std::optional<FileDialogs::BrowseRequest> FileDialogs::LastBrowse() { return S().lastBrowse; }

}  // namespace vantrel
