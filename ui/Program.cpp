#include "ui/Program.h"

#include <QApplication>
#include <QtGlobal>

#include <memory>
#include <utility>

#include "ui/Main.h"

namespace quavelle {

bool DisplayAvailable(const std::function<bool(const char* name)>& isSet) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && !defined(Q_OS_ANDROID)
  return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM");
#else
  (void)isSet;
  return true;
#endif
}

bool DisplayAvailable() {
  return DisplayAvailable([](const char* name) { return !qEnvironmentVariableIsEmpty(name); });
}

int StartProgram(ServiceSource services, const FailureReporter& report) {
  std::unique_ptr<Main> window;
  try {
    window = std::make_unique<Main>(std::move(services));
  } catch (const ServiceError& failure) {
    report(nullptr, failure);
    return 1;
  } catch (const std::exception& failure) {
    report(nullptr, UnexpectedFailure(failure));
    return 1;
  }
  window->show();
  return QApplication::exec();
}

}  // namespace quavelle
