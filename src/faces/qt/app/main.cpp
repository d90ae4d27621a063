#include "faces/qt/app/Application.h"
#include "engine/CommandLine.h"
#include "faces/qt/app/MainWindow.h"
#include "engine/ProgramDir.h"
#include "faces/qt/app/SingleInstance.h"
#include "monitor/linux/Capabilities.h"
#include "faces/qt/support/Dialogs.h"

#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

using namespace vantrel;

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
  // The program and its rules run with the user's own rights: capabilities
  // given to it (as an earlier set-up advised) would let every copy rule read
  // what its user may not. Only the watch helper carries any.
  if (::getuid() != 0) LimitCapabilities({}, {});
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  // Before Qt starts: without a display it would abort; the monitor and the
  // rules need none.
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
    std::fprintf(stderr, "vantrel: no display found; running on the offscreen platform (the monitor and its rules still run)\n");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  Application app(argc, argv);
  std::vector<std::string> args;
  const QStringList all = app.arguments();
  for (qsizetype i = 1; i < all.size(); ++i) args.push_back(all[i].toStdString());
  std::string error;
  std::optional<CommandLine> line = ParseCommandLine(args, error);
  if (!line) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  std::string notice;
  const std::optional<std::string> home = ChooseProgramDir(line->home, error, notice);
  if (!home) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  if (line->undo || line->preview) {
    bool ok = false;
    const std::string text = line->undo ? UndoFromCommandLine(*home, *line, ok)
                                        : PreviewFromCommandLine(*home, *line->preview, ok);
    std::fputs(text.c_str(), ok ? stdout : stderr);
    return ok ? 0 : 1;
  }

  SingleInstance instance(*home);
  if (!SingleInstance::DebuggerAttached() && !instance.Acquire()) {
    // Which program holds the home: the window, or the one without a window.
    const std::string running = instance.RunningKind().empty() ? "vantrel" : instance.RunningKind();
    Dialogs::Tell(nullptr, "友情提醒:",
                  QString::fromStdString("程序已运行,无需重复运行!\n(" + running + " 正在使用 " + *home + ")"),
                  Dialogs::Icon::Information);
    instance.AskFirstToComeForward();
    return 0;
  }

  MainWindow::Options options{*home, line->backend, nullptr, line->console};
  options.startNotice = notice;
  MainWindow window(std::move(options));
  QObject::connect(&instance, &SingleInstance::ComeForwardRequested, &window, [&window] { window.ComeForward(); });

  // SIGINT and SIGTERM end the program the way "退出程序" does.
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] { window.QuitProgram(); });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
  }

  if (!window.OnMainWindowCreated()) return 0;
  window.show();
  return app.exec();
}
