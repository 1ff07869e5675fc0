#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>

#include "ui/Main.h"

namespace quavelle::test {
namespace {

// The whole program path: the window, the folder walk, the local file system
// and the built-in document server over real .docx and .odt packages.
class SampleTreeRunTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch.isValid());
    QProcess make;
    make.start("bash",
               {QStringLiteral(QUAVELLE_SOURCE_DIR "/samples/make-samples.sh"), scratch.path()});
    ASSERT_TRUE(make.waitForFinished(60000));
    ASSERT_EQ(make.exitCode(), 0) << make.readAllStandardError().toStdString();
    tree = QString::fromLocal8Bit(make.readAllStandardOutput()).trimmed();
    window = std::make_unique<Main>();
    window->reportFailure = [this](QWidget*, const ServiceError& failure) {
      failures << QString::number(failure.number()) + " " +
                      QString::fromStdU16String(failure.description());
    };
  }
  std::multiset<QString> Run(const QString& oldDrive, const QString& newDrive) {
    window->SearchFolder.setText(tree);
    window->OldDrive.setText(oldDrive);
    window->NewDrive.setText(newDrive);
    window->DoIt.click();
    std::multiset<QString> replaced;
    const QAbstractItemModel& rows = *window->ListView1.model();
    for (int r = 0; r < rows.rowCount(); ++r) {
      replaced.insert(rows.index(r, 0).data().toString() + " -> " +
                      rows.index(r, 1).data().toString());
    }
    return replaced;
  }

  QTemporaryDir scratch;
  QString tree;
  std::unique_ptr<Main> window;
  QStringList failures;
};

TEST_F(SampleTreeRunTest, ServerLinksAreRepointedInTheDocumentsThemselves) {
  const std::multiset<QString> expected{
      R"(\\srv1\proj\Budget 2024.xlsx -> \\srv2\proj\Budget 2024.xlsx)",
      R"(\\srv1\proj\Specs\Design.docx -> \\srv2\proj\Specs\Design.docx)",
      R"(\\srv1\proj\Minutes-2023.odt -> \\srv2\proj\Minutes-2023.odt)",
      R"(\\srv1\proj\Archive\Old Report.docx -> \\srv2\proj\Archive\Old Report.docx)",
      R"(\\SRV1\proj\Plan.docx -> \\srv2\proj\Plan.docx)"};
  EXPECT_EQ(Run(R"(\\srv1)", R"(\\srv2)"), expected);
  // Written back: nothing is left to move, and the moved links can be moved on.
  EXPECT_TRUE(Run(R"(\\srv1)", R"(\\srv2)").empty());
  EXPECT_EQ(Run(R"(C:)", R"(D:)").size(), 3u);
  EXPECT_EQ(Run(R"(\\srv2)", R"(\\srv7)").size(), 5u);
  EXPECT_TRUE(failures.empty()) << failures.join("; ").toStdString();
}

}  // namespace
}  // namespace quavelle::test
