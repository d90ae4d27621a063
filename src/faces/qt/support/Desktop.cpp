#include "faces/qt/support/Desktop.h"

#include <QDesktopServices>
#include <QUrl>

namespace vantrel {
namespace {
std::vector<QString>* capture = nullptr;
bool captureOpens = true;
}  // namespace

bool OpenWithDesktop(const QString& path) {
  if (capture) {
    capture->push_back(path);
    return captureOpens;
  }
  return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void CaptureDesktopOpensForTesting(std::vector<QString>* into, bool opens) {
  capture = into;
  captureOpens = opens;
}

}  // namespace vantrel
