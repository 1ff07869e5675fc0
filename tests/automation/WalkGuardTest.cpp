#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "TempTree.h"
#include "services/ServiceFactory.h"

// The walk record on Windows, against real folders and files.
namespace quavelle::testing {
namespace {

class VolumeFileWalkGuard : public ::testing::Test {
 protected:
  TempTree tree_;
  std::unique_ptr<WalkGuard> guard_ = CreateWalkGuard();
};

TEST_F(VolumeFileWalkGuard, AFolderIsMetOnceHoweverItsPathIsSpelt) {
  const std::u16string folder = Text(tree_.AddFolder(L"Docs"));
  tree_.AddFolder(L"Docs\\inner");

  EXPECT_TRUE(guard_->FirstVisit(folder));
  EXPECT_FALSE(guard_->FirstVisit(folder));
  EXPECT_FALSE(guard_->FirstVisit(folder + u"\\"));
  EXPECT_FALSE(guard_->FirstVisit(folder + u"\\inner\\.."));
  std::u16string upper = folder;
  for (char16_t& unit : upper) {
    if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - u'a' + u'A');
  }
  EXPECT_FALSE(guard_->FirstVisit(upper));
}

TEST_F(VolumeFileWalkGuard, DistinctFoldersAndFilesAreEachNew) {
  EXPECT_TRUE(guard_->FirstVisit(Text(tree_.AddFolder(L"one"))));
  EXPECT_TRUE(guard_->FirstVisit(Text(tree_.AddFolder(L"two"))));
  EXPECT_TRUE(guard_->FirstVisit(Text(tree_.AddFile(L"one\\a.doc"))));
  EXPECT_TRUE(guard_->FirstVisit(Text(tree_.AddFile(L"one\\b.doc"))));
  EXPECT_FALSE(guard_->FirstVisit(Text(tree_.root() / L"one" / L"a.doc")));
}

TEST_F(VolumeFileWalkGuard, APathWithoutIdentityCountsAsNewEveryTime) {
  const std::u16string missing = Text(tree_.root() / L"missing");
  EXPECT_TRUE(guard_->FirstVisit(missing));
  EXPECT_TRUE(guard_->FirstVisit(missing));
  EXPECT_TRUE(guard_->FirstVisit(u""));
  EXPECT_TRUE(guard_->FirstVisit(u""));
}

TEST_F(VolumeFileWalkGuard, AFileReachedThroughASecondNameIsMetOnce) {
  const std::filesystem::path file = tree_.AddFile(L"one.doc");
  const std::filesystem::path second = tree_.root() / L"second name.doc";
  ASSERT_TRUE(CreateHardLinkW(second.c_str(), file.c_str(), nullptr)) << GetLastError();

  EXPECT_TRUE(guard_->FirstVisit(Text(file)));
  EXPECT_FALSE(guard_->FirstVisit(Text(second)));
}

TEST_F(VolumeFileWalkGuard, AFolderLinkLeadsToTheFolderItNames) {
  const std::filesystem::path target = tree_.AddFolder(L"target");
  const std::filesystem::path link = tree_.root() / L"link";
  const bool made = CreateSymbolicLinkW(
      link.c_str(), target.c_str(),
      SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  const DWORD attributes = GetFileAttributesW(link.c_str());
  if (!made || attributes == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "this system makes no folder links for an unprivileged test";
  }

  EXPECT_TRUE(guard_->FirstVisit(Text(target)));
  EXPECT_FALSE(guard_->FirstVisit(Text(link)));
}

}  // namespace
}  // namespace quavelle::testing
