#pragma once

#include <QComboBox>

#include <functional>

#include "ui/FailureReport.h"

namespace quavelle {

// A drop-down of the machine's drives.
class DriveListBox : public QComboBox {
 public:
  explicit DriveListBox(QWidget* parent = nullptr);

  // The selected drive's name ("C:", or "/" where there are no drive letters).
  QString Drive() const;
  // Selects the drive whose name the text starts with; throws ServiceError (68)
  // when the machine has no such drive. A change of selection runs the change
  // handler, and its failure reaches the caller.
  void setDrive(const QString& text);

  // Runs when the selection changes, by setDrive or by the user.
  void SetChangeHandler(std::function<void()> handler);
  // Shows a failure of the change handler when the user changed the selection.
  void SetFailureReporter(FailureReporter report);

 private:
  void UserPicked(int index);
  void Changed();

  std::function<void()> changed_;
  FailureReporter report_ = ShowFailure;
  int shown_ = -1;
};

}  // namespace quavelle
