#pragma once

#include <QString>

#include <exception>
#include <functional>

#include "services/ServiceError.h"

class QWidget;

namespace quavelle {

// Shows a failure to the user at the boundary of an event procedure.
using FailureReporter = std::function<void(QWidget* owner, const ServiceError& failure)>;

// A failure that is no service's (out of memory, a failed internal check)
// as the window reports it: 7 for memory, 51 for the rest, with its text.
ServiceError UnexpectedFailure(const std::exception& failure);

// "Error <number>: <description>".
QString FailureText(const ServiceError& failure);

// A modal message box over owner (or on its own when owner is null).
void ShowFailure(QWidget* owner, const ServiceError& failure);

}  // namespace quavelle
