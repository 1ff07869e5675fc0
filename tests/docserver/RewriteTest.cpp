#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <tuple>

#include "PackageFixture.h"
#include "services/docserver/BuiltinDocumentServer.h"

namespace quavelle::docserver::testing {
namespace {

constexpr const char* kHyperlink =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink";

std::string External(const std::string& id, const std::string& target) {
  return "<Relationship Id=\"" + id + "\" Type=\"" + kHyperlink + "\" Target=\"" + target +
         "\" TargetMode=\"External\"/>";
}

// A word-processing package with two links in the document's rels and one in a footer's.
struct WordDocument {
  TempFolder folder;
  fs::path file = folder / "letter.docx";
  std::string documentRels =
      Rels(External("rId1", "file:///C:\\Data\\plan%20a.xlsx") +
           "<Relationship Id=\"rId2\" Type=\"x\" Target=\"media/image1.png\"/>\r\n  " +
           External("rId3", "file:///C:/old/data.xlsx!Tables!R1C1:R5C5"));
  std::string footerRels = Rels(External("rId1", "C:\\Data\\footer.docx"));

  WordDocument() {
    WritePackage(file, DocxWith({{"word/_rels/document.xml.rels", documentRels},
                                 {"word/media/image1.png", std::string(3000, '\x7f')},
                                 {"word/_rels/footer1.xml.rels", footerRels}}));
  }
};

struct Stat {
  ino_t inode;
  timespec modified;
  mode_t mode;
  uid_t owner;
};

Stat StatOf(const fs::path& file) {
  struct stat st {};
  EXPECT_EQ(::stat(file.c_str(), &st), 0);
  return {st.st_ino, st.st_mtim, st.st_mode & 07777, st.st_uid};
}

TEST(Rewrite, ChangesOnlyThatLinkKeepsItsFormAndItemAndEscapesMarkup) {
  WordDocument word;
  auto server = CreateBuiltinDocumentServer();
  std::unique_ptr<Document> document = server->Open(U16(word.file.string()));
  const std::u16string odd = u"D:\\R&D \"Q1\" <draft>\\data.xlsx";
  LinkAt(*document, 1)->SetPath(odd);

  EXPECT_EQ(LinkPaths(*server, word.file),
            (std::vector<std::u16string>{u"C:\\Data\\plan a.xlsx", odd, u"C:\\Data\\footer.docx"}));
  // Every byte of the part but the value itself is as it was.
  const std::string before = word.documentRels;
  const std::string after = ReadEntry(word.file, "word/_rels/document.xml.rels");
  const std::string old = "file:///C:/old/data.xlsx!Tables!R1C1:R5C5";
  std::size_t at = before.find(old);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(after.substr(0, at), before.substr(0, at));
  std::size_t tail = before.size() - at - old.size();
  EXPECT_EQ(after.substr(after.size() - tail), before.substr(at + old.size()));
  std::string value = after.substr(at, after.size() - tail - at);
  EXPECT_TRUE(value.starts_with("file:///D:")) << value;
  EXPECT_TRUE(value.ends_with("data.xlsx!Tables!R1C1:R5C5")) << value;
  EXPECT_EQ(value.find_first_of("<\""), std::string::npos) << value;
  EXPECT_EQ(value.find("&D"), std::string::npos) << value;
}

TEST(Rewrite, CopiesEveryOtherEntryRawInTheSameOrder) {
  TempFolder folder;
  fs::path file = folder / "text.odt";
  std::string picture(5000, '\0');
  for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<char>(i * 7 % 251);
  WritePackage(file, OdtWith({{"content.xml", OdfContent("<text:a xlink:href=\"file:///C:/"
                                                         "Data/a.ods\">a</text:a>")},
                              {"Pictures/1.png", picture, true},
                              {"styles.xml", OdfContent("")}}));
  std::vector<RawEntry> before = ReadRawEntries(file);

  auto server = CreateBuiltinDocumentServer();
  std::unique_ptr<Document> document = server->Open(U16(file.string()));
  LinkAt(*document, 0)->SetPath(u"E:\\Data\\a.ods");

  std::vector<RawEntry> after = ReadRawEntries(file);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after[0].name, "mimetype");
  EXPECT_EQ(after[0].method, 0) << "mimetype must stay stored";
  for (std::size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(after[i].name, before[i].name);
    if (before[i].name == "content.xml") {
      EXPECT_NE(after[i].compressed, before[i].compressed);
    } else {
      EXPECT_EQ(after[i], before[i]) << before[i].name;
    }
  }
  EXPECT_EQ(LinkPaths(*server, file), std::vector<std::u16string>{u"E:\\Data\\a.ods"});
}

TEST(Rewrite, LaterChangesBuildOnEarlierOnesInOneAndSeveralParts) {
  WordDocument word;
  auto server = CreateBuiltinDocumentServer();
  std::unique_ptr<Document> document = server->Open(U16(word.file.string()));
  std::unique_ptr<LinkedDocument> first = LinkAt(*document, 0);
  std::unique_ptr<LinkedDocument> second = LinkAt(*document, 1);
  std::unique_ptr<LinkedDocument> footer = LinkAt(*document, 2);
  first->SetPath(u"D:\\Data\\plan a.xlsx");
  second->SetPath(u"D:\\old\\data.xlsx");
  footer->SetPath(u"D:\\Data\\footer.docx");
  first->SetPath(u"E:\\Data\\plan a.xlsx");

  EXPECT_EQ(first->AbsolutePath(), u"E:\\Data\\plan a.xlsx");
  EXPECT_EQ(LinkPaths(*document),
            (std::vector<std::u16string>{u"E:\\Data\\plan a.xlsx", u"D:\\old\\data.xlsx",
                                         u"D:\\Data\\footer.docx"}));
  EXPECT_EQ(LinkPaths(*server, word.file), LinkPaths(*document));
  EXPECT_EQ(document->FullName(), U16(word.file.string()));
}

// The access list lets user 65534 read: tag, permissions, id per entry.
std::string ReadableByNobodyAcl() {
  std::string acl("\x02\0\0\0", 4);
  for (auto [tag, perm, id] : {std::tuple{1u, 6u, ~0u},
                               {2u, 4u, 65534u},
                               {4u, 4u, ~0u},
                               {0x10u, 4u, ~0u},
                               {0x20u, 0u, ~0u}}) {
    for (int i = 0; i < 2; ++i) acl += static_cast<char>(tag >> (8 * i));
    for (int i = 0; i < 2; ++i) acl += static_cast<char>(perm >> (8 * i));
    for (int i = 0; i < 4; ++i) acl += static_cast<char>(id >> (8 * i));
  }
  return acl;
}

std::string Attribute(const fs::path& file, const char* name) {
  std::string value(256, '\0');
  ssize_t n = ::getxattr(file.c_str(), name, value.data(), value.size());
  value.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  return value;
}

TEST(Rewrite, ReplacesASymlinksTargetKeepingModeOwnerAndAttributesButNotForNoChange) {
  WordDocument word;
  fs::path alias = word.folder / "alias.docx";
  fs::create_symlink("letter.docx", alias);
  fs::permissions(word.file, fs::perms(0640));
  const uid_t owner = ::geteuid() == 0 ? 65534 : ::geteuid();  // only root gives files away
  ASSERT_EQ(::chown(word.file.c_str(), owner, static_cast<gid_t>(-1)), 0);
  const std::string acl = ReadableByNobodyAcl();
  ASSERT_EQ(::setxattr(word.file.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0)
      << std::strerror(errno);
  ASSERT_EQ(::setxattr(word.file.c_str(), "user.origin", "srv1", 4, 0), 0) << std::strerror(errno);
  const std::string aclBefore = Attribute(word.file, "system.posix_acl_access");
  const Stat before = StatOf(word.file);

  auto server = CreateBuiltinDocumentServer();
  std::unique_ptr<Document> document = server->Open(U16(alias.string()));
  std::unique_ptr<LinkedDocument> link = LinkAt(*document, 0);
  link->SetPath(u"C:\\Data\\plan a.xlsx");
  Stat after = StatOf(word.file);
  EXPECT_EQ(after.inode, before.inode) << "the same path changes nothing";
  EXPECT_EQ(after.modified.tv_nsec, before.modified.tv_nsec);

  link->SetPath(u"D:\\Data\\plan a.xlsx");
  after = StatOf(word.file);
  EXPECT_NE(after.inode, before.inode) << "replaced by a new file";
  EXPECT_EQ(after.mode, 0640u);
  EXPECT_EQ(after.owner, owner);
  EXPECT_EQ(Attribute(word.file, "system.posix_acl_access"), aclBefore);
  EXPECT_EQ(Attribute(word.file, "user.origin"), "srv1");
  EXPECT_EQ(fs::read_symlink(alias), "letter.docx");
  EXPECT_EQ(FolderListing(word.folder.path()),
            (std::vector<std::string>{"alias.docx", "letter.docx"}));
  EXPECT_EQ(LinkPaths(*server, word.file).at(0), u"D:\\Data\\plan a.xlsx");
  EXPECT_EQ(document->FullName(), U16(alias.string()));
}

}  // namespace
}  // namespace quavelle::docserver::testing
