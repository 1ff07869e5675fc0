#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <set>

#include "TestServices.h"
#include "ui/Main.h"

namespace quavelle::test {
namespace {

// Runs over the sample tree of real documents: the window, the folder walk,
// the local file system and the built-in document server.
class RunTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch.isValid());
    tree = MakeSampleTree(scratch.path());
    services = MakeTestServices();
    window = std::make_unique<Main>(services.source);
    window->reportFailure = [this](QWidget*, const ServiceError& failure) {
      failures << QString::number(failure.number()) + " " +
                      QString::fromStdU16String(failure.description());
    };
  }
  // Each row as "old -> new in container", the container relative to the tree.
  std::multiset<QString> Run(const QString& oldDrive, const QString& newDrive,
                             QString folder = {}) {
    window->SearchFolder.setText(folder.isNull() ? tree : folder);
    window->OldDrive.setText(oldDrive);
    window->NewDrive.setText(newDrive);
    window->DoIt.click();
    std::multiset<QString> rows;
    const QAbstractItemModel& model = *window->ListView1.model();
    for (int r = 0; r < model.rowCount(); ++r) {
      rows.insert(model.index(r, 0).data().toString() + " -> " +
                  model.index(r, 1).data().toString() + " in " +
                  QDir(tree).relativeFilePath(model.index(r, 2).data().toString()));
    }
    return rows;
  }

  QTemporaryDir scratch;
  QString tree;
  TestServices services;
  std::unique_ptr<Main> window;
  QStringList failures;
};

TEST_F(RunTest, ProcessRepointsTheMatchingLinksInsideTheDocumentsAndListsThem) {
  const std::multiset<QString> moved{
      R"(\\srv1\proj\Budget 2024.xlsx -> \\srv2\proj\Budget 2024.xlsx in Plan.docx)",
      R"(\\srv1\proj\Specs\Design.docx -> \\srv2\proj\Specs\Design.docx in Plan.docx)",
      R"(\\srv1\proj\Minutes-2023.odt -> \\srv2\proj\Minutes-2023.odt in Minutes.odt)",
      R"(\\srv1\proj\Archive\Old Report.docx -> \\srv2\proj\Archive\Old Report.docx in Archive/Report.docx)",
      R"(\\SRV1\proj\Plan.docx -> \\srv2\proj\Plan.docx in Archive/Summary.odt)"};
  EXPECT_EQ(Run(R"(\\srv1)", R"(\\srv2)"), moved);
  // Written back: a second run finds nothing left to move and clears the list.
  EXPECT_TRUE(Run(R"(\\srv1)", R"(\\srv2)").empty());
  EXPECT_EQ(Run("c:", "D:").size(), 3u);
  EXPECT_TRUE(failures.empty()) << failures.join("; ").toStdString();
}

TEST_F(RunTest, FolderTextIsPassedOnAsTypedWithoutTrimming) {
  Run(R"(\\srv1)", R"(\\srv2)", " " + tree);
  EXPECT_EQ(services.fileSystem->folders.at(0), u" " + tree.toStdU16String());
  EXPECT_EQ(failures.size(), 1u);
}

TEST_F(RunTest, FailureHalfWayIsReportedAndWhatWasDoneStaysDoneAndListed) {
  services.fileSystem->onFolder = [](const std::u16string& path) {
    if (path.ends_with(u"Archive")) throw ServiceError(70, u"Permission denied: Archive");
  };
  EXPECT_EQ(Run(R"(\\srv1)", R"(\\srv2)").size(), 3u);  // the links of the top folder
  EXPECT_EQ(failures, QStringList{"70 Permission denied: Archive"});
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  services.fileSystem->onFolder = nullptr;  // the window is still usable
  EXPECT_EQ(Run(R"(\\srv1)", R"(\\srv2)").size(), 2u);
}

TEST_F(RunTest, DuringARunTheWindowRefusesToCloseAndToStartAnotherRun) {
  window->show();
  std::vector<bool> closed;
  std::vector<bool> waitCursor;
  services.server->onOpen = [&](const std::u16string&) {
    closed.push_back(window->close());
    window->DoIt.click();
    const QCursor* cursor = QApplication::overrideCursor();
    waitCursor.push_back(cursor && cursor->shape() == Qt::WaitCursor);
  };
  Run(R"(\\srv1)", R"(\\srv2)");
  EXPECT_EQ(services.server->opened.size(), 5u);
  EXPECT_EQ(closed, std::vector<bool>(5, false));
  EXPECT_EQ(waitCursor, std::vector<bool>(5, true));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(window->close());
}

TEST_F(RunTest, LongRunLetsTimersAndPaintingThroughWhetherOrNotRowsAppear) {
  services.server->onOpen = [](const std::u16string&) { QThread::msleep(60); };
  for (const char* oldDrive : {R"(\\srv1)", R"(\\nowhere)"}) {
    bool firedDuringRun = false;
    QTimer::singleShot(0, [&] { firedDuringRun = window->Running(); });
    Run(oldDrive, R"(\\srv2)");
    EXPECT_TRUE(firedDuringRun) << oldDrive;
  }
}

}  // namespace
}  // namespace quavelle::test
