#pragma once
// One copy per user and program folder: the first copy holds a local socket
// whose name says both (taken atomically, and gone with the process however
// it ends); a later copy finds it taken and asks the first to come forward.
#include <QObject>
#include <string>

class QLocalServer;

namespace vantrel {

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit SingleInstance(const std::string& programDir, QObject* parent = nullptr);

  // True when this copy is the one to run; it then listens for later copies.
  bool Acquire();
  // For a later copy: asks the running one to bring its window forward.
  void AskFirstToComeForward() const;
  // While a debugger is attached the guard is not used.
  static bool DebuggerAttached();
  const QString& Name() const { return name_; }

 signals:
  void ComeForwardRequested();

 private:
  QString name_;
  QLocalServer* server_ = nullptr;
};

}  // namespace vantrel
