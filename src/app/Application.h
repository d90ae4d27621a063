#pragma once
#include <QApplication>
#include <functional>

namespace vantrel {

// The application object; once a runtime-error handler is installed, an
// exception escaping any event handler reaches it and the program goes on.
class Application : public QApplication {
 public:
  using ErrorHandler = std::function<void(int code, const QString& message)>;
  Application(int& argc, char** argv) : QApplication(argc, argv) {}
  bool notify(QObject* receiver, QEvent* event) override;
  static void SetErrorHandler(ErrorHandler handler);
};

}  // namespace vantrel
