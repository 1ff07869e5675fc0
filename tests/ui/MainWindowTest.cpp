#include <QApplication>
#include <QHeaderView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "TestServices.h"
#include "ui/Main.h"

namespace quavelle::test {
namespace {

class MainWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    services = MakeTestServices();
    window = std::make_unique<Main>(services.source);
    window->reportFailure = [this](QWidget*, const ServiceError& failure) {
      failures.push_back(failure.number());
    };
  }
  void Show() {
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }
  QSize ListTwips() const { return window->ListView1.size() * 15; }

  TestServices services;
  std::unique_ptr<Main> window;
  std::vector<std::int32_t> failures;
};

TEST_F(MainWindowTest, LoadCreatesBothServicesAndListsThreeHeadersWithoutRows) {
  std::vector<std::u16string> asked;
  ServiceSource source = MakeTestServices().source;
  source.createDocumentServer = [&, inner = source.createDocumentServer](const std::u16string& id) {
    asked.push_back(id);
    return inner(id);
  };
  source.createFileSystem = [&, inner = source.createFileSystem](const std::u16string& id) {
    asked.push_back(id);
    return inner(id);
  };
  Main loaded(source);
  EXPECT_EQ(asked,
            (std::vector<std::u16string>{u"Morvane.Application", u"Scripting.FileSystemObject"}));
  const QAbstractItemModel& rows = *loaded.ListView1.model();
  QStringList headers;
  for (int c = 0; c < rows.columnCount(); ++c)
    headers << rows.headerData(c, Qt::Horizontal).toString();
  EXPECT_EQ(headers, (QStringList{"Replaced", "with", "In container"}));
  EXPECT_EQ(rows.rowCount(), 0);
  EXPECT_TRUE(loaded.strSearchDrive.empty() && loaded.strSearchFolder.empty());
}

TEST_F(MainWindowTest, ListFillsTheClientAreaWhenShownAndFollowsItsGrowth) {
  Show();
  EXPECT_EQ(window->size(), QSize(714, 363));
  EXPECT_EQ(ListTwips(), QSize(10590, 3405));

  std::vector<QRect> above;
  for (QWidget* w :
       {static_cast<QWidget*>(&window->fraSearch), static_cast<QWidget*>(&window->fraDrvSrv),
        static_cast<QWidget*>(&window->DoIt), static_cast<QWidget*>(&window->cmdCancel)}) {
    above.push_back(w->geometry());
  }
  const QPoint corner = window->ListView1.pos();
  window->resize(714 + 100, 363 + 40);
  QApplication::processEvents();
  EXPECT_EQ(ListTwips(), QSize(10590 + 1500, 3405 + 600));
  EXPECT_EQ(window->ListView1.pos(), corner);
  EXPECT_EQ(window->fraSearch.geometry(), above[0]);
  EXPECT_EQ(window->fraDrvSrv.geometry(), above[1]);
  EXPECT_EQ(window->DoIt.geometry(), above[2]);
  EXPECT_EQ(window->cmdCancel.geometry(), above[3]);
}

TEST_F(MainWindowTest, WindowSmallerThanTheListCornerHidesTheListUntilThereIsRoomAgain) {
  Show();
  for (const QSize tiny : {QSize(5, 300), QSize(700, 120), QSize(8, 136)}) {
    window->resize(tiny);
    QApplication::processEvents();
    EXPECT_FALSE(window->ListView1.isVisible()) << tiny.width() << "x" << tiny.height();
    EXPECT_TRUE(window->isVisible());
  }
  window->DoIt.click();  // still usable: the run fails on the empty folder and says so
  EXPECT_EQ(failures.size(), 1u);
  window->resize(714, 363);
  QApplication::processEvents();
  EXPECT_TRUE(window->ListView1.isVisible());
  EXPECT_EQ(ListTwips(), QSize(10590, 3405));
}

TEST_F(MainWindowTest, ProcessHasTheFocusAndTabVisitsTheControlsInOrder) {
  Show();
  QStringList visited{QApplication::focusWidget()->objectName()};
  for (int i = 0; i < 7; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited << QApplication::focusWidget()->objectName();
  }
  EXPECT_EQ(visited, (QStringList{"DoIt", "ListView1", "SearchFolder", "cmdBrowse", "OldDrive",
                                  "NewDrive", "cmdCancel", "DoIt"}));
}

TEST_F(MainWindowTest, EnterInATextBoxStartsNoRun) {
  Show();
  for (QLineEdit* box : {&window->SearchFolder, &window->OldDrive, &window->NewDrive}) {
    box->setFocus();
    QTest::keyClicks(box, "x");
    QTest::keyClick(box, Qt::Key_Return);
    QTest::keyClick(box, Qt::Key_Enter);
  }
  EXPECT_TRUE(services.fileSystem->folders.empty());
  EXPECT_TRUE(failures.empty());
}

TEST_F(MainWindowTest, ListKeepsAppendOrderAndIgnoresHeaderClicksAndEditKeys) {
  Show();
  ResultsListView& list = window->ListView1;
  for (const char16_t* path : {u"C:\\b", u"C:\\a", u"C:\\b"}) list.AppendRow(path, u"D:", u"doc");
  QTest::mouseClick(list.header()->viewport(), Qt::LeftButton, {},
                    QPoint(list.header()->sectionPosition(0) + 5, 5));
  list.setCurrentIndex(list.model()->index(1, 0));
  QTest::keyClick(&list, Qt::Key_F2);
  QTest::mouseDClick(list.viewport(), Qt::LeftButton, {},
                     list.visualRect(list.model()->index(1, 0)).center());
  EXPECT_TRUE(list.viewport()->findChildren<QLineEdit*>().isEmpty());  // no editor opened
  QStringList column;
  for (int r = 0; r < list.model()->rowCount(); ++r)
    column << list.model()->index(r, 0).data().toString();
  EXPECT_EQ(column, (QStringList{"C:\\b", "C:\\a", "C:\\b"}));
}

TEST_F(MainWindowTest, CancelClosesTheWindowAndEndsTheProgram) {
  Show();
  QTimer::singleShot(0, &window->cmdCancel, &QPushButton::click);
  QTimer stuck;  // fails the test instead of hanging it
  QObject::connect(&stuck, &QTimer::timeout, [] { QCoreApplication::exit(99); });
  stuck.start(5000);
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_FALSE(window->isVisible());
}

}  // namespace
}  // namespace quavelle::test
