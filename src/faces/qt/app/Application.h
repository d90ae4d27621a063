#pragma once
#include <QApplication>
#include <QTranslator>
#include <functional>

namespace vantrel {

// The application object; once a runtime-error handler is installed, an
// exception escaping any event handler reaches it and the program goes on.
class Application : public QApplication {
 public:
  using ErrorHandler = std::function<void(int code, const QString& message)>;
  // Qt's own texts (Yes, No, the file and colour dialogs) come in the
  // interface's language where Qt's translations are installed.
  Application(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
  static void SetErrorHandler(ErrorHandler handler);
  // The message box that tells an error's code and text.
  static void ShowRuntimeError(int code, const QString& message);

 private:
  QTranslator qtTexts_;
};

}  // namespace vantrel
