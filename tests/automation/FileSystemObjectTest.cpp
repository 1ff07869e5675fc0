#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
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

std::vector<std::string> Sorted(std::vector<std::string> texts) {
  std::ranges::sort(texts);
  return texts;
}

template <class Element>
std::vector<std::string> PathsOf(Collection<Element>& collection) {
  std::vector<std::string> paths;
  const std::unique_ptr<Enumerator<Element>> each = collection.NewEnum();
  while (const std::unique_ptr<Element> element = each->Next()) {
    paths.push_back(ToUtf8(element->Path()));
  }
  return paths;
}

std::string Utf8(const std::filesystem::path& path) { return ToUtf8(Text(path)); }

class FileSystemObject : public ::testing::Test {
 protected:
  std::unique_ptr<FileSystemService> fso_ = CreateObjectAs<FileSystemService>(kFileSystemProgId);
  TempTree tree_;
};

TEST_F(FileSystemObject, AFolderListsItsOwnFilesAndSubfoldersWithTheirFullPaths) {
  const auto a = tree_.AddFile(L"a.doc");
  const auto b = tree_.AddFile(L"b.xls");
  const auto sub1 = tree_.AddFolder(L"sub1");
  const auto sub2 = tree_.AddFolder(L"sub2");
  tree_.AddFile(L"sub1\\deeper.doc");

  const std::unique_ptr<Folder> root = fso_->GetFolder(Text(tree_.root()));

  EXPECT_EQ(ToUtf8(root->Path()), Utf8(tree_.root()));
  EXPECT_EQ(Sorted(PathsOf(*root->Files())), Sorted({Utf8(a), Utf8(b)}));
  EXPECT_EQ(Sorted(PathsOf(*root->subfolders())), Sorted({Utf8(sub1), Utf8(sub2)}));
  const std::unique_ptr<Folder> first = fso_->GetFolder(Text(sub1));
  EXPECT_EQ(PathsOf(*first->Files()), std::vector<std::string>{Utf8(sub1 / L"deeper.doc")});
  EXPECT_TRUE(PathsOf(*first->subfolders()).empty());
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

TEST_F(FileSystemObject, DriveExistsFollowsTheMachinesDrives) {
  const DWORD drives = GetLogicalDrives();
  ASSERT_NE(drives & 1u << ('C' - 'A'), 0u) << "the system drive is mapped";
  EXPECT_TRUE(fso_->DriveExists(u"C:"));
  EXPECT_FALSE(fso_->DriveExists(u""));
  for (char16_t letter = u'D'; letter <= u'Y'; ++letter) {
    if ((drives & 1u << (letter - u'A')) == 0) {
      EXPECT_FALSE(fso_->DriveExists(std::u16string{letter, u':'})) << static_cast<char>(letter);
      break;
    }
  }
}

// Wine's scripting file-system object gives drive names for drive letters only.
bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

struct DriveNameCase {
  const char* name;
  const char16_t* path;
  const char16_t* driveName;
  bool network = false;
};
void PrintTo(const DriveNameCase& c, std::ostream* out) { *out << c.name; }

class DriveNames : public FileSystemObject, public ::testing::WithParamInterface<DriveNameCase> {};

TEST_P(DriveNames, AreTheDrivePartCopiedFromThePath) {
  if (GetParam().network && UnderWine()) GTEST_SKIP() << "no network drive names under Wine";
  const std::u16string path = GetParam().path;
  EXPECT_EQ(ToUtf8(fso_->GetDriveName(path)), ToUtf8(GetParam().driveName));
  EXPECT_EQ(path, GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    FileSystemObject, DriveNames,
    ::testing::Values(DriveNameCase{"Letter", u"C:\\Data\\plan.doc", u"C:"},
                      DriveNameCase{"LowerCaseLetter", u"q:\\lower.doc", u"q:"},
                      DriveNameCase{"BareDrive", u"E:", u"E:"},
                      DriveNameCase{"Share", u"\\\\srv1\\proj\\a.doc", u"\\\\srv1\\proj", true},
                      DriveNameCase{"ShareOnly", u"\\\\srv1\\proj", u"\\\\srv1\\proj", true},
                      DriveNameCase{"Relative", u"Data\\plan.doc", u""},
                      DriveNameCase{"Empty", u"", u""}),
    [](const ::testing::TestParamInfo<DriveNameCase>& info) { return info.param.name; });

// Opens nothing but records which file was asked for, in order.
class RecordingServer final : public DocumentServer {
 public:
  std::unique_ptr<Document> Open(const std::u16string& path) override {
    opened.push_back(ToUtf8(path));
    return std::make_unique<LinkedFile>(path);
  }
  std::vector<std::string> opened;

 private:
  // A document with one link, to the same name on drive C:.
  class Link final : public LinkedDocument {
   public:
    explicit Link(std::u16string path) : path_(std::move(path)) {}
    std::u16string AbsolutePath() override { return path_; }
    void SetPath(std::u16string) override {}

   private:
    std::u16string path_;
  };
  class LinkedFile final : public Document, public Collection<LinkedDocument> {
   public:
    explicit LinkedFile(std::u16string path) : path_(std::move(path)) {}
    std::unique_ptr<Collection<LinkedDocument>> LinkedDocuments() override {
      return std::make_unique<LinkedFile>(path_);
    }
    std::u16string FullName() override { return path_; }
    std::unique_ptr<Enumerator<LinkedDocument>> NewEnum() override {
      return std::make_unique<Once>(u"C:\\linked\\" + path_.substr(path_.rfind(u'\\') + 1));
    }

   private:
    class Once final : public Enumerator<LinkedDocument> {
     public:
      explicit Once(std::u16string link) : link_(std::move(link)) {}
      std::unique_ptr<LinkedDocument> Next() override {
        if (given_) return nullptr;
        given_ = true;
        return std::make_unique<Link>(link_);
      }

     private:
      std::u16string link_;
      bool given_ = false;
    };
    std::u16string path_;
  };
};

class Rows final : public ResultsList {
 public:
  void Clear() override { rows.clear(); }
  void AppendRow(const std::u16string& oldPath, const std::u16string& newPath,
                 const std::u16string&) override {
    rows.push_back(ToUtf8(oldPath) + " -> " + ToUtf8(newPath));
  }
  std::vector<std::string> rows;
};

TEST_F(FileSystemObject, ProcessFolderOpensEveryFileOfTheTreeEachFolderBeforeItsSubfolders) {
  const auto top = tree_.AddFile(L"top.doc");
  const auto inner = tree_.AddFile(L"sub\\inner.doc");
  const auto deepest = tree_.AddFile(L"sub\\deeper\\deepest.doc");
  const auto side = tree_.AddFile(L"side\\side.doc");
  RecordingServer server;
  Rows results;
  const std::unique_ptr<WalkGuard> guard = CreateWalkGuard();
  RunContext ctx{u"c:", u"\\\\srv2\\share", server, *fso_, results, *guard};

  ProcessFolder(ctx, Text(tree_.root()));

  EXPECT_EQ(Sorted(server.opened), Sorted({Utf8(top), Utf8(inner), Utf8(deepest), Utf8(side)}));
  const auto at = [&](const std::filesystem::path& file) {
    return std::ranges::find(server.opened, Utf8(file)) - server.opened.begin();
  };
  EXPECT_LT(at(top), at(inner));
  EXPECT_LT(at(top), at(side));
  EXPECT_LT(at(inner), at(deepest));
  // The drive names came from the service: every link on C: was re-pointed.
  EXPECT_EQ(results.rows.size(), 4u);
  EXPECT_NE(std::ranges::find(results.rows,
                              "C:\\linked\\deepest.doc -> \\\\srv2\\share\\linked\\deepest.doc"),
            results.rows.end());
}

}  // namespace
}  // namespace quavelle::testing
