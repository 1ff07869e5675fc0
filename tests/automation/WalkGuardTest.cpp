#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "TempTree.h"
#include "services/ServiceFactory.h"
#include "services/Text.h"

namespace quavelle::testing {
namespace {

TEST(VolumeFileWalkGuard, MeetsAFolderOrFileOnceHoweverItsPathIsSpeltOrLinked) {
  const TempTree tree;
  const std::u16string docs = Text(tree.AddFolder(L"Docs"));
  const std::u16string inner = Text(tree.AddFolder(L"Docs\\inner"));
  const std::filesystem::path file = tree.AddFile(L"Docs\\a.doc");
  const std::filesystem::path second = tree.root() / L"second name.doc";
  ASSERT_TRUE(CreateHardLinkW(second.c_str(), file.c_str(), nullptr)) << GetLastError();
  std::u16string upper = docs;
  for (char16_t& unit : upper) {
    if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - u'a' + u'A');
  }
  const std::unique_ptr<WalkGuard> guard = CreateWalkGuard();

  EXPECT_TRUE(guard->FirstVisit(docs));
  EXPECT_TRUE(guard->FirstVisit(inner));
  EXPECT_TRUE(guard->FirstVisit(Text(file)));
  for (const std::u16string& again : {docs, docs + u"\\", inner + u"\\..", upper, Text(second)}) {
    EXPECT_FALSE(guard->FirstVisit(again)) << ToUtf8(again);
  }
  // What has no identity is left for the service to report, however often it comes.
  const std::u16string missing = Text(tree.root() / L"missing");
  EXPECT_TRUE(guard->FirstVisit(missing));
  EXPECT_TRUE(guard->FirstVisit(missing));
}

}  // namespace
}  // namespace quavelle::testing
