#include "ui/FailureReport.h"

#include <QMessageBox>

#include <new>

namespace quavelle {

ServiceError UnexpectedFailure(const std::exception& failure) {
  if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr) {
    return ServiceError(7, u"Out of memory");
  }
  return ServiceError(
      51, u"Internal error: " + QString::fromLocal8Bit(failure.what()).toStdU16String());
}

QString FailureText(const ServiceError& failure) {
  return QStringLiteral("Error %1: %2")
      .arg(failure.number())
      .arg(QString::fromStdU16String(failure.description()));
}

void ShowFailure(QWidget* owner, const ServiceError& failure) {
  QMessageBox::critical(owner, QStringLiteral("Quavelle"), FailureText(failure));
}

}  // namespace quavelle
