#include "ui/DirListBox.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QStyle>

#include <utility>

#include "ui/DriveFolders.h"

namespace quavelle {
namespace {

constexpr int kPathRole = Qt::UserRole;

// The folders from the root down to folder itself, as full native paths.
QStringList FoldersDownTo(const QString& folder) {
  QStringList chain;
  QDir dir(folder);
  chain.prepend(QDir::toNativeSeparators(dir.absolutePath()));
  while (dir.cdUp()) chain.prepend(QDir::toNativeSeparators(dir.absolutePath()));
  return chain;
}

QString EntryName(const QString& path) {
  const QString name = QFileInfo(path).fileName();
  return name.isEmpty() ? path : name;
}

}  // namespace

DirListBox::DirListBox(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setExpandsOnDoubleClick(false);
  setUniformRowHeights(true);
  setIndentation(12);
  connect(this, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* entry, int) { Activated(entry); });
  // The process's current folder may have been removed since it was taken.
  const QString start = CurrentFolderOfDrive(CurrentDrive());
  Open(QFileInfo(start).isDir() ? start : QDir::rootPath());
}

QString DirListBox::Path() const { return path_; }

void DirListBox::setPath(const QString& path) {
  if (IsDriveText(path)) {
    Open(CurrentFolderOfDrive(path));
  } else {
    Open(path);
  }
}

void DirListBox::SetFailureReporter(FailureReporter report) { report_ = std::move(report); }

QString DirListBox::EntryPath(const QTreeWidgetItem& entry) {
  return entry.data(0, kPathRole).toString();
}

void DirListBox::Open(const QString& folder) {
  const QFileInfo info(folder);
  if (folder.isEmpty() || !info.isDir()) {
    throw ServiceError(error_number::kPathNotFound,
                       u"Path not found: '" + folder.toStdU16String() + u"'");
  }
  const QString absolute = QDir::toNativeSeparators(QDir::cleanPath(info.absoluteFilePath()));
  const QStringList chain = FoldersDownTo(absolute);
  const QStringList subfolders =
      QDir(absolute).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);

  const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
  clear();
  QTreeWidgetItem* parentEntry = nullptr;
  for (const QString& step : chain) {
    auto* entry = parentEntry ? new QTreeWidgetItem(parentEntry) : new QTreeWidgetItem(this);
    entry->setText(0, EntryName(step));
    entry->setData(0, kPathRole, step);
    entry->setIcon(0, openIcon);
    entry->setExpanded(true);
    parentEntry = entry;
  }
  for (const QString& name : subfolders) {
    auto* entry = new QTreeWidgetItem(parentEntry);
    entry->setText(0, name);
    entry->setData(0, kPathRole, QDir::toNativeSeparators(QDir(absolute).filePath(name)));
    entry->setIcon(0, closedIcon);
  }
  setCurrentItem(parentEntry);
  path_ = absolute;
}

void DirListBox::Activated(QTreeWidgetItem* entry) {
  if (entry == nullptr) return;
  // A Qt signal is this event's boundary: the failure is shown here.
  try {
    Open(EntryPath(*entry));
  } catch (const ServiceError& failure) {
    report_(window(), failure);
  } catch (const std::exception& failure) {
    report_(window(), UnexpectedFailure(failure));
  }
}

}  // namespace quavelle
