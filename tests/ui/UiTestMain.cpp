#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  // The windows are real; without a display they still need a platform.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
