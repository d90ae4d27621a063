#pragma once
// Opening documents and folders with the desktop's own opener.
#include <QString>
#include <vector>

namespace vantrel {

void OpenWithDesktop(const QString& path);
// While capturing, opens are recorded instead of carried out.
void CaptureDesktopOpensForTesting(std::vector<QString>* into);

}  // namespace vantrel
