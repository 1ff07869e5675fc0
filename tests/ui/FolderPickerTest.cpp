#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

#include "TestServices.h"
#include "ui/DriveFolders.h"
#include "ui/Main.h"
#include "ui/frmBrowseFolder.h"

namespace quavelle::test {
namespace {

QTreeWidgetItem* EntryFor(const DirListBox& list, const QString& path) {
  for (QTreeWidgetItemIterator it(const_cast<DirListBox*>(&list)); *it; ++it) {
    if (DirListBox::EntryPath(**it) == QDir::toNativeSeparators(path)) return *it;
  }
  return nullptr;
}

class FolderPickerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree.isValid());
    for (const char* sub : {"b/inner", "a", "c"}) ASSERT_TRUE(QDir(tree.path()).mkpath(sub));
    services = MakeTestServices();
    window = std::make_unique<Main>(services.source);
    window->reportFailure = [this](QWidget*, const ServiceError& failure) {
      failures.push_back(failure.number());
    };
    window->show();
  }
  // Presses Browse and lets act play the user while the picker is shown.
  // Returns whether the picker was shown.
  bool Browse(const std::function<void(frmBrowseFolder&)>& act) {
    bool shown = false;
    QTimer user;
    user.setSingleShot(true);
    QObject::connect(&user, &QTimer::timeout, [&] {
      auto* picker = dynamic_cast<frmBrowseFolder*>(QApplication::activeModalWidget());
      shown = picker != nullptr;
      if (!picker) return;
      act(*picker);
      if (picker->isVisible()) picker->hide();  // a broken act must not hang the test
    });
    user.start(0);
    window->cmdBrowse.click();
    return shown;
  }
  void DoubleClick(DirListBox& list, const QString& path) {
    QTreeWidgetItem* entry = EntryFor(list, path);
    ASSERT_NE(entry, nullptr) << path.toStdString();
    // As the platform delivers it: press, release, double-click press, release.
    const QPoint at = list.visualItemRect(entry).center();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
    QMouseEvent twice(QEvent::MouseButtonDblClick, at, list.viewport()->mapToGlobal(at),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &twice);
    QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, at);
  }
  QString Native(const QString& name) const {
    return QDir::toNativeSeparators(tree.path() + "/" + name);
  }

  QTemporaryDir tree;
  TestServices services;
  std::unique_ptr<Main> window;
  std::vector<std::int32_t> failures;
};

TEST_F(FolderPickerTest, FirstBrowseOpensOnTheCurrentFolderAndOkTakesTheOpenedFolder) {
  QString firstPath;
  QStringList tabOrder;
  const bool shown = Browse([&](frmBrowseFolder& picker) {
    firstPath = picker.Dir1.Path();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&picker));
    for (int stop = 0; stop < 4; ++stop) {
      QWidget* focus = QApplication::focusWidget();
      tabOrder << (focus ? focus->objectName() : "none");
      if (focus) QTest::keyClick(focus, Qt::Key_Tab);
    }
    EXPECT_EQ(picker.Drive1.Drive(), CurrentDrive());
    picker.Dir1.setPath(tree.path());
    DoubleClick(picker.Dir1, Native("b"));
    QTest::mouseClick(
        picker.Dir1.viewport(), Qt::LeftButton, {},
        picker.Dir1.visualItemRect(EntryFor(picker.Dir1, Native("b/inner"))).center());
    picker.cmdOK.click();
  });
  ASSERT_TRUE(shown);
  EXPECT_EQ(firstPath, QDir::toNativeSeparators(QDir::currentPath()));
  EXPECT_EQ(tabOrder, (QStringList{"Drive1", "Dir1", "cmdCancel", "cmdOK"}));
  EXPECT_EQ(services.fileSystem->drivesAsked, std::vector<std::u16string>{u""});
  EXPECT_EQ(window->SearchFolder.text(), Native("b"));  // opened, not merely highlighted
  EXPECT_EQ(window->strSearchFolder, Native("b").toStdU16String());
  EXPECT_EQ(window->strSearchDrive, CurrentDrive().left(2).toStdU16String());
}

