#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "TempTree.h"
#include "Unprivileged.h"
#include "core/LinkRetargeting.h"
#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/filesystem/LocalFileSystem.h"
#include "services/filesystem/LocalWalkGuard.h"

// The real walk over real trees, with the local service and guard; the
// document servers here stand in for the document-management application.
namespace quavelle {
namespace {

using testing::ModeChange;
using testing::RunUnprivileged;
using testing::TempTree;

class NoLinksDocument final : public Document {
 public:
  explicit NoLinksDocument(std::u16string path) : path_(std::move(path)) {}
  std::unique_ptr<Collection<LinkedDocument>> LinkedDocuments() override { return nullptr; }
  std::u16string FullName() override { return path_; }

 private:
  std::u16string path_;
};

// Opens every file as a document without links and records what it opened.
class RecordingDocumentServer final : public DocumentServer {
 public:
  std::unique_ptr<Document> Open(const std::u16string& path) override {
    opened.push_back(path);
    return std::make_unique<NoLinksDocument>(path);
  }
  std::vector<std::u16string> opened;
};

// A document whose one link is the file's content, so that re-pointing it
// lasts on disk, whatever path the file was opened by.
class FileLink final : public LinkedDocument {
 public:
  explicit FileLink(std::string nativePath) : nativePath_(std::move(nativePath)) {}
  std::u16string AbsolutePath() override {
    std::ifstream in(nativePath_, std::ios::binary);
    if (!in) throw ServiceError(error_number::kFileNotFound, u"File not found");
    return FromUtf8(std::string(std::istreambuf_iterator<char>(in), {}));
  }
  void SetPath(std::u16string newPath) override {
    std::ofstream out(nativePath_, std::ios::binary | std::ios::trunc);
    out << ToUtf8(newPath);
    if (!out.flush()) throw ServiceError(error_number::kPermissionDenied, u"Permission denied");
  }

 private:
  std::string nativePath_;
};

class OneLink final : public Collection<LinkedDocument>, public Enumerator<LinkedDocument> {
 public:
  explicit OneLink(std::string nativePath) : nativePath_(std::move(nativePath)) {}
  std::unique_ptr<Enumerator<LinkedDocument>> NewEnum() override {
    return std::make_unique<OneLink>(nativePath_);
  }
  std::unique_ptr<LinkedDocument> Next() override {
    if (given_) return nullptr;
    given_ = true;
    return std::make_unique<FileLink>(nativePath_);
  }

 private:
  std::string nativePath_;
  bool given_ = false;
};

class FileLinkDocument final : public Document {
 public:
  explicit FileLinkDocument(std::u16string path) : path_(std::move(path)) {}
  std::unique_ptr<Collection<LinkedDocument>> LinkedDocuments() override {
    return std::make_unique<OneLink>(TextToNativePath(path_));
  }
  std::u16string FullName() override { return path_; }

