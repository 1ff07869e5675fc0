#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <gtest/gtest.h>

#include <functional>

#include "DocumentCalls.h"
#include "PackageFixture.h"
#include "services/docserver/BuiltinDocumentServer.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/UniqueFd.h"

// Package layouts other writers produce (zip64 records, an archive comment),
// and malformed directories.
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
// header offset in a zip64 extra field, and zip64 end records. zip64Values
// false leaves the 32-bit markers without the fields that hold the values.
std::string AsZip64(const std::string& plain, bool zip64Values = true) {
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
    if (zip64Values) {
      record.insert(46 + nameLength, Le(1, 2) + Le(8, 2) + Le(offset, 8));
      Put(record, 30, extraLength + 12, 2);
    }
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

void ExpectRepointedKeepingTheRest(const fs::path& file) {
  const std::vector<RawEntry> before = ReadRawEntries(file);
  auto server = CreateBuiltinDocumentServer();
  ASSERT_EQ(LinkPaths(*server, file.string()), std::vector<std::u16string>{u"C:\\Data\\plan.xlsx"});
  std::unique_ptr<Document> document = server->Open(U16(file.string()));
  LinkAt(*document, 0)->SetPath(u"E:\\Moved much further away\\into a deeper folder\\plan.xlsx");

  EXPECT_TRUE(ReadsConsistently(file));
  const std::vector<RawEntry> after = ReadRawEntries(file);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (before[i].name != "word/_rels/document.xml.rels") {
      EXPECT_EQ(after[i], before[i]);
    }
  }
  EXPECT_EQ(
      LinkPaths(*server, file.string()),
      std::vector<std::u16string>{u"E:\\Moved much further away\\into a deeper folder\\plan.xlsx"});
}

TEST(PackageLayout, Zip64RecordsAreReadAndStayValidWhenEntriesMove) {
  TempFolder folder;
  const fs::path file = folder / "a.docx";
  WriteBytes(file, AsZip64(LinkedPackage()));
  ASSERT_TRUE(ReadsConsistently(file)) << "the test's zip64 form is itself wrong";
  ExpectRepointedKeepingTheRest(file);
}

TEST(PackageLayout, AnArchiveCommentIsFoundPastAFalseEndRecordAndKept) {
  TempFolder folder;
  const fs::path file = folder / "a.docx";
  // The comment holds what looks like an end record, with a length that
  // does not reach the end of the file.
  const std::string comment = "kept PK\x05\x06" + std::string(16, '\0') + "\x03" + " tail";
  WriteBytes(file, WithComment(LinkedPackage(), std::string(comment.data(), comment.size())));
  ExpectRepointedKeepingTheRest(file);
  std::string kept;
  ASSERT_TRUE(ReadsConsistently(file, &kept));
  EXPECT_EQ(kept, comment);
}

struct Malformed {
  const char* name;
  std::function<std::string(std::string)> damage;
};

class MalformedDirectory : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedDirectory, IsRefusedAsADamagedPackage) {
  TempFolder folder;
  const fs::path file = folder / "a.docx";
  const std::string bytes = GetParam().damage(LinkedPackage());
  WriteBytes(file, bytes);
  auto server = CreateBuiltinDocumentServer();
  EXPECT_EQ(OpenAndListError(*server, file.string()), number::kDamagedPackage);
  EXPECT_EQ(ReadBytes(file), bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedDirectory,
    ::testing::Values(Malformed{"Zip64MarkersWithoutZip64EndRecords",
                                [](std::string b) {
                                  Put(b, b.size() - 22 + 16, 0xFFFFFFFF, 4);
                                  return b;
                                }},
                      Malformed{"Zip64OffsetMarkerWithoutItsExtraField",
                                [](std::string b) { return AsZip64(b, false); }},
                      Malformed{"Zip64LocatorPointingPastTheFile",
                                [](std::string b) {
                                  b = AsZip64(b);
                                  Put(b, b.size() - 22 - 20 + 8, b.size() * 2, 8);
                                  return b;
                                }},
                      Malformed{"MoreEntriesCountedThanRecorded",
                                [](std::string b) {
                                  Put(b, b.size() - 22 + 8, Get16(b, b.size() - 22 + 8) + 1, 2);
                                  Put(b, b.size() - 22 + 10, Get16(b, b.size() - 22 + 10) + 1, 2);
                                  return b;
                                }},
                      Malformed{"DirectoryOffsetPastItsEnd",
                                [](std::string b) {
                                  Put(b, b.size() - 22 + 16, Get32(b, b.size() - 22 + 16) + 7, 4);
                                  return b;
                                }},
                      Malformed{"CommentLongerThanWhatFollows",
                                [](std::string b) {
                                  Put(b, b.size() - 2, 40, 2);
                                  return b + "short";
                                }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quavelle::docserver::testing