TEST_F(FolderPickerTest, NextBrowseReopensThePickedFolderAndCancelFrameOrEscChangeNothing) {
  Browse([&](frmBrowseFolder& picker) {
    picker.Dir1.setPath(Native("c"));
    picker.cmdOK.click();
  });
  window->SearchFolder.setText(Native("a"));  // typed by hand: not remembered
  const std::function<void(frmBrowseFolder&)> leaveWithout[] = {
      [](frmBrowseFolder& picker) { picker.cmdCancel.click(); },
      [](frmBrowseFolder& picker) { picker.close(); },
  };
  for (const auto& leave : leaveWithout) {
    QString reopened;
    bool cancelled = false;
    ASSERT_TRUE(Browse([&](frmBrowseFolder& picker) {
      reopened = picker.Dir1.Path();
      DoubleClick(picker.Dir1, tree.path());
      QTest::keyClick(&picker, Qt::Key_Escape);
      QTest::keyClick(&picker.Dir1, Qt::Key_Return);
      EXPECT_TRUE(picker.isVisible());
      leave(picker);
      cancelled = picker.bCancel;
    }));
    EXPECT_EQ(reopened, Native("c"));
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(window->SearchFolder.text(), Native("a"));
    EXPECT_EQ(window->strSearchFolder, Native("c").toStdU16String());
  }
}

TEST_F(FolderPickerTest, RemovedRememberedFolderIsReportedOnceThenForgotten) {
  Browse([&](frmBrowseFolder& picker) {
    picker.Dir1.setPath(Native("b/inner"));
    picker.cmdOK.click();
  });
  ASSERT_TRUE(QDir(Native("b")).removeRecursively());

  EXPECT_FALSE(Browse([](frmBrowseFolder& picker) { picker.cmdOK.click(); }));
  EXPECT_EQ(failures, std::vector<std::int32_t>{76});
  EXPECT_EQ(window->SearchFolder.text(), Native("b/inner"));
  EXPECT_TRUE(window->strSearchDrive.empty() && window->strSearchFolder.empty());

  QString reopened;
  EXPECT_TRUE(Browse([&](frmBrowseFolder& picker) {
    reopened = picker.Dir1.Path();
    picker.cmdCancel.click();
  }));
  EXPECT_EQ(reopened, QDir::toNativeSeparators(QDir::currentPath()));
  EXPECT_EQ(failures.size(), 1u);
}

TEST_F(FolderPickerTest, FolderListShowsThePathDownToTheFolderThenItsSubfoldersByName) {
  frmBrowseFolder picker(window.get(), window->reportFailure);
  picker.Dir1.setPath(tree.path() + "/b/..");
  EXPECT_EQ(picker.Dir1.Path(), QDir::toNativeSeparators(tree.path()));
  QTreeWidgetItem* open = picker.Dir1.currentItem();
  ASSERT_NE(open, nullptr);
  QStringList below;
  for (int i = 0; i < open->childCount(); ++i) below << DirListBox::EntryPath(*open->child(i));
  EXPECT_EQ(below, (QStringList{Native("a"), Native("b"), Native("c")}));
  QStringList above;
  for (QTreeWidgetItem* up = open->parent(); up; up = up->parent())
    above.prepend(DirListBox::EntryPath(*up));
  EXPECT_EQ(above.first(), QDir::toNativeSeparators(QDir::rootPath()));
  EXPECT_EQ(above.size() + 1,
            QDir::cleanPath(tree.path()).count('/') + (QDir::rootPath() == "/" ? 1 : 0));

  try {
    picker.Dir1.setPath(Native("missing"));
    FAIL() << "opened a folder that does not exist";
  } catch (const ServiceError& failure) {
    EXPECT_EQ(failure.number(), 76);
  }
  EXPECT_EQ(picker.Dir1.Path(), QDir::toNativeSeparators(tree.path()));
  EXPECT_THROW(picker.Drive1.setDrive("\x01:"), ServiceError);
}

}  // namespace
}  // namespace quavelle::test
