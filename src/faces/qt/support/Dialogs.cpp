#include "faces/qt/support/Dialogs.h"

#include <QColorDialog>
#include <QGuiApplication>
#include <cstdio>
#include <QDialog>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace vantrel {
namespace {

struct State {
  bool capture = false;
  std::deque<bool> answers;
  std::deque<std::int64_t> colours;
  std::vector<Dialogs::Shown> shown;
};

State& S() {
  static State state;
  return state;
}

}  // namespace

bool Dialogs::Capturing() { return S().capture || !S().answers.empty() || !S().colours.empty(); }

std::int64_t Dialogs::ChooseColour(QWidget* parent) {
  if (Capturing()) {
    if (S().colours.empty()) return -1;
    std::int64_t colour = S().colours.front();
    S().colours.pop_front();
    return colour;
  }
  QColor chosen = QColorDialog::getColor(Qt::black, parent);
  if (!chosen.isValid()) return -1;
  return chosen.red() | (chosen.green() << 8) | (chosen.blue() << 16);
}

void Dialogs::SetNextColour(std::int64_t colourRef) { S().colours.push_back(colourRef); }

namespace {

// On the offscreen platform nobody can see or answer a box: it is written
// out, and a question takes its default answer at once.
bool Unseen(const QString& caption, const QString& text) {
  if (QGuiApplication::platformName() != "offscreen") return false;
  std::fprintf(stderr, "vantrel: %s %s\n", caption.toLocal8Bit().constData(), text.toLocal8Bit().constData());
  return true;
}

}  // namespace

bool Dialogs::Ask(QWidget* parent, const QString& caption, const QString& text) {
  if (!Capturing() && Unseen(caption, text)) return true;
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
  if (!Capturing() && Unseen(caption, text)) return;
  if (Capturing()) {
    S().shown.push_back({caption, text, icon});
    return;
  }
  QMessageBox box(icon == Icon::Error ? QMessageBox::Critical : QMessageBox::Information, caption, text,
                  QMessageBox::Ok, parent);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

void Dialogs::ShowText(QWidget* parent, const QString& caption, const QString& text) {
  if (!Capturing() && Unseen(caption, text)) return;
  if (Capturing()) {
    S().shown.push_back({caption, text, Icon::Information});
    return;
  }
  QDialog dialog(parent);
  dialog.setWindowTitle(caption);
  auto* lines = new QPlainTextEdit(text, &dialog);
  lines->setObjectName("试一试结果");
  lines->setReadOnly(true);
  lines->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* close = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  QObject::connect(close, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(lines);
  layout->addWidget(close);
  dialog.resize(720, 420);
  dialog.exec();
}

void Dialogs::SetNextAnswer(bool yes) { S().answers.push_back(yes); }

void Dialogs::CaptureForTesting(bool on) {
  S().capture = on;
  if (!on) {
    S().answers.clear();
    S().colours.clear();
  }
}

std::vector<Dialogs::Shown> Dialogs::TakeShown() {
  std::vector<Shown> out;
  out.swap(S().shown);
  return out;
}

}  // namespace vantrel
