// Whole runs on mounted network shares: the folder walk, the local file
// system and the built-in document server over a tree of real packages on a
// share, against the same run on local disk. The shares are mounted by
// with-network-mounts.sh, which names a writable folder on each in
// QUAVELLE_TEST_SMBNETFS_SHARE and QUAVELLE_TEST_SSHFS_SHARE; the cases are
// skipped when neither is set.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "PackageFixture.h"
#include "core/LinkRetargeting.h"
#include "core/ResultsList.h"
#include "core/RunContext.h"
#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/docserver/BuiltinDocumentServer.h"
#include "services/filesystem/LocalFileSystem.h"
#include "services/filesystem/LocalWalkGuard.h"

namespace quavelle::docserver::testing {
namespace {

struct Share {
  std::string name;
  fs::path folder;
};

std::vector<Share> Shares() {
  std::vector<Share> shares;
  for (const char* client : {"SMBNETFS", "SSHFS"}) {
    const std::string variable = std::string("QUAVELLE_TEST_") + client + "_SHARE";
    if (const char* folder = std::getenv(variable.c_str())) shares.push_back({client, folder});
  }
  return shares;
}

// A folder on the share, removed with what it holds.
class ShareFolder {
 public:
  explicit ShareFolder(const fs::path& share)
      : path_(share / ("run-" + std::to_string(::getpid()) + "-" + std::to_string(next_++))) {
    fs::create_directories(path_);
  }
  ~ShareFolder() {
    std::error_code ignored;  // a share that refuses leaves it for the mount's cleanup
    fs::remove_all(path_, ignored);
  }
  ShareFolder(const ShareFolder&) = delete;
  ShareFolder& operator=(const ShareFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  static inline int next_ = 0;
  fs::path path_;
};

class Rows : public ResultsList {
 public:
  explicit Rows(fs::path tree) : tree_(std::move(tree)) {}
  void Clear() override { rows.clear(); }
  void AppendRow(const std::u16string& oldPath, const std::u16string& newPath,
                 const std::u16string& container) override {
    rows.insert(ToUtf8(oldPath) + " -> " + ToUtf8(newPath) + " in " +
                fs::path(ToUtf8(container)).lexically_relative(tree_).string());
  }
  std::multiset<std::string> rows;

 private:
  fs::path tree_;
};

// Packages in two levels of folders; a link to \\srv1 in four of them (one
// written in upper case), so that each document is written once.
const std::map<std::string, std::vector<Entry>>& Tree() {
  static const std::map<std::string, std::vector<Entry>> tree = {
      {"Plan.docx", DocxWith({{"word/_rels/document.xml.rels",
                               Rels(Hyperlink("rId1", "\\\\srv1\\proj\\Budget 2024.xlsx") +
                                    Hyperlink("rId2", "C:\\Data\\Notes.docx"))}})},
      {"Minutes.odt",
       OdtWith({{"content.xml", OdfContent("<text:p><text:a xlink:href=\"\\\\srv1\\proj\\m.odt\">"
                                           "m</text:a></text:p>")}})},
      {"Notes.txt", {}},
      {"Archive/Report.docx",
       DocxWith({{"word/_rels/document.xml.rels",
                  Rels(Hyperlink("rId1", "\\\\SRV1\\proj\\Old Report.docx"))}})},
      {"Archive/Other.docx", LinkedWord()},
      {"Archive/Deeper/Summary.odt",
       OdtWith(
           {{"content.xml", OdfContent("<text:p><text:a xlink:href=\"\\\\srv1\\proj\\Plan.docx\">"
                                       "p</text:a></text:p>")}})},
      {"Archive/Deeper/Kept.odt",
       OdtWith({{"content.xml", OdfContent("<text:p><text:a xlink:href=\"\\\\srv3\\x\\y.odt\">"
                                           "y</text:a></text:p>")}})},
  };
  return tree;
}

void WriteTree(const fs::path& root) {
  for (const auto& [name, entries] : Tree()) {
    fs::create_directories((root / name).parent_path());
    if (entries.empty()) {
      std::ofstream(root / name) << "plain text\n";
    } else {
      WritePackage(root / name, entries);
    }
  }
}

// The run's rows; the error number it failed with, or 0.
std::int32_t RunOver(const fs::path& tree, Rows& rows, ServerOptions options = {}) {
  auto server = CreateBuiltinDocumentServer(std::move(options));
  auto files = CreateLocalFileSystem();
  auto guard = CreateLocalWalkGuard();
  RunContext ctx{u"\\\\srv1", u"\\\\srv2", *server, *files, rows, *guard};
  return ErrorNumber([&] { ProcessFolder(ctx, NativePathToText(tree.string())); });
}

// Every file below root by its relative path, with its bytes.
std::map<std::string, std::string> Contents(const fs::path& root) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      contents[entry.path().lexically_relative(root).string()] = ReadBytes(entry.path());
    }
  }
  return contents;
}

std::vector<std::string> Names(const std::map<std::string, std::string>& contents) {
  std::vector<std::string> names;
  for (const auto& entry : contents) names.push_back(entry.first);
  return names;
}

class NetworkShareRun : public ::testing::TestWithParam<ReplaceStep> {
 protected:
  void SetUp() override {
    shares_ = Shares();
    if (shares_.empty()) GTEST_SKIP() << "no QUAVELLE_TEST_*_SHARE names a mounted share";
  }
  std::vector<Share> shares_;
};

