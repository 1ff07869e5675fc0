#include "ui/ResultsModel.h"

#include <utility>

namespace quavelle {

ResultsModel::ResultsModel(QObject* parent) : QAbstractTableModel(parent) {}

void ResultsModel::SetHeaders(const Row& headers) {
  beginResetModel();
  headers_.assign(headers.begin(), headers.end());
  endResetModel();
}

void ResultsModel::RemoveAllRows() {
  if (rows_.empty()) return;
  beginResetModel();
  rows_.clear();
  rows_.shrink_to_fit();
  endResetModel();
}

void ResultsModel::Append(Row row) {
  const int at = static_cast<int>(rows_.size());
  beginInsertRows({}, at, at);
  rows_.push_back(std::move(row));
  endInsertRows();
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  const auto row = static_cast<std::size_t>(index.row());
  const auto column = static_cast<std::size_t>(index.column());
  if (row >= rows_.size() || column >= headers_.size()) return {};
  return rows_[row][column];
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      static_cast<std::size_t>(section) >= headers_.size()) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  return headers_[static_cast<std::size_t>(section)];
}

// Rows can be selected but not edited, dragged or checked.
Qt::ItemFlags ResultsModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

}  // namespace quavelle
