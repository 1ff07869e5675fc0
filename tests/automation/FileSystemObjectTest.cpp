#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "TempTree.h"
#include "services/ServiceError.h"
#include "services/ServiceFactory.h"

// The file-system service reached through automation, against the system's own
// scripting file-system object. Its walk of a real tree is in the document
// server's suite, which runs ProcessFolder through both objects.
namespace quavelle::testing {
namespace {

class FileSystemObject : public ::testing::Test {
 protected:
  std::unique_ptr<FileSystemService> fso_ = CreateObjectAs<FileSystemService>(kFileSystemProgId);
};

TEST_F(FileSystemObject, AMissingFolderFailsWithPathNotFound) {
  const TempTree tree;
  try {
    fso_->GetFolder(Text(tree.root() / L"missing"));
    FAIL() << "expected a ServiceError";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), error_number::kPathNotFound);
    EXPECT_EQ(e.description(), u"Path not found");
  }
}

TEST_F(FileSystemObject, GivesTheDriveNameOfALetteredPathAndKnowsTheMachinesDrives) {
  EXPECT_EQ(fso_->GetDriveName(u"C:\\Data\\plan.doc"), u"C:");
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
