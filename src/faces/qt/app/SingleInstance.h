#pragma once
// The window's side of the single-instance guard: a later copy's request to
// come forward arrives as a signal on the window's thread.
#include "platform/InstanceGuard.h"

#include <QObject>
#include <string>

class QSocketNotifier;

namespace vantrel {

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit SingleInstance(const std::string& programDir, QObject* parent = nullptr);

  // True when this copy is the one to run (or no guard could be set up,
  // which is said on standard error); it then listens for later copies.
  bool Acquire();
  // For a later copy: asks the running one to bring its window forward.
  void AskFirstToComeForward() const;
  // After a refused Acquire: which program runs on the home.
  const std::string& RunningKind() const { return guard_.RunningKind(); }
  // While a debugger is attached the guard is not used.
  static bool DebuggerAttached();

 signals:
  void ComeForwardRequested();

 private:
  InstanceGuard guard_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace vantrel
