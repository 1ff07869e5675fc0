#pragma once

#include <QTreeView>

#include <functional>

#include "core/ResultsList.h"
#include "ui/ResultsModel.h"

namespace quavelle {

// The results list: a report view of the links a run re-pointed, one row per
// link, in the order they were appended. Clicking it starts nothing.
class ResultsListView : public QTreeView, public ResultsList {
 public:
  explicit ResultsListView(QWidget* parent = nullptr);
  ~ResultsListView() override;

  // Called once when the owning window loads: columns "Replaced", "with",
  // "In container", no rows, report view.
  void SetUp();

  void Clear() override;
  void AppendRow(const std::u16string& oldPath, const std::u16string& newPath,
                 const std::u16string& containerName) override;

  // Runs after every appended row, so the owner can keep the window painted
  // during a long run.
  void SetRowAppendedHook(std::function<void()> hook);

 private:
  ResultsModel model_;
  std::function<void()> rowAppended_;
};

}  // namespace quavelle
