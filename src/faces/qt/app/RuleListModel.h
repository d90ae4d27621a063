#pragma once
// Shows the engine's rule list to the view 超级列表框2 and passes the user's
// ticks back to it. The rules themselves live in the engine's RuleStore.
#include "engine/RuleStore.h"
#include "faces/shared/FaceTexts.h"

#include <QAbstractTableModel>

namespace vantrel {

class RuleListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  RuleListModel(RuleStore& store, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  RuleStore& store_;
};

}  // namespace vantrel
