#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <array>
#include <vector>

namespace quavelle {

// The rows of the results list, kept in append order in one vector so that a
// run of many thousand links stays cheap to list.
class ResultsModel : public QAbstractTableModel {
 public:
  using Row = std::array<QString, 3>;

  explicit ResultsModel(QObject* parent = nullptr);

  // Sets the column headers; until then the list has no columns.
  void SetHeaders(const Row& headers);
  void RemoveAllRows();
  void Append(Row row);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  std::vector<QString> headers_;
  std::vector<Row> rows_;
};

}  // namespace quavelle
