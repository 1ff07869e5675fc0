#include <zip.h>

#include <gtest/gtest.h>

#include <functional>

#include "PackageFixture.h"
#include "services/docserver/BuiltinDocumentServer.h"
#include "services/docserver/DocServerErrors.h"

// Package layouts other writers produce (zip64 records, an archive comment),
// and damaged packages.
namespace quavelle::docserver::testing {
namespace {

namespace number = error_number;

constexpr const char* kLink =
    "<Relationship Id=\"rId1\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink\" "
    "Target=\"file:///C:/Data/plan.xlsx\" TargetMode=\"External\"/>";

std::uint32_t Get32(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}
std::uint16_t Get16(const std::string& s, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) |
                                    (static_cast<unsigned char>(s[at + 1]) << 8));
}
void Put(std::string& s, std::size_t at, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}
std::string Le(std::uint64_t v, int bytes) {
  std::string s(static_cast<std::size_t>(bytes), '\0');
  Put(s, 0, v, bytes);
  return s;
}

// A package whose rels part has entries after it, so that rewriting moves them.
std::string LinkedPackage() {
  TempFolder folder;
  std::string picture(70000, '\0');
  for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<char>(i * 13 % 251);
  WritePackage(folder / "a.docx", DocxWith({{"word/_rels/document.xml.rels", Rels(kLink)},
                                            {"word/media/image1.png", picture, true},
                                            {"word/styles.xml", "<w:styles/>"}}));
  return ReadBytes(folder / "a.docx");
}

// The same package as a writer that always uses zip64 writes it: every local
// header offset in a zip64 extra field, and zip64 end records.
std::string AsZip64(const std::string& plain) {
  const std::size_t end = plain.size() - 22;
  const std::size_t directoryAt = Get32(plain, end + 16);
  const std::uint16_t count = Get16(plain, end + 10);
  std::string directory;
  for (std::size_t at = directoryAt, i = 0; i < count; ++i) {
    const std::size_t nameLength = Get16(plain, at + 28);
    const std::size_t extraLength = Get16(plain, at + 30);
    const std::size_t commentLength = Get16(plain, at + 32);
    std::string record = plain.substr(at, 46 + nameLength + extraLength + commentLength);
    const std::uint32_t offset = Get32(record, 42);
    Put(record, 42, 0xFFFFFFFF, 4);
    record.insert(46 + nameLength, Le(1, 2) + Le(8, 2) + Le(offset, 8));
    Put(record, 30, extraLength + 12, 2);
    directory += record;
    at += 46 + nameLength + extraLength + commentLength;
  }
  std::string out = plain.substr(0, directoryAt) + directory;
  const std::size_t end64At = out.size();
  out += "PK\x06\x06" + Le(44, 8) + Le(45, 2) + Le(45, 2) + Le(0, 4) + Le(0, 4) + Le(count, 8) +
         Le(count, 8) + Le(directory.size(), 8) + Le(directoryAt, 8);
  out += "PK\x06\x07" + Le(0, 4) + Le(end64At, 8) + Le(1, 4);
  out += "PK\x05\x06" + Le(0, 4) + Le(0xFFFF, 2) + Le(0xFFFF, 2) + Le(0xFFFFFFFF, 4) +
         Le(0xFFFFFFFF, 4) + Le(0, 2);
  return out;
}

std::string WithComment(std::string bytes, const std::string& comment) {
  Put(bytes, bytes.size() - 2, comment.size(), 2);
  return bytes + comment;
}

// Opens the package with the independent reader's consistency checks.
::testing::AssertionResult ReadsConsistently(const fs::path& file, std::string* comment = nullptr) {
  int error = 0;
  zip_t* za = zip_open(file.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
  if (za == nullptr) return ::testing::AssertionFailure() << "zip_open error " << error;
  if (comment != nullptr) {
    int length = 0;
    const char* text = zip_get_archive_comment(za, &length, ZIP_FL_ENC_RAW);
    *comment = text ? std::string(text, static_cast<std::size_t>(length)) : std::string();
  }
  zip_discard(za);
  return ::testing::AssertionSuccess();
}

struct LayoutCase {
  const char* name;
  std::function<std::string(const std::string&)> layout;
  std::string comment;  // the archive comment the rewrite must keep
};

class PackageLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(PackageLayout, IsReadAndStaysValidWhenEntriesMove) {
  const LayoutCase& c = GetParam();
  TempFolder folder;
  const fs::path file = folder / "a.docx";
  WriteBytes(file, c.layout(LinkedPackage()));
  ASSERT_TRUE(ReadsConsistently(file)) << "the test's layout is itself wrong";
  const std::vector<RawEntry> before = ReadRawEntries(file);
  auto server = CreateBuiltinDocumentServer();
  ASSERT_EQ(LinkPaths(*server, file), std::vector<std::u16string>{u"C:\\Data\\plan.xlsx"});
  const std::u16string moved = u"E:\\Moved much further away\\into a deeper folder\\plan.xlsx";
  std::unique_ptr<Document> document = server->Open(U16(file.string()));
  LinkAt(*document, 0)->SetPath(moved);

  std::string comment;
  EXPECT_TRUE(ReadsConsistently(file, &comment));
  EXPECT_EQ(comment, c.comment);
  const std::vector<RawEntry> after = ReadRawEntries(file);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < before.size(); ++i) {
    EXPECT_TRUE(before[i].name == "word/_rels/document.xml.rels" || after[i] == before[i]) << i;
  }
  EXPECT_EQ(LinkPaths(*server, file), std::vector<std::u16string>{moved});
}

