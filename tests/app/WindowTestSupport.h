#pragma once
// Window tests drive the window through a scripted change source.
#include "faces/qt/app/MainWindow.h"
#include "monitor/ScriptedSource.h"

namespace vantrel {

// Options whose source is scripted; source points at it once the window has
// registered. With starts false the source cannot start.
inline MainWindow::Options ScriptedOptions(const std::string& home, ScriptedSource*& source, bool starts = true,
                                           const Clock* clock = &Clock::System()) {
  MainWindow::Options options;
  options.home = home;
  options.clock = clock;
  options.sourceFactory = [&source, starts](std::string& error) -> std::unique_ptr<ChangeSource> {
    if (!starts) {
      error = "refused";
      return nullptr;
    }
    auto made = std::make_unique<ScriptedSource>();
    source = made.get();
    made->Start(error);
    return made;
  };
  return options;
}

}  // namespace vantrel
