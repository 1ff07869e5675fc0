#include "ui/DriveFolders.h"

#include <QDir>
#include <QFileInfo>

#include <map>

namespace quavelle {
namespace {

bool StartsWithDriveLetter(const QString& text) {
  return text.size() >= 2 && text[0].isLetter() && text[0].unicode() < 0x80 && text[1] == u':';
}

QString DriveKey(const QString& drive) {
  if (StartsWithDriveLetter(drive)) return drive.left(2).toUpper();
  return drive;
}

// Taken once, when first asked: later changes of the process's current folder
// do not move the lists.
const std::map<QString, QString>& CurrentFolders() {
  static const std::map<QString, QString> folders = [] {
    std::map<QString, QString> byDrive;
    for (const QString& drive : MachineDrives()) {
      byDrive[DriveKey(drive)] =
          QDir::toNativeSeparators(QDir(drive + QStringLiteral("/")).absolutePath());
    }
    const QString current = QDir::toNativeSeparators(QDir::currentPath());
    byDrive[DriveKey(DriveOf(current))] = current;
    return byDrive;
  }();
  return folders;
}

}  // namespace

QStringList MachineDrives() {
  QStringList drives;
  for (const QFileInfo& root : QDir::drives()) {
    const QString path = root.absolutePath();
    drives << (StartsWithDriveLetter(path) ? path.left(2).toUpper() : path);
  }
  return drives;
}

QString DriveOf(const QString& path) {
  if (StartsWithDriveLetter(path)) return path.left(2).toUpper();
  return DriveKey(QDir::rootPath());
}

bool IsDriveText(const QString& text) {
  if (!StartsWithDriveLetter(text)) return false;
  return text.size() == 2 || text[2] == u' ';
}

QString CurrentDrive() { return DriveOf(QDir::currentPath()); }

QString CurrentFolderOfDrive(const QString& text) {
  const QString key = StartsWithDriveLetter(text) ? text.left(2).toUpper() : text;
  const auto& folders = CurrentFolders();
  if (const auto found = folders.find(key); found != folders.end()) return found->second;
  return QDir::toNativeSeparators(key + QStringLiteral("/"));
}

}  // namespace quavelle
