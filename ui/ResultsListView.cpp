#include "ui/ResultsListView.h"

#include <QHeaderView>

#include <utility>

namespace quavelle {

ResultsListView::ResultsListView(QWidget* parent) : QTreeView(parent) {
  setModel(&model_);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSortingEnabled(false);
  header()->setSectionsClickable(false);
  header()->setSectionsMovable(false);
  setExpandsOnDoubleClick(false);
  setItemsExpandable(false);
}

// The model is a member and goes before the view's base; detach it first so
// the view never reaches a destroyed model.
ResultsListView::~ResultsListView() { setModel(nullptr); }

void ResultsListView::SetUp() {
  model_.SetHeaders(
      {QStringLiteral("Replaced"), QStringLiteral("with"), QStringLiteral("In container")});
  model_.RemoveAllRows();
  // The report view: rows without tree decoration, all of one height.
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
}

void ResultsListView::Clear() { model_.RemoveAllRows(); }

void ResultsListView::AppendRow(const std::u16string& oldPath, const std::u16string& newPath,
                                const std::u16string& containerName) {
  model_.Append({QString::fromStdU16String(oldPath), QString::fromStdU16String(newPath),
                 QString::fromStdU16String(containerName)});
  if (rowAppended_) rowAppended_();
}

void ResultsListView::SetRowAppendedHook(std::function<void()> hook) {
  rowAppended_ = std::move(hook);
}

}  // namespace quavelle
