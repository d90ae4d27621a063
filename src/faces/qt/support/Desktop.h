#pragma once
// Opening documents and folders with the desktop's own opener.
#include <QString>
#include <vector>

namespace vantrel {

// False when the desktop has no opener for it (none installed, say).
bool OpenWithDesktop(const QString& path);
// While capturing, opens are recorded instead of carried out, and answer
// as given.
void CaptureDesktopOpensForTesting(std::vector<QString>* into, bool opens = true);

}  // namespace vantrel
