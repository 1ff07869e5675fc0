#include <QApplication>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include "LineDocumentServer.h"
#include "ui/Main.h"

namespace quavelle::test {
namespace {

using Rows = std::vector<std::array<QString, 3>>;

class RunTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree.isValid());
    services = MakeTestServices();
    window = std::make_unique<Main>(services.source);
    window->reportFailure = [this](QWidget*, const ServiceError& failure) {
      failures.push_back(QString::number(failure.number()) + " " +
                         QString::fromStdU16String(failure.description()));
    };
    // One document per folder, so the walk order is the same on every file system.
    WriteLines(Path("a.txt"),
               {R"(\\srv1\proj\plan.doc)", R"(E:\Other\x.doc)", R"(\\SRV1\share\b.doc)"});
    WriteLines(Path("sub/b.txt"), {R"(\\srv10\proj\c.doc)", "relative.doc"});
    WriteLines(Path("sub/deeper/c.txt"), {R"(\\srv1\proj\d.doc)"});
  }
  std::string Path(const std::string& name) const {
    return (tree.path() + "/" + name.c_str()).toStdString();
  }
  QString QPath(const std::string& name) const { return QString::fromStdString(Path(name)); }
  void Run(const QString& folder, const QString& oldDrive, const QString& newDrive) {
    window->SearchFolder.setText(folder);
    window->OldDrive.setText(oldDrive);
    window->NewDrive.setText(newDrive);
    window->DoIt.click();
  }
  Rows Listed() const {
    Rows rows;
    const QAbstractItemModel& model = *window->ListView1.model();
    for (int r = 0; r < model.rowCount(); ++r) {
      rows.push_back({model.index(r, 0).data().toString(), model.index(r, 1).data().toString(),
                      model.index(r, 2).data().toString()});
    }
    return rows;
  }

  QTemporaryDir tree;
  TestServices services;
  std::unique_ptr<Main> window;
  QStringList failures;
};

TEST_F(RunTest, ProcessRepointsAndListsEveryMatchingLinkInWalkOrder) {
  Run(tree.path(), "srv1", "srv2");
  ASSERT_TRUE(failures.empty()) << failures.join("; ").toStdString();
  EXPECT_EQ(Listed(),
            (Rows{{R"(\\srv1\proj\plan.doc)", R"(\\srv2\proj\plan.doc)", QPath("a.txt")},
                  {R"(\\SRV1\share\b.doc)", R"(\\srv2\share\b.doc)", QPath("a.txt")},
                  {R"(\\srv10\proj\c.doc)", R"(\\srv20\proj\c.doc)", QPath("sub/b.txt")},
                  {R"(\\srv1\proj\d.doc)", R"(\\srv2\proj\d.doc)", QPath("sub/deeper/c.txt")}}));
  EXPECT_EQ(services.server->setPaths.size(), 4u);

  Run(tree.path(), "nowhere", "x");  // a second run starts from an empty list
  EXPECT_TRUE(Listed().empty());
}

TEST_F(RunTest, FolderTextIsPassedOnAsTypedWithoutTrimming) {
  Run(" " + tree.path() + " ", "srv1", "srv2");
  EXPECT_EQ(services.fileSystem->folders.at(0), u" " + tree.path().toStdU16String() + u" ");
  EXPECT_EQ(failures.size(), 1u);
  EXPECT_TRUE(Listed().empty());
}

TEST_F(RunTest, FailureHalfWayKeepsEarlierRowsAndReportsNumberAndDescription) {
  services.server->onOpen = [](const std::u16string& path) {
    if (path.ends_with(u"b.txt")) throw ServiceError(70, u"Permission denied: b.txt");
  };
  Run(tree.path(), "srv1", "srv2");
  EXPECT_EQ(failures, QStringList{"70 Permission denied: b.txt"});
  EXPECT_EQ(Listed().size(), 2u);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(window->Running());

  services.server->onOpen = nullptr;  // the window is still usable
  Run(tree.path(), "srv1", "srv2");
  EXPECT_EQ(Listed().size(), 4u);
}

TEST_F(RunTest, DuringARunTheWindowRefusesToCloseAndToStartAnotherRun) {
  window->show();
  std::vector<bool> closed;
  std::vector<Qt::CursorShape> cursors;
  services.server->onOpen = [&](const std::u16string&) {
    closed.push_back(window->close());
    window->DoIt.click();
    cursors.push_back(QApplication::overrideCursor() ? QApplication::overrideCursor()->shape()
                                                     : Qt::ArrowCursor);
  };
  Run(tree.path(), "srv1", "srv2");
  EXPECT_EQ(closed, std::vector<bool>(3, false));
  EXPECT_EQ(cursors, std::vector<Qt::CursorShape>(3, Qt::WaitCursor));
  EXPECT_EQ(services.server->opened.size(), 3u);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(window->close());
}

TEST_F(RunTest, LongRunLetsTimersAndPaintingThroughWhileRowsAppear) {
  bool firedDuringRun = false;
  QTimer::singleShot(0, [&] { firedDuringRun = window->Running(); });
  services.server->onOpen = [](const std::u16string&) { QThread::msleep(60); };
  Run(tree.path(), "srv1", "srv2");
  EXPECT_TRUE(firedDuringRun);
}

}  // namespace
}  // namespace quavelle::test
