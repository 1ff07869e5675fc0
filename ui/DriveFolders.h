#pragma once

#include <QString>
#include <QStringList>

// The machine's drives and, for this process, one current folder per drive.
namespace quavelle {

// The drives as the drive list names them: "C:", "D:" ... where drives have
// letters, "/" where the file system has one root.
QStringList MachineDrives();

// The drive a full path lies on, named as MachineDrives() names it.
QString DriveOf(const QString& path);

// True for a drive name given without a folder: "C:" or "c: [label]", but not "C:\x".
bool IsDriveText(const QString& text);

// The drive of the process's current folder.
QString CurrentDrive();

// The current folder of the drive whose name text starts with: the process's
// current folder for its own drive, the drive's root for the others.
QString CurrentFolderOfDrive(const QString& text);

}  // namespace quavelle
