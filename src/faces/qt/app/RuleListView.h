#pragma once
// The rule list 超级列表框2 as a keyboard user and a newcomer meet it: it
// selects its current rule as soon as it has the focus (a lone rule too),
// Space ticks, Delete asks to remove, Enter opens the editor, and while it
// is empty it says how to add the first rule.
#include <QTreeView>

namespace vantrel {

class RuleListView : public QTreeView {
  Q_OBJECT
 public:
  explicit RuleListView(QWidget* parent = nullptr);

 signals:
  void AddRequested();
  void ModifyRequested();
  void RemoveRequested();

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  bool Empty() const { return !model() || model()->rowCount() == 0; }
  // The current row, selected; false when there is none.
  bool SelectCurrent();
};

}  // namespace vantrel
