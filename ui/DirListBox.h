#pragma once

#include <QTreeWidget>

#include "ui/FailureReport.h"

namespace quavelle {

// A folder tree list: the folders on the path to the open folder, then the open
// folder's subfolders. Double-clicking a folder opens it; a single click only
// highlights.
class DirListBox : public QTreeWidget {
 public:
  explicit DirListBox(QWidget* parent = nullptr);

  // The full path of the open folder, with the platform's separators.
  QString Path() const;
  // Opens the folder; a drive name ("C:") opens that drive's current folder.
  // Throws ServiceError (76) when no such folder exists, and the list stays as it was.
  void setPath(const QString& path);

  // Shows a failure to open a double-clicked folder.
  void SetFailureReporter(FailureReporter report);

  // The full path an entry stands for.
  static QString EntryPath(const QTreeWidgetItem& entry);

 private:
  void Open(const QString& folder);
  void Activated(QTreeWidgetItem* entry);

  QString path_;
  FailureReporter report_ = ShowFailure;
};

}  // namespace quavelle
