#include "support/Desktop.h"

#include <QDesktopServices>
#include <QUrl>

namespace vantrel {
namespace {
std::vector<QString>* capture = nullptr;
}

void OpenWithDesktop(const QString& path) {
  if (capture) {
    capture->push_back(path);
    return;
  }
  QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void CaptureDesktopOpensForTesting(std::vector<QString>* into) { capture = into; }

}  // namespace vantrel
