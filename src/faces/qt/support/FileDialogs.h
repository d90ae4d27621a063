#pragma once
// The save-file dialog. Tests answer it in advance and read back what it
// was asked.
#include <QString>
#include <optional>

class QWidget;

namespace vantrel {

struct SaveRequest {
  QString title;
  QString defaultName;
  // Pairs of display text and pattern, every part separated by "|".
  QString filter;
  QString initialDirectory;
  QString defaultExtension;
  bool overwritePrompt = false;
  bool pathMustExist = false;
  bool keepDirectory = false;
};

class FileDialogs {
 public:
  // The chosen full path, or empty when the user cancels.
  static QString ShowSaveDialog(QWidget* parent, const SaveRequest& request);
  // The filter in the form the dialog takes, one entry per line.
  static QString DialogFilter(const QString& filter);

  static void SetNextSavePathForTesting(const QString& path);
  static std::optional<SaveRequest> LastRequest();

  // The path picker of the rule editor: a folder, or with includeFiles a
  // file or a folder, starting at initialPath. Empty when cancelled. An
  // empty title reads "请选择一个文件夹".
  struct BrowseRequest {
    QString title;
    bool includeFiles = false;
    QString initialPath;
  };
  static QString BrowseForPath(QWidget* parent, const BrowseRequest& request);
  static void SetNextBrowseResultForTesting(const QString& path);
  // What a test set up and never used is not left for the next one.
  static void ForgetTestingResults();
  static std::optional<BrowseRequest> LastBrowse();
};

}  // namespace vantrel
