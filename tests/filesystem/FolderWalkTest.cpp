#include <sys/mount.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TempTree.h"
#include "core/LinkRetargeting.h"
#include "services/Text.h"
#include "services/filesystem/LocalFileSystem.h"
#include "services/filesystem/LocalWalkGuard.h"

// The real walk over real trees, with the local service and guard; the document
// server only records what the walk opens.
namespace quavelle {
namespace {

using testing::TempTree;
using Paths = std::vector<std::u16string>;

class NoLinksDocument final : public Document {
 public:
  explicit NoLinksDocument(std::u16string path) : path_(std::move(path)) {}
  std::unique_ptr<Collection<LinkedDocument>> LinkedDocuments() override { return nullptr; }
  std::u16string FullName() override { return path_; }

 private:
  std::u16string path_;
};

class RecordingDocumentServer final : public DocumentServer {
 public:
  std::unique_ptr<Document> Open(const std::u16string& path) override {
    opened.push_back(path);
    return std::make_unique<NoLinksDocument>(path);
  }
  Paths opened;
};

class NoResults final : public ResultsList {
 public:
  void Clear() override {}
  void AppendRow(const std::u16string&, const std::u16string&, const std::u16string&) override {}
};

// One run, as the window's Process command makes it; the paths opened, in order.
Paths Walk(const std::u16string& folder) {
  RecordingDocumentServer server;
  auto fso = CreateLocalFileSystem();
  auto visited = CreateLocalWalkGuard();
  NoResults results;
  RunContext ctx{u"C:", u"D:", server, *fso, results, *visited};
  ProcessFolder(ctx, folder);
  return server.opened;
}

Paths Sorted(Paths paths) {
  std::sort(paths.begin(), paths.end());
  return paths;
}

int CountEndingWith(const Paths& paths, std::u16string_view end) {
  return static_cast<int>(std::count_if(paths.begin(), paths.end(),
                                        [&](const auto& path) { return path.ends_with(end); }));
}

TEST(FolderWalk, OpensEveryFileOnceDepthFirstWithFilesBeforeSubfolders) {
  TempTree tree;
  for (const char* folder : {"s1", "s1/t", "s2", "empty"}) tree.Folder(folder);
  for (const char* file : {"a1.doc", "a2.doc", "s1/b.doc", "s1/t/c.doc", "s2/d.doc"}) {
    tree.File(file);
  }
  const Paths opened = Walk(tree.Text());
  ASSERT_EQ(opened.size(), 5u);
  // The service's order decides only between the two root files and between s1 and s2.
  EXPECT_EQ(Sorted({opened[0], opened[1]}), (Paths{tree.Text("a1.doc"), tree.Text("a2.doc")}));
  const Paths s1First = {tree.Text("s1/b.doc"), tree.Text("s1/t/c.doc"), tree.Text("s2/d.doc")};
  const Paths s2First = {tree.Text("s2/d.doc"), tree.Text("s1/b.doc"), tree.Text("s1/t/c.doc")};
  const Paths rest(opened.begin() + 2, opened.end());
  EXPECT_TRUE(rest == s1First || rest == s2First) << ToUtf8(rest[0]) << " " << ToUtf8(rest[1]);
}

TEST(FolderWalk, LinkLoopsEndAndAFolderReachedTwiceIsWalkedOnce) {
  TempTree tree;
  tree.File("x.doc");
  tree.Folder("sub");
  tree.File("sub/y.doc");
  tree.Symlink("..", "sub/back");
  tree.Symlink(".", "sub/self");
  tree.Symlink(tree.Root(), "sub/absolute");
  tree.Folder("sub/deeper");
  tree.Symlink("../..", "sub/deeper/up2");
  tree.Folder("shared");
  tree.File("shared/s.doc");
  tree.Symlink("../shared", "sub/alias");
  tree.Symlink(tree.Native("shared"), "sub/deeper/alias2");

  for (const Paths& opened : {Walk(tree.Text()), Walk(tree.Text("sub/back"))}) {
    ASSERT_EQ(opened.size(), 3u);  // entered through the loop's own link as well
    EXPECT_EQ(CountEndingWith(opened, u"/x.doc"), 1);
    EXPECT_EQ(CountEndingWith(opened, u"/y.doc"), 1);
    EXPECT_EQ(CountEndingWith(opened, u"/s.doc"), 1);
  }
}

// Files come before subfolders, so "first" meets the file before its links and
// "second" meets the links first. The names check the guard finds them on disk.
TEST(FolderWalk, FileReachedThroughHardAndSymbolicLinksIsOpenedOnceInEitherOrder) {
  TempTree tree;
  for (const char* folder : {"first", "first/z", "second", "second/z"}) tree.Folder(folder);
  tree.File("first/caf\xE9.doc");
  tree.HardLink("first/caf\xE9.doc", "first/z/hard\xFF.doc");
  tree.Symlink("../caf\xE9.doc", "first/z/soft.doc");
  tree.File("second/z/caf\xE9.doc");
  tree.Symlink("z/caf\xE9.doc", "second/soft.doc");
  tree.HardLink("second/z/caf\xE9.doc", "second/hard\xFF.doc");
  for (const char* folder : {"first", "second"}) {
    tree.File(std::string(folder) + "/z/other.doc");
    const Paths opened = Walk(tree.Text(folder));
    EXPECT_EQ(opened.size(), 2u) << folder;
    EXPECT_EQ(CountEndingWith(opened, u"/z/other.doc"), 1) << folder;
  }
}

// A file mounted over a folder's entry is listed with the number of the file it
// hides; the walk must still know it as the mounted file.
TEST(FolderWalk, FileMountedOverAnEntryIsKnownAsTheMountedFile) {
  TempTree tree;
  tree.File("a.doc");
  tree.Folder("sub");
  tree.File("sub/cover.doc");
  tree.File("sub/plain.doc");

  const int result = testing::RunInOwnMountNamespace([&] {
    if (::mount(tree.Native("a.doc").c_str(), tree.Native("sub/cover.doc").c_str(), nullptr,
                MS_BIND, nullptr) != 0) {
      return testing::kNoMount;
    }
    const Paths opened = Walk(tree.Text());
    return opened.size() == 2 && CountEndingWith(opened, u"/sub/plain.doc") == 1 ? 0 : 1;
  });
  if (result == testing::kNoMount) GTEST_SKIP() << "no mount namespace for this process";
  EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace quavelle
