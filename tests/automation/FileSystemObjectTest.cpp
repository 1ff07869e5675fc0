#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "TempTree.h"
#include "core/LinkRetargeting.h"
#include "services/ServiceError.h"
#include "services/ServiceFactory.h"
#include "services/Text.h"

// The file-system service reached through automation, against the system's own
// scripting file-system object and a real folder tree.
namespace quavelle::testing {
namespace {

class FileSystemObject : public ::testing::Test {
 protected:
  std::unique_ptr<FileSystemService> fso_ = CreateObjectAs<FileSystemService>(kFileSystemProgId);
  TempTree tree_;
};

// Records which files were opened; their documents have no links.
class RecordingServer final : public DocumentServer {
 public:
  std::unique_ptr<Document> Open(const std::u16string& path) override {
    opened.push_back(ToUtf8(path));
    return std::make_unique<Unlinked>();
  }
  std::vector<std::string> opened;

 private:
  struct Unlinked final : Document {
    std::unique_ptr<Collection<LinkedDocument>> LinkedDocuments() override { return nullptr; }
    std::u16string FullName() override { return {}; }
  };
};

struct NoRows final : ResultsList {
  void Clear() override {}
  void AppendRow(const std::u16string&, const std::u16string&, const std::u16string&) override {
    ADD_FAILURE() << "a document without links gave a row";
  }
};

TEST_F(FileSystemObject, ProcessFolderOpensEveryFileOfTheTreeByItsFullPath) {
  std::vector<std::string> files;
  for (const wchar_t* name :
       {L"top.doc", L"sub\\inner.doc", L"sub\\deeper\\deepest.doc", L"side\\side.xls"}) {
    files.push_back(ToUtf8(Text(tree_.AddFile(name))));
  }
  tree_.AddFolder(L"side\\empty");
  RecordingServer server;
  NoRows results;
  const std::unique_ptr<WalkGuard> guard = CreateWalkGuard();
  RunContext ctx{u"C:", u"D:", server, *fso_, results, *guard};

  ProcessFolder(ctx, Text(tree_.root()));

  std::ranges::sort(files);
  std::ranges::sort(server.opened);
  EXPECT_EQ(server.opened, files);
}

TEST_F(FileSystemObject, AMissingFolderFailsWithPathNotFound) {
  try {
    fso_->GetFolder(Text(tree_.root() / L"missing"));
    FAIL() << "expected a ServiceError";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), error_number::kPathNotFound);
    EXPECT_EQ(e.description(), u"Path not found");
  }
}

TEST_F(FileSystemObject, GivesTheDriveNameOfALetteredPathAndKnowsTheMachinesDrives) {
  const std::u16string path = u"C:\\Data\\plan.doc";
  EXPECT_EQ(fso_->GetDriveName(path), u"C:");
  EXPECT_EQ(path, u"C:\\Data\\plan.doc") << "the caller's text is its own";
  EXPECT_EQ(fso_->GetDriveName(u"q:\\lower.doc"), u"q:");
  EXPECT_EQ(fso_->GetDriveName(u"Data\\plan.doc"), u"");

  const DWORD drives = GetLogicalDrives();
  ASSERT_NE(drives & 1u << ('C' - 'A'), 0u) << "the system drive is mapped";
  EXPECT_TRUE(fso_->DriveExists(u"C:"));
  char16_t unmapped = u'D';
  while (unmapped < u'Z' && (drives & 1u << (unmapped - u'A')) != 0) ++unmapped;
  EXPECT_FALSE(fso_->DriveExists(std::u16string{unmapped, u':'})) << static_cast<char>(unmapped);
}

}  // namespace
}  // namespace quavelle::testing
