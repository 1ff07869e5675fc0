#include <QApplication>

#include <cstdio>

#include "services/ServiceFactory.h"
#include "ui/FailureReport.h"
#include "ui/Program.h"

int main(int argc, char* argv[]) {
  quavelle::PrepareProcessForServices();
  if (!quavelle::DisplayAvailable()) {
    std::fputs(
        "quavelle: no display to show the window on (DISPLAY and WAYLAND_DISPLAY are not set).\n"
        "Run it inside a desktop session, or under Xvfb: xvfb-run quavelle\n",
        stderr);
    return 2;
  }
  QApplication app(argc, argv);
  return quavelle::StartProgram(
      quavelle::FactoryServices(), [](QWidget* owner, const quavelle::ServiceError& failure) {
        std::fprintf(stderr, "quavelle: %s\n",
                     quavelle::FailureText(failure).toLocal8Bit().constData());
        quavelle::ShowFailure(owner, failure);
      });
}
