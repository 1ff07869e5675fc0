#include "ui/DriveListBox.h"

#include <QSignalBlocker>

#include <utility>

#include "ui/DriveFolders.h"

namespace quavelle {
namespace {

constexpr std::int32_t kDeviceUnavailable = 68;

}  // namespace

DriveListBox::DriveListBox(QWidget* parent) : QComboBox(parent) {
  addItems(MachineDrives());
  shown_ = findText(CurrentDrive(), Qt::MatchFixedString);
  setCurrentIndex(shown_);
  // activated, unlike currentIndexChanged, comes only from the user.
  connect(this, &QComboBox::activated, this, [this](int index) { UserPicked(index); });
}

QString DriveListBox::Drive() const { return currentText(); }

void DriveListBox::setDrive(const QString& text) {
  int found = -1;
  for (int i = 0; i < count() && found < 0; ++i) {
    const QString drive = itemText(i);
    if (text.startsWith(drive, Qt::CaseInsensitive) && !drive.isEmpty()) found = i;
  }
  if (found < 0) {
    throw ServiceError(kDeviceUnavailable, u"Device unavailable: '" + text.toStdU16String() + u"'");
  }
  if (found == shown_) return;
  {
    const QSignalBlocker quiet(this);
    setCurrentIndex(found);
  }
  shown_ = found;
  Changed();
}

void DriveListBox::SetChangeHandler(std::function<void()> handler) {
  changed_ = std::move(handler);
}

void DriveListBox::SetFailureReporter(FailureReporter report) { report_ = std::move(report); }

void DriveListBox::UserPicked(int index) {
  if (index == shown_) return;
  shown_ = index;
  // A Qt signal is this event's boundary: the failure is shown here.
  try {
    Changed();
  } catch (const ServiceError& failure) {
    report_(window(), failure);
  } catch (const std::exception& failure) {
    report_(window(), UnexpectedFailure(failure));
  }
}

void DriveListBox::Changed() {
  if (changed_) changed_();
}

}  // namespace quavelle
