#pragma once

#include <functional>

#include "ui/FailureReport.h"
#include "ui/ServiceSource.h"

namespace quavelle {

// Whether a window can be shown at all. On Linux and the BSDs that needs an X
// or Wayland display, or a Qt platform named explicitly; isSet tells whether an
// environment variable is set and not empty.
bool DisplayAvailable(const std::function<bool(const char* name)>& isSet);
bool DisplayAvailable();

// Loads the main window and runs until it is unloaded. When a service object
// cannot be created the failure is reported and the result is 1.
int StartProgram(ServiceSource services, const FailureReporter& report);

}  // namespace quavelle
