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
};

}  // namespace vantrel
