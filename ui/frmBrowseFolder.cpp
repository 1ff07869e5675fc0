#include "ui/frmBrowseFolder.h"

#include <QKeyEvent>

#include <utility>

#include "ui/Twips.h"

namespace quavelle {

frmBrowseFolder::frmBrowseFolder(QWidget* owner, FailureReporter reportFailure)
    : QDialog(owner),
      Dir1(this),
      Drive1(this),
      cmdOK(QStringLiteral("OK"), this),
      cmdCancel(QStringLiteral("Cancel"), this) {
  setWindowTitle(QStringLiteral("Select Folder"));
  resize(TwipsToPixels(4695), TwipsToPixels(6015));
  setModal(true);

  Dir1.setObjectName(QStringLiteral("Dir1"));
  Drive1.setObjectName(QStringLiteral("Drive1"));
  cmdOK.setObjectName(QStringLiteral("cmdOK"));
  cmdCancel.setObjectName(QStringLiteral("cmdCancel"));
  Dir1.setGeometry(TwipsRect(120, 120, 4455, 5265));
  Drive1.setGeometry(TwipsRect(120, 5520, 2655, 315));
  cmdOK.setGeometry(TwipsRect(2880, 5520, 735, 375));
  cmdCancel.setGeometry(TwipsRect(3720, 5520, 855, 375));

  // Enter presses neither button.
  for (QPushButton* button : {&cmdOK, &cmdCancel}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  setTabOrder(&Drive1, &Dir1);
  setTabOrder(&Dir1, &cmdCancel);
  setTabOrder(&cmdCancel, &cmdOK);
  Drive1.setFocus();

  Dir1.SetFailureReporter(reportFailure);
  Drive1.SetFailureReporter(std::move(reportFailure));
  Drive1.SetChangeHandler([this] { Drive1_Change(); });
  connect(&cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
  connect(&cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
  Form_Load();
}

void frmBrowseFolder::reject() { cmdCancel_Click(); }

void frmBrowseFolder::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->ignore();
    return;
  }
  QDialog::keyPressEvent(event);
}

void frmBrowseFolder::Form_Load() { bCancel = false; }

void frmBrowseFolder::Drive1_Change() { Dir1.setPath(Drive1.Drive()); }

void frmBrowseFolder::cmdOK_Click() { hide(); }

void frmBrowseFolder::cmdCancel_Click() {
  bCancel = true;
  hide();
}

}  // namespace quavelle
