#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <set>
#include <stdexcept>

#include "ui/Main.h"

namespace quavelle {
namespace {

// The real document server, letting a test act (fail, close the window...) as
// each file is opened.
class HookedDocumentServer : public DocumentServer {
 public:
  explicit HookedDocumentServer(std::unique_ptr<DocumentServer> real) : real_(std::move(real)) {}
  std::unique_ptr<Document> Open(const std::u16string& path) override {
    if (onOpen) onOpen(path);
    return real_->Open(path);
  }
  std::function<void(const std::u16string& path)> onOpen;

 private:
  std::unique_ptr<DocumentServer> real_;
};

// Runs over a sample tree of real documents: the window, the folder walk, the
// local file system and the built-in document server.
class RunTest : public testing::Test {
 protected:
  ServiceSource Hooked() {
    ServiceSource source = FactoryServices();
    source.createDocumentServer = [this, real = source.createDocumentServer](
                                      const std::u16string& id) -> std::unique_ptr<DocumentServer> {
      auto hooked = std::make_unique<HookedDocumentServer>(real(id));
      server = hooked.get();
      return hooked;
    };
    return source;
  }
  void SetUp() override {
    QProcess::execute("bash", {QUAVELLE_SOURCE_DIR "/samples/make-samples.sh", scratch.path()});
    window.reportFailure = [this](QWidget*, const ServiceError& failure) {
      failures << QString::number(failure.number()) + " " +
                      QString::fromStdU16String(failure.description());
    };
  }
  // Each row as "old -> new in container", the container relative to the tree.
  std::multiset<QString> Run() {
    window.SearchFolder.setText(tree);
    window.OldDrive.setText(R"(\\srv1)");
    window.NewDrive.setText(R"(\\srv2)");
    window.DoIt.click();
    std::multiset<QString> rows;
    const QAbstractItemModel& model = *window.ListView1.model();
    for (int r = 0; r < model.rowCount(); ++r) {
      rows.insert(model.index(r, 0).data().toString() + " -> " +
                  model.index(r, 1).data().toString() + " in " +
                  QDir(tree).relativeFilePath(model.index(r, 2).data().toString()));
    }
    return rows;
  }

  QTemporaryDir scratch;
  const QString tree = scratch.path() + "/Projects";
  HookedDocumentServer* server = nullptr;
  Main window{Hooked()};
  QStringList failures;
};

TEST_F(RunTest, ProcessRepointsTheMatchingLinksInsideTheDocumentsAndListsThem) {
  const std::multiset<QString> moved{
      R"(\\srv1\proj\Budget 2024.xlsx -> \\srv2\proj\Budget 2024.xlsx in Plan.docx)",
      R"(\\srv1\proj\Specs\Design.docx -> \\srv2\proj\Specs\Design.docx in Plan.docx)",
      R"(\\srv1\proj\Minutes-2023.odt -> \\srv2\proj\Minutes-2023.odt in Minutes.odt)",
      R"(\\srv1\proj\Archive\Old Report.docx -> \\srv2\proj\Archive\Old Report.docx in Archive/Report.docx)",
      R"(\\SRV1\proj\Plan.docx -> \\srv2\proj\Plan.docx in Archive/Summary.odt)"};
  EXPECT_EQ(Run(), moved);
  EXPECT_TRUE(failures.empty()) << failures.join("; ").toStdString();
}

TEST_F(RunTest, FailureHalfWayIsReportedAndWhatWasDoneStaysDoneAndListed) {
  server->onOpen = [](const std::u16string& path) {
    if (path.find(u"Archive") != std::u16string::npos)
      throw ServiceError(70, u"Permission denied: Archive");
  };
  EXPECT_EQ(Run().size(), 3u);  // the links of the top folder
  EXPECT_EQ(failures, QStringList{"70 Permission denied: Archive"});
  server->onOpen = nullptr;  // written back: only the links below Archive are left
  EXPECT_EQ(Run().size(), 2u);
}

TEST_F(RunTest, FailureThatIsNoServicesIsReportedAndTheWindowStaysUsable) {
  window.show();
  server->onOpen = [](const std::u16string& path) {
    if (path.find(u"Minutes") != std::u16string::npos) throw std::bad_alloc();
    if (path.find(u"Summary") != std::u16string::npos) throw std::length_error("vector");
  };
  Run();
  Run();
  EXPECT_EQ(failures, (QStringList{"7 Out of memory", "7 Out of memory"}));
  server->onOpen = [](const std::u16string& path) {
    if (path.find(u"Summary") != std::u16string::npos) throw std::length_error("vector");
  };
  failures.clear();
  Run();
  EXPECT_EQ(failures, QStringList{"51 Internal error: vector"});
  server->onOpen = nullptr;
  failures.clear();
  Run();
  EXPECT_TRUE(failures.empty()) << failures.join("; ").toStdString();
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.DoIt.isEnabled());
  EXPECT_TRUE(window.close());
}

TEST_F(RunTest, DuringARunTheWindowRefusesToCloseAndToStartAnotherRun) {
  window.show();
  int opened = 0;
  bool closed = false;
  server->onOpen = [&](const std::u16string&) {
    ++opened;
    closed = closed || window.close();
    window.DoIt.click();
  };
  Run();
  EXPECT_EQ(opened, 5);
  EXPECT_FALSE(closed);
  EXPECT_TRUE(window.close());
}

}  // namespace
}  // namespace quavelle
