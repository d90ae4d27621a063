#include "support/Dialogs.h"

#include <QMessageBox>

namespace vantrel {
namespace {

struct State {
  bool capture = false;
  std::deque<bool> answers;
  std::vector<Dialogs::Shown> shown;
};

State& S() {
  static State state;
  return state;
}

}  // namespace

bool Dialogs::Capturing() { return S().capture || !S().answers.empty(); }

bool Dialogs::Ask(QWidget* parent, const QString& caption, const QString& text) {
  if (Capturing()) {
    S().shown.push_back({caption, text, Icon::Question});
    if (S().answers.empty()) return false;
    bool yes = S().answers.front();
    S().answers.pop_front();
    return yes;
  }
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
  box.setWindowModality(Qt::ApplicationModal);
  return box.exec() == QMessageBox::Yes;
}

void Dialogs::Tell(QWidget* parent, const QString& caption, const QString& text, Icon icon) {
  if (Capturing()) {
    S().shown.push_back({caption, text, icon});
    return;
  }
  QMessageBox box(icon == Icon::Error ? QMessageBox::Critical : QMessageBox::Information, caption, text,
                  QMessageBox::Ok, parent);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

void Dialogs::SetNextAnswer(bool yes) { S().answers.push_back(yes); }

void Dialogs::CaptureForTesting(bool on) {
  S().capture = on;
  if (!on) S().answers.clear();
}

std::vector<Dialogs::Shown> Dialogs::TakeShown() {
  std::vector<Shown> out;
  out.swap(S().shown);
  return out;
}

}  // namespace vantrel
