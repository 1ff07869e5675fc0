#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

#include "ui/DriveFolders.h"
#include "ui/Main.h"
#include "ui/frmBrowseFolder.h"

namespace quavelle {
namespace {

class MainWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    window.reportFailure = [this](QWidget*, const ServiceError& failure) {
      failures.push_back(failure.number());
    };
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  }
  QSize ListTwips() const { return window.ListView1.size() * 15; }
  void Resize(QSize size) {
    window.resize(size);
    QApplication::processEvents();
  }
  // Presses Browse and lets act play the user while the picker is shown.
  // Returns whether the picker was shown.
  bool Browse(const std::function<void(frmBrowseFolder&)>& act) {
    bool shown = false;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
      auto* picker = dynamic_cast<frmBrowseFolder*>(QApplication::activeModalWidget());
      shown = picker != nullptr;
      if (!picker) return;
      act(*picker);
      if (picker->isVisible()) picker->hide();  // a broken act must not hang the test
    });
    user.setSingleShot(true);
    user.start(0);
    window.cmdBrowse.click();
    return shown;
  }

  Main window;
  std::vector<std::int32_t> failures;
};

QTreeWidgetItem* EntryFor(DirListBox& list, const QString& path) {
  for (QTreeWidgetItemIterator it(&list); *it; ++it) {
    if (DirListBox::EntryPath(**it) == QDir::toNativeSeparators(path)) return *it;
  }
  return nullptr;
}

// As the platform delivers it: press, release, double-click press, release.
void DoubleClick(DirListBox& list, const QString& path) {
  QTreeWidgetItem* entry = EntryFor(list, path);
  ASSERT_NE(entry, nullptr) << path.toStdString();
  const QPoint at = list.visualItemRect(entry).center();
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
  QMouseEvent twice(QEvent::MouseButtonDblClick, at, list.viewport()->mapToGlobal(at),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(list.viewport(), &twice);
  QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, at);
}

TEST_F(MainWindowTest, LoadListsTheThreeHeadersAndNoRows) {
  const QAbstractItemModel& rows = *window.ListView1.model();
  QStringList headers;
  for (int c = 0; c < rows.columnCount(); ++c)
    headers << rows.headerData(c, Qt::Horizontal).toString();
  EXPECT_EQ(headers, (QStringList{"Replaced", "with", "In container"}));
  EXPECT_EQ(rows.rowCount(), 0);
}

TEST_F(MainWindowTest, ListFillsTheClientAreaWhenShownAndFollowsItsGrowth) {
  EXPECT_EQ(ListTwips(), QSize(10590, 3405));
  const QPoint corner = window.ListView1.pos();
  Resize(window.size() + QSize(100, 40));
  EXPECT_EQ(ListTwips(), QSize(10590 + 1500, 3405 + 600));
  EXPECT_EQ(window.ListView1.pos(), corner);
}

TEST_F(MainWindowTest, WindowSmallerThanTheListCornerHidesTheListUntilThereIsRoomAgain) {
  const QSize design = window.size();
  for (const QSize tiny : {QSize(5, 300), QSize(700, 120)}) {
    Resize(tiny);
    EXPECT_FALSE(window.ListView1.isVisible()) << tiny.width() << "x" << tiny.height();
    EXPECT_TRUE(window.isVisible());
  }
  Resize(design);
  EXPECT_TRUE(window.ListView1.isVisible());
  EXPECT_EQ(ListTwips(), QSize(10590, 3405));
}

TEST_F(MainWindowTest, ProcessHasTheFocusAndTabVisitsTheControlsInOrder) {
  QStringList visited{QApplication::focusWidget()->objectName()};
  for (int i = 0; i < 7; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited << QApplication::focusWidget()->objectName();
  }
  EXPECT_EQ(visited, (QStringList{"DoIt", "ListView1", "SearchFolder", "cmdBrowse", "OldDrive",
                                  "NewDrive", "cmdCancel", "DoIt"}));
}

TEST_F(MainWindowTest, EnterInATextBoxStartsNoRun) {
  // A run over the folder "x" would fail and be reported.
  for (QLineEdit* box : {&window.SearchFolder, &window.OldDrive, &window.NewDrive}) {
    box->setFocus();
    QTest::keyClicks(box, "x");
    QTest::keyClick(box, Qt::Key_Return);
    QTest::keyClick(box, Qt::Key_Enter);
  }
  EXPECT_TRUE(failures.empty());
}

TEST_F(MainWindowTest, BrowseTakesTheOpenedFolderOnOkOnlyAndForgetsARemovedOneAfterSayingSo) {
  QTemporaryDir tree;
  ASSERT_TRUE(QDir(tree.path()).mkpath("b/inner"));
  const QString b = QDir::toNativeSeparators(tree.path() + "/b");
  const QString current = QDir::toNativeSeparators(QDir::currentPath());
  QString opened;
  ASSERT_TRUE(Browse([&](frmBrowseFolder& picker) {
    opened = picker.Dir1.Path();
    picker.Dir1.setPath(tree.path());
    DoubleClick(picker.Dir1, b);
    QTest::mouseClick(picker.Dir1.viewport(), Qt::LeftButton, {},
                      picker.Dir1.visualItemRect(EntryFor(picker.Dir1, b + "/inner")).center());
    picker.cmdOK.click();
  }));
  EXPECT_EQ(opened, current);
  EXPECT_EQ(window.SearchFolder.text(), b);  // opened, not merely highlighted
  EXPECT_EQ(window.strSearchFolder, b.toStdU16String());
  EXPECT_EQ(window.strSearchDrive, CurrentDrive().left(2).toStdU16String());

  // Cancel, or closing by the frame, changes nothing; Esc and Enter do not leave.
  window.SearchFolder.setText("typed");  // by hand: not remembered
  const std::function<void(frmBrowseFolder&)> leaveWithout[] = {
      [](frmBrowseFolder& picker) { picker.cmdCancel.click(); },
      [](frmBrowseFolder& picker) { picker.close(); },
  };
  for (const auto& leave : leaveWithout) {
    opened.clear();
    ASSERT_TRUE(Browse([&](frmBrowseFolder& picker) {
      opened = picker.Dir1.Path();
      DoubleClick(picker.Dir1, tree.path());
      QTest::keyClick(&picker, Qt::Key_Escape);
      QTest::keyClick(&picker.Dir1, Qt::Key_Return);
      EXPECT_TRUE(picker.isVisible());
      leave(picker);
    }));
    EXPECT_EQ(opened, b);
    EXPECT_EQ(window.SearchFolder.text(), "typed");
    EXPECT_EQ(window.strSearchFolder, b.toStdU16String());
  }

  ASSERT_TRUE(QDir(b).removeRecursively());
  EXPECT_FALSE(Browse([](frmBrowseFolder& picker) { picker.cmdOK.click(); }));
  EXPECT_EQ(failures, std::vector<std::int32_t>{76});
  EXPECT_EQ(window.SearchFolder.text(), "typed");
  EXPECT_TRUE(window.strSearchDrive.empty() && window.strSearchFolder.empty());
  opened.clear();
  EXPECT_TRUE(Browse([&](frmBrowseFolder& picker) {
    opened = picker.Dir1.Path();
    picker.cmdCancel.click();
  }));
  EXPECT_EQ(opened, current);
  EXPECT_EQ(failures.size(), 1u);
}

}  // namespace
}  // namespace quavelle