// The comment holds what looks like an end record, with a length that does
// not reach the end of the file.
const std::string kTrickyComment = "kept PK\x05\x06" + std::string(16, '\0') + "\x03 tail";

INSTANTIATE_TEST_SUITE_P(
    OtherWriters, PackageLayout,
    ::testing::Values(
        LayoutCase{"Zip64Records", [](const std::string& b) { return AsZip64(b); }, ""},
        LayoutCase{"CommentWithAFalseEndRecord",
                   [](const std::string& b) { return WithComment(b, kTrickyComment); },
                   kTrickyComment}),
    [](const auto& info) { return std::string(info.param.name); });

// Overwrites a field of the named entry's local header (at localField) and
// central directory entry (at centralField).
std::string PatchHeaders(std::string bytes, const std::string& name, std::size_t localField,
                         std::size_t centralField, const std::string& value) {
  for (std::size_t at = bytes.find(name); at != std::string::npos; at = bytes.find(name, at + 1)) {
    if (at >= 30 && bytes.compare(at - 30, 4, "PK\3\4") == 0) {
      bytes.replace(at - 30 + localField, value.size(), value);
    } else if (at >= 46 && bytes.compare(at - 46, 4, "PK\1\2") == 0) {
      bytes.replace(at - 46 + centralField, value.size(), value);
    }
  }
  return bytes;
}

std::string Bomb() {
  return PackageBytes(
      OdtWith({{"content.xml", OdfContent("<!--" + std::string(1 << 20, ' ') + "-->")}}));
}

struct DamageCase {
  const char* name;
  const char* fileName;
  std::function<std::string()> bytes;
  std::int32_t expected;
};

class DamagedPackage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedPackage, FailsWithItsNumberAndStaysUntouched) {
  const DamageCase& c = GetParam();
  TempFolder folder;
  fs::path file = folder / c.fileName;
  const std::string bytes = c.bytes();
  WriteBytes(file, bytes);
  ServerOptions options;
  options.maxPartSize = 64 << 10;
  auto server = CreateBuiltinDocumentServer(options);
  EXPECT_EQ(OpenAndListError(*server, file), c.expected);
  EXPECT_EQ(ReadBytes(file), bytes);
  EXPECT_EQ(FolderListing(folder.path()), std::vector<std::string>{c.fileName});
}

std::vector<DamageCase> DamageCases() {
  return {
      {"NotAZip", "a.docx", [] { return std::string("plain text, not a package\n"); },
       number::kNotAPackage},
      {"EmptyFile", "a.xlsx", [] { return std::string(); }, number::kNotAPackage},
      {"EncryptedOfficeFile", "a.docx",
       [] { return std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(4088, '\0'); },
       number::kEncryptedDocument},
      {"TruncatedBeforeItsDirectory", "a.docx",
       [] {
         std::string whole = PackageBytes(LinkedWord());
         return whole.substr(0, whole.size() * 2 / 3);
       },
       number::kDamagedPackage},
      {"CorruptLinkPartData", "a.docx",
       [] {
         std::string b = PackageBytes(LinkedWord());
         const std::size_t at = b.find("document.xml.rels") + 17;
         for (std::size_t i = at; i < at + 8; ++i) b[i] = static_cast<char>(b[i] ^ 0x55);
         return b;
       },
       number::kDamagedPackage},
      {"EncryptedLinkPart", "a.docx",
       [] {
         // General purpose flag bit 0: the entry's data is encrypted.
         return PatchHeaders(PackageBytes(LinkedWord()), "word/_rels/document.xml.rels", 6, 8,
                             std::string("\x01", 1));
       },
       number::kDamagedPackage},
      {"DirectoryOffsetPointingIntoIt", "a.docx",
       [] {
         std::string b = LinkedPackage();
         Put(b, b.size() - 22 + 16, Get32(b, b.size() - 22 + 16) + 7, 4);
         return b;
       },
       number::kDamagedPackage},
      {"CommentLongerThanWhatFollows", "a.docx",
       [] {
         std::string b = LinkedPackage();
         Put(b, b.size() - 2, 40, 2);
         return b + "short";
       },
       number::kDamagedPackage},
      {"MalformedRelationships", "a.docx",
       [] {
         std::vector<Entry> entries = LinkedWord();
         entries.back().data += "<x>";
         return PackageBytes(entries);
       },
       number::kMalformedPart},
      {"DocTypeInContent", "a.odt",
       [] {
         return PackageBytes(
             OdtWith({{"content.xml",
                       "<?xml version=\"1.0\"?><!DOCTYPE d [<!ENTITY a \"aaaa\"><!ENTITY b "
                       "\"&a;&a;&a;&a;\">]><d>&b;</d>"}}));
       },
       number::kDocTypeInPart},
      {"CompressionBomb", "a.odt", Bomb, number::kPartTooLarge},
      {"BombWhoseDirectoryClaimsASmallSize", "a.odt",
       [] { return PatchHeaders(Bomb(), "content.xml", 22, 24, std::string("\x64\0\0\0", 4)); },
       number::kPartTooLarge},
  };
}

INSTANTIATE_TEST_SUITE_P(Inputs, DamagedPackage, ::testing::ValuesIn(DamageCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quavelle::docserver::testing
