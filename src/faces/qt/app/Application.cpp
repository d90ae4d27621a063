#include "faces/qt/app/Application.h"

#include "faces/shared/RuntimeError.h"
#include "faces/qt/support/Dialogs.h"

#include <QLibraryInfo>
#include <QLocale>

namespace vantrel {
namespace {
Application::ErrorHandler& Handler() {
  static Application::ErrorHandler handler;
  return handler;
}
}  // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  // The dialogs' own texts (file types, sizes) in the interface's language.
  QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
  if (qtTexts_.load(QLocale(QLocale::Chinese, QLocale::China), "qtbase", "_",
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    installTranslator(&qtTexts_);
}

void Application::SetErrorHandler(ErrorHandler handler) { Handler() = std::move(handler); }

void Application::ShowRuntimeError(int code, const QString& message) {
  Dialogs::Tell(nullptr, "提示:", QString::fromStdString(RuntimeErrorText(code, message.toStdString())), Dialogs::Icon::Error);
}

bool Application::notify(QObject* receiver, QEvent* event) {
  if (!Handler()) return QApplication::notify(receiver, event);
  try {
    return QApplication::notify(receiver, event);
  } catch (const RuntimeError& e) {
    Handler()(e.Code(), QString::fromStdString(e.what()));
  } catch (const std::exception& e) {
    Handler()(kStandardErrorCode, QString::fromStdString(e.what()));
  } catch (...) {
    Handler()(kUnknownErrorCode, QStringLiteral("unknown error"));
  }
  return true;
}

}  // namespace vantrel
