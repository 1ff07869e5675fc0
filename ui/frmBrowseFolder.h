#pragma once

#include <QDialog>
#include <QPushButton>

#include "ui/DirListBox.h"
#include "ui/DriveListBox.h"
#include "ui/FailureReport.h"

namespace quavelle {

// The folder picker, shown modally over the main window. It only hides itself;
// the window that showed it reads its lists before dropping it.
class frmBrowseFolder : public QDialog {
 public:
  frmBrowseFolder(QWidget* owner, FailureReporter reportFailure);

  // True when the user left with Cancel (or by the window frame).
  bool bCancel = false;

  DirListBox Dir1;
  DriveListBox Drive1;
  QPushButton cmdOK;
  QPushButton cmdCancel;

 protected:
  // Closing by the frame ends in here and counts as Cancel.
  void reject() override;
  // Esc does not stand for Cancel.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Form_Load();
  void Drive1_Change();
  void cmdOK_Click();
  void cmdCancel_Click();
};

}  // namespace quavelle
