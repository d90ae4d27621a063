#include "support/FileDialogs.h"

#include <QFileDialog>
#include <QStringList>

namespace vantrel {
namespace {

struct State {
  std::optional<QString> nextPath;
  std::optional<SaveRequest> last;
};

State& S() {
  static State state;
  return state;
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

}  // namespace vantrel
