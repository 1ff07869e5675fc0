#include "ui/FailureReport.h"

#include <QMessageBox>

namespace quavelle {

QString FailureText(const ServiceError& failure) {
  return QStringLiteral("Error %1: %2")
      .arg(failure.number())
      .arg(QString::fromStdU16String(failure.description()));
}

void ShowFailure(QWidget* owner, const ServiceError& failure) {
  QMessageBox::critical(owner, QStringLiteral("Quavelle"), FailureText(failure));
}

}  // namespace quavelle
