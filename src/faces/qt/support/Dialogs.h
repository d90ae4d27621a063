#pragma once
// Questions and error reports. Tests answer questions in advance and read
// back what would have been shown, instead of a modal box blocking them.
#include <QString>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

class QWidget;

namespace vantrel {

class Dialogs {
 public:
  enum class Icon { Information, Question, Error };
  struct Shown {
    QString caption;
    QString text;
    Icon icon;
  };

  // A Yes/No question; true for Yes.
  static bool Ask(QWidget* parent, const QString& caption, const QString& text);
  static void Tell(QWidget* parent, const QString& caption, const QString& text, Icon icon);
  // A long text to read (a list of what a rule would do), scrollable.
  static void ShowText(QWidget* parent, const QString& caption, const QString& text);

  // The colour dialog: the chosen colour as a COLORREF (0x00BBGGRR), or -1
  // when it was cancelled. Nothing is preselected.
  static std::int64_t ChooseColour(QWidget* parent);

  // While answers are queued (or capture is on), nothing is shown on screen:
  // questions take the next answer, No when none is left; the colour dialog
  // the next colour, a cancel when none is left.
  static void SetNextAnswer(bool yes);
  static void SetNextColour(std::int64_t colourRef);
  static void CaptureForTesting(bool on);
  static std::vector<Shown> TakeShown();

 private:
  static bool Capturing();
};

}  // namespace vantrel