TEST_F(NetworkShareRun, RepointsWhatTheSameRunRepointsOnLocalDiskAndLeavesNoTemporaryFile) {
  TempFolder original;
  WriteTree(original.path());
  TempFolder local;
  fs::copy(original.path(), local.path(), fs::copy_options::recursive);
  Rows localRows(local.path());
  ASSERT_EQ(RunOver(local.path(), localRows), 0);
  ASSERT_EQ(localRows.rows.size(), 4u);
  const std::map<std::string, std::string> expected = Contents(local.path());

  for (const Share& share : shares_) {
    SCOPED_TRACE(share.name);
    ShareFolder remote(share.folder);
    fs::copy(original.path(), remote.path(), fs::copy_options::recursive);
    Rows rows(remote.path());
    EXPECT_EQ(RunOver(remote.path(), rows), 0);
    EXPECT_EQ(rows.rows, localRows.rows);
    // The same files with the same bytes as on local disk: no temporary file,
    // nothing moved aside.
    const std::map<std::string, std::string> after = Contents(remote.path());
    EXPECT_EQ(Names(after), Names(expected));
    for (const auto& [name, bytes] : expected) {
      EXPECT_TRUE(after.count(name) && after.at(name) == bytes) << name << " differs";
    }
    for (const auto& [name, entries] : Tree()) {
      if (entries.empty()) continue;
      EXPECT_EQ(LinkPaths(remote.path() / name), LinkPaths(local.path() / name)) << name;
    }
  }
}

TEST_P(NetworkShareRun, AFailureHalfWayLeavesTheDocumentsAfterItUntouched) {
  for (const Share& share : shares_) {
    SCOPED_TRACE(share.name);
    ShareFolder remote(share.folder);
    WriteTree(remote.path());
    const std::map<std::string, std::string> before = Contents(remote.path());
    int written = 0;
    ServerOptions options;
    options.faultHook = [&](ReplaceStep step) {
      if (step == ReplaceStep::CreateTemp) ++written;
      return written == 3 && step == GetParam() ? EIO : 0;
    };
    Rows rows(remote.path());
    EXPECT_NE(RunOver(remote.path(), rows, std::move(options)), 0);

    // Two documents were re-pointed before the failure; every other file,
    // the failed one among them, is as it was, and nothing else is there.
    const std::map<std::string, std::string> after = Contents(remote.path());
    ASSERT_EQ(Names(after), Names(before));
    int changed = 0;
    for (const auto& [name, bytes] : before) {
      ASSERT_TRUE(after.count(name)) << name;
      changed += after.at(name) != bytes;
    }
    EXPECT_EQ(changed, 2);
    EXPECT_EQ(rows.rows.size(), 2u);
    for (const auto& [name, entries] : Tree()) {
      if (!entries.empty()) {
        EXPECT_FALSE(LinkPaths(remote.path() / name).empty()) << name;
      }
    }
  }
}

// Over SFTP a rename over a closed file is one request to the server, so a
// run killed at any moment leaves each document old or new there too.
TEST_F(NetworkShareRun, AKillOnTheSftpMountLeavesEachDocumentEntirelyOldOrEntirelyNew) {
  const auto sftp = std::ranges::find(shares_, std::string("SSHFS"), &Share::name);
  if (sftp == shares_.end()) GTEST_SKIP() << "no SFTP mount";
  constexpr int kDocuments = 4, kKills = 10;
  std::mt19937 random(7);
  TempFolder originals;
  for (int i = 0; i < kDocuments; ++i) {
    std::string filler(1 << 20, '\0');
    for (char& c : filler) c = static_cast<char>(random());
    const std::string n = std::to_string(i);
    WritePackage(originals / ("doc" + n + ".docx"),
                 DocxWith({{"word/_rels/document.xml.rels",
                            Rels(Hyperlink("rId1", "\\\\srv1\\proj\\" + n + "a.xlsx"))},
                           {"word/_rels/footer1.xml.rels",
                            Rels(Hyperlink("rId1", "\\\\srv1\\proj\\" + n + "b.xlsx"))},
                           {"word/media/filler.bin", filler, true}}));
  }
  ShareFolder remote(sftp->folder);
  const fs::path tree = remote.path() / "tree";
  auto restore = [&] {
    fs::remove_all(tree);
    fs::copy(originals.path(), tree);
  };
  restore();
  const auto start = std::chrono::steady_clock::now();
  Rows rows(tree);
  ASSERT_EQ(RunOver(tree, rows), 0);
  const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);

  int roundsWithBoth = 0;
  for (int round = 0; round < kKills; ++round) {
    restore();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      Rows childRows(tree);
      ::_exit(RunOver(tree, childRows) == 0 ? 0 : 1);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (whole.count() + 1)));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    int moved = 0;
    for (int i = 0; i < kDocuments; ++i) {
      const fs::path file = tree / ("doc" + std::to_string(i) + ".docx");
      const std::vector<std::u16string> paths = LinkPaths(file);
      ASSERT_EQ(paths.size(), 2u) << file << " round " << round;
      const int onNew = paths[0].starts_with(u"\\\\srv2") + paths[1].starts_with(u"\\\\srv2");
      EXPECT_TRUE(onNew == 0 || onNew == 2) << file << " round " << round;
      moved += onNew == 2;
    }
    roundsWithBoth += moved > 0 && moved < kDocuments;
  }
  EXPECT_GT(roundsWithBoth, 0) << "no kill landed between two documents";
}

INSTANTIATE_TEST_SUITE_P(Steps, NetworkShareRun,
                         ::testing::Values(ReplaceStep::Write, ReplaceStep::Sync,
                                           ReplaceStep::Rename),
                         [](const auto& info) {
                           switch (info.param) {
                             case ReplaceStep::Write:
                               return std::string("Write");
                             case ReplaceStep::Sync:
                               return std::string("Sync");
                             case ReplaceStep::Rename:
                               return std::string("Rename");
                             default:
                               return std::string("CreateTemp");
                           }
                         });

}  // namespace
}  // namespace quavelle::docserver::testing