 private:
  std::u16string path_;
};

class FileLinkDocumentServer final : public DocumentServer {
 public:
  std::unique_ptr<Document> Open(const std::u16string& path) override {
    return std::make_unique<FileLinkDocument>(path);
  }
};

struct Row {
  std::u16string oldPath, newPath, container;
  bool operator==(const Row&) const = default;
};

class RecordingResults final : public ResultsList {
 public:
  void Clear() override { rows.clear(); }
  void AppendRow(const std::u16string& oldPath, const std::u16string& newPath,
                 const std::u16string& containerName) override {
    rows.push_back(Row{oldPath, newPath, containerName});
  }
  std::vector<Row> rows;
};

// One run over a real tree, as the window's Process command makes it.
struct WalkRun {
  explicit WalkRun(DocumentServer& server, std::u16string oldDrive = u"C:",
                   std::u16string newDrive = u"D:")
      : ctx{std::move(oldDrive), std::move(newDrive), server, *fso, results, *visited} {}
  std::unique_ptr<FileSystemService> fso = CreateLocalFileSystem();
  std::unique_ptr<WalkGuard> visited = CreateLocalWalkGuard();
  RecordingResults results;
  RunContext ctx;
};

std::vector<std::u16string> Walk(const std::u16string& folder) {
  RecordingDocumentServer server;
  WalkRun run(server);
  ProcessFolder(run.ctx, folder);
  return server.opened;
}

std::vector<std::u16string> Sorted(std::vector<std::u16string> paths) {
  std::sort(paths.begin(), paths.end());
  return paths;
}

std::u16string ParentOf(const std::u16string& path) { return path.substr(0, path.rfind(u'/')); }

// Depth first, files before subfolders: every folder's files and subtree form one
// run of the sequence, which starts with the folder's own files.
void ExpectDepthFirstFilesBeforeSubfolders(const std::vector<std::u16string>& opened) {
  std::map<std::u16string, std::vector<std::size_t>> subtree;  // folder -> positions
  for (std::size_t i = 0; i < opened.size(); ++i) {
    for (std::u16string folder = ParentOf(opened[i]); !folder.empty(); folder = ParentOf(folder)) {
      subtree[folder].push_back(i);
    }
  }
  for (const auto& [folder, positions] : subtree) {
    EXPECT_EQ(positions.back() - positions.front() + 1, positions.size())
        << "subtree of " << ToUtf8(folder) << " interrupted";
    bool ownFiles = true;
    for (const std::size_t i : positions) {
      const bool own = ParentOf(opened[i]) == folder;
      if (!own) ownFiles = false;
      EXPECT_FALSE(own && !ownFiles) << ToUtf8(opened[i]) << " after a subfolder's file";
    }
  }
}

constexpr int kCannotMount = 77;

// Runs body in a forked child with a mount namespace of its own, so that what it
// mounts goes with it. Returns body's result, or kCannotMount.
int RunInOwnMountNamespace(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    const bool own = ::unshare(CLONE_NEWNS) == 0 &&
                     ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    ::_exit(own ? body() : kCannotMount);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(FolderWalk, OpensEveryFileOnceDepthFirstWithFilesBeforeSubfolders) {
  TempTree tree;
  for (const char* folder : {"s1", "s1/t", "s2", "s2/u", "s2/u/v", "empty"}) tree.Folder(folder);
  const std::vector<const char*> files = {"a1.doc",     "a2.doc",   "s1/b1.doc",  "s1/b2.doc",
                                          "s1/t/c.doc", "s2/d.doc", "s2/u/e.doc", "s2/u/v/f.doc"};
  std::vector<std::u16string> expected;
  for (const char* file : files) {
    tree.File(file);
    expected.push_back(tree.Text(file));
  }

  const auto opened = Walk(tree.Text());
  EXPECT_EQ(Sorted(opened), Sorted(expected));
  ExpectDepthFirstFilesBeforeSubfolders(opened);
}

TEST(FolderWalk, FolderLinksBackIntoTheTreeEndTheWalkWithEachFileOpenedOnce) {
  TempTree tree;
  tree.File("x.doc");
  tree.Folder("sub");
  tree.File("sub/y.doc");
  tree.Symlink("..", "sub/back");
  tree.Symlink(".", "sub/self");
  tree.Symlink(tree.Root(), "sub/absolute");
  tree.Folder("sub/deeper");
  tree.Symlink("../..", "sub/deeper/up2");

  EXPECT_EQ(Sorted(Walk(tree.Text())), Sorted({tree.Text("x.doc"), tree.Text("sub/y.doc")}));
  // Entered through the loop's own link, the tree is still walked once.
  EXPECT_EQ(Walk(tree.Text("sub/back")).size(), 2u);
}

TEST(FolderWalk, FolderReachedTwiceThroughALinkIsWalkedOnce) {
  TempTree tree;
  tree.Folder("a");
  tree.Folder("a/shared");
  tree.File("a/shared/s.doc");
  tree.Folder("b");
  tree.Symlink("../a/shared", "b/alias");
  tree.Symlink(tree.Native("a/shared"), "b/alias2");

  const auto opened = Walk(tree.Text());
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_TRUE(opened[0].ends_with(u"/s.doc"));
}

TEST(FolderWalk, FileReachedThroughHardAndSymbolicLinksIsOpenedOnce) {
  TempTree tree;
  tree.File("orig.doc");
  tree.Folder("z");
  tree.HardLink("orig.doc", "z/hard.doc");
  tree.Symlink("../orig.doc", "z/soft.doc");
  tree.File("z/other.doc");

  const auto opened = Walk(tree.Text());
  EXPECT_EQ(opened.size(), 2u);
  EXPECT_EQ(std::count(opened.begin(), opened.end(), tree.Text("z/other.doc")), 1);
}

// Files come before subfolders, so here the links are met before the file's own entry.
TEST(FolderWalk, FileReachedFirstThroughLinksIsNotOpenedAgainByItsOwnEntry) {
  TempTree tree;
  tree.Folder("z");
  tree.File("z/orig.doc");
  tree.Symlink("z/orig.doc", "soft.doc");
  tree.HardLink("z/orig.doc", "hard.doc");
  tree.File("z/other.doc");

  const auto opened = Walk(tree.Text());
  EXPECT_EQ(opened.size(), 2u);
  EXPECT_EQ(std::count(opened.begin(), opened.end(), tree.Text("z/other.doc")), 1);
  EXPECT_EQ(std::count(opened.begin(), opened.end(), tree.Text("z/orig.doc")), 0);
}

// A file mounted over a folder's entry is listed with the number of the file it
// hides; the walk must still know it as the mounted file.
TEST(FolderWalk, FileMountedOverAnEntryIsKnownAsTheMountedFile) {
  TempTree tree;
  tree.File("a.doc");
  tree.Folder("sub");
  tree.File("sub/cover.doc");
  tree.File("sub/plain.doc");

  const int result = RunInOwnMountNamespace([&] {
    if (::mount(tree.Native("a.doc").c_str(), tree.Native("sub/cover.doc").c_str(), nullptr,
                MS_BIND, nullptr) != 0) {
      return kCannotMount;
    }
    const auto opened = Walk(tree.Text());
    return Sorted(opened) == Sorted({tree.Text("a.doc"), tree.Text("sub/plain.doc")}) ? 0 : 1;
  });
  if (result == kCannotMount) GTEST_SKIP() << "no mount namespace for this process";
  EXPECT_EQ(result, 0);
}

TEST(FolderWalk, PipesSocketsDevicesAndDanglingLinksAreNeverOpened) {
  TempTree tree;
  tree.File("plain.doc");
  tree.Fifo("pipe.doc");
  tree.Socket("socket.doc");
  tree.Symlink("/dev/null", "device.doc");
  tree.Symlink("missing.doc", "dangling.doc");
  tree.Symlink("loop.doc", "loop.doc");

  EXPECT_EQ(Walk(tree.Text()), std::vector<std::u16string>{tree.Text("plain.doc")});
}

TEST(FolderWalk, UnreadableSubfolderEndsTheRunWithPermissionDenied) {
  TempTree tree;
  tree.File("a.doc");
  tree.Folder("locked");
  tree.File("locked/b.doc");
  ModeChange lock(tree.Native("locked"), 0700);

  const int result = RunUnprivileged([&] {
    RecordingDocumentServer server;
    WalkRun run(server);
    try {
      ProcessFolder(run.ctx, tree.Text());
      return 1;
    } catch (const ServiceError& e) {
      const bool openedFirst = server.opened == std::vector<std::u16string>{tree.Text("a.doc")};
      return e.number() == error_number::kPermissionDenied && openedFirst ? 0 : 2;
    }
  });
  EXPECT_EQ(result, 0);
}

TEST(FolderWalk, DocumentReachedSeveralWaysIsRepointedOnce) {
  TempTree tree;
  const std::string link = R"(\\srv1\proj\a.doc)";
  tree.File("caf\xE9.doc", link);
  tree.Folder("sub");
  tree.HardLink("caf\xE9.doc", "sub/hard.doc");
  tree.Symlink("../caf\xE9.doc", "sub/soft.doc");
  tree.Symlink("..", "sub/loop");

  FileLinkDocumentServer server;
  WalkRun run(server, uR"(\\srv1)", uR"(\\srv1new)");
  ProcessFolder(run.ctx, tree.Text());

  EXPECT_EQ(tree.Read("caf\xE9.doc"), R"(\\srv1new\proj\a.doc)");
  ASSERT_EQ(run.results.rows.size(), 1u);
  EXPECT_EQ(run.results.rows[0].oldPath, FromUtf8(link));
  EXPECT_EQ(run.results.rows[0].newPath, uR"(\\srv1new\proj\a.doc)");
  EXPECT_EQ(run.results.rows[0].container, tree.Text("caf\xE9.doc"));
}

}  // namespace
}  // namespace quavelle
