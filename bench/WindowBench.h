#pragma once
// The window on a copy rule, for the benchmark of what a person sees.
#include "CopyRuleBench.h"
#include "faces/qt/app/MainWindow.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

namespace vantrel::bench {

// The window on the rule, once its change source has settled on the folders.
inline std::unique_ptr<MainWindow> StartWindow(const std::string& home, WatchBackend backend) {
  auto window = std::make_unique<MainWindow>(MainWindow::Options{home, backend, nullptr});
  if (!window->OnMainWindowCreated()) return nullptr;
  window->show();
  for (auto t = Steady::now(); Since(t) < 0.5;) QApplication::processEvents(QEventLoop::AllEvents, 50);
  return window;
}

// Runs the window's event loop, as the program does, until `wanted` copies
// are listed or nothing has moved for a minute; tick() runs every 10 ms
// before the rows are looked at. The seconds from start to the last copy.
inline double RunWindowUntilCopied(MainWindow& window, std::size_t wanted, Steady::time_point start,
                                   const std::function<void()>& tick = {}) {
  CopyProgress progress;
  QEventLoop loop;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (tick) tick();
    if (!progress.Update(window.EventRows(), wanted, start)) loop.quit();
  });
  ticker.start(10);
  loop.exec();
  return progress.seconds;
}

}  // namespace vantrel::bench
