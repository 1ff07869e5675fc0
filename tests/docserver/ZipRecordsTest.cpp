// The records of entries and directories that end up past 4 GiB. Writing a
// package that large is too slow for a unit test, so the records are made
// from real packages' directories and read back with the tests' own reader.
#include "services/docserver/ZipRecords.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "PackageFixture.h"
#include "ZipLayout.h"
#include "services/UniqueFd.h"

namespace quavelle::docserver::testing {
namespace {

constexpr std::uint64_t kFar = std::uint64_t{5} << 30;  // past 4 GiB
constexpr std::uint64_t kOnes = 0xFFFFFFFF;

// A package's directory as the writer reads it, and the package's bytes.
struct Package {
  std::string bytes;
  ZipDirectory directory;
};

Package ReadPackage(const TempFolder& folder, const std::string& bytes) {
  const fs::path file = folder / "p.zip";
  WritePackage(file, OdtWith({{"content.xml", OdfContent("<text:p>x</text:p>")}}));
  std::string package = bytes.empty() ? ReadBytes(file) : bytes;
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << package;
  }
  UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  return {package, ReadZipDirectory(fd.get(), package.size(), u"p.zip")};
}

std::string PlainPackage(const TempFolder& folder) { return ReadPackage(folder, "").bytes; }

std::uint64_t Version(const std::string& header, std::size_t at) {
  return Le(header, at, 2) & 0xFF;
}

struct Form {
  std::string name;
  std::function<std::string(const std::string&)> make;
};

class FarRecord : public ::testing::TestWithParam<Form> {};

TEST_P(FarRecord, MovesItsOffsetToAZip64Field) {
  TempFolder folder;
  const Package p = ReadPackage(folder, GetParam().make(PlainPackage(folder)));
  for (std::size_t i = 0; i < p.directory.entries.size(); ++i) {
    const LayoutRecord was = ReadRecord(std::string(p.directory.Record(i)));
    const LayoutRecord now =
        ReadRecord(RewrittenCentralRecord(p.directory, i, kFar, std::nullopt, u"p.zip"));
    EXPECT_EQ(now.local, kFar);
    EXPECT_EQ(Le(now.bytes, 42, 4), kOnes);
    EXPECT_EQ(Version(now.bytes, 6), 45u);
    EXPECT_EQ(WithoutZip64(now.bytes), WithoutZip64(was.bytes)) << "all else kept";
    EXPECT_EQ(Le(now.bytes, 20, 8), Le(was.bytes, 20, 8)) << "sizes where they were";
    const std::string field =
        Zip64Field(now.bytes, 46 + Le(now.bytes, 28, 2), Le(now.bytes, 30, 2));
    const std::string wasField =
        Zip64Field(was.bytes, 46 + Le(was.bytes, 28, 2), Le(was.bytes, 30, 2));
    ASSERT_EQ(field.size(), wasField.empty() ? 8 : wasField.size());
    EXPECT_EQ(field.substr(0, field.size() - 8), wasField.substr(0, field.size() - 8))
        << "sizes in the field kept, before the offset";

    // Moved back below 4 GiB, the offset stays in its field.
    const std::string back = RewrittenCentralRecord(p.directory, i, 77, std::nullopt, u"p.zip");
    if (was.zip64OffsetAt) {
      EXPECT_EQ(ReadRecord(back).local, 77u);
      EXPECT_EQ(back.size(), was.bytes.size());
    } else {
      EXPECT_EQ(Le(back, 42, 4), 77u);
      EXPECT_EQ(back.size(), was.bytes.size());
    }
  }
}

TEST_P(FarRecord, ReplacedWithLargeDataGetsItsSizesInAZip64Field) {
  TempFolder folder;
  const Package p = ReadPackage(folder, GetParam().make(PlainPackage(folder)));
  const NewEntryData data{0x12345678, kFar + 1, kFar + 2};
  const LayoutRecord was = ReadRecord(std::string(p.directory.Record(1)));
  const LayoutRecord now = ReadRecord(RewrittenCentralRecord(p.directory, 1, 300, data, u"p.zip"));
  EXPECT_EQ(Le(now.bytes, 16, 4), 0x12345678u);
  EXPECT_EQ(Le(now.bytes, 20, 8), 0xFFFFFFFFFFFFFFFF);
  const std::string field = Zip64Field(now.bytes, 46 + Le(now.bytes, 28, 2), Le(now.bytes, 30, 2));
  ASSERT_GE(field.size(), 16u);
  EXPECT_EQ(Le(field, 0, 8), kFar + 2) << "uncompressed first";
  EXPECT_EQ(Le(field, 8, 8), kFar + 1);
  EXPECT_EQ(now.local, 300u);
  EXPECT_EQ(now.zip64OffsetAt != 0, was.zip64OffsetAt != 0);
  EXPECT_EQ(Version(now.bytes, 6), 45u);
}

void PrintTo(const Form& form, std::ostream* os) { *os << form.name; }

INSTANTIATE_TEST_SUITE_P(
    Forms, FarRecord,
    ::testing::Values(Form{"Plain", [](const std::string& b) { return b; }},
                      Form{"Zip64Offset", [](const std::string& b) { return AsZip64(b); }},
                      Form{"Zip64SizesAndOffset",
                           [](const std::string& b) { return AsZip64(b, true); }}),
    [](const auto& info) { return info.param.name; });

TEST(FarLocalHeader, GetsAZip64FieldForLargeSizesOnly) {
  TempFolder folder;
  const std::string bytes = PlainPackage(folder);
  const Layout layout = ReadLayout(bytes);
  const LayoutRecord& r = layout.Record("content.xml");
  const std::size_t headerSize = 30 + Le(bytes, r.local + 26, 2) + Le(bytes, r.local + 28, 2);
  const std::string old = bytes.substr(r.local, headerSize);
  const std::size_t nameLength = Le(old, 26, 2);

  const std::string small = ReplacedLocalHeader(old, nameLength, {7, 100, 200}, u"p.zip");
  EXPECT_EQ(small.size(), old.size());
  EXPECT_EQ(Le(small, 18, 4), 100u);
  EXPECT_EQ(Le(small, 22, 4), 200u);

  const std::string large = ReplacedLocalHeader(old, nameLength, {7, kFar, kFar + 1}, u"p.zip");
  EXPECT_EQ(large.size(), old.size() + 20);
  EXPECT_EQ(Le(large, 18, 8), 0xFFFFFFFFFFFFFFFF);
  EXPECT_EQ(Version(large, 4), 45u);
  const std::string field = Zip64Field(large, 30 + nameLength, Le(large, 28, 2));
  ASSERT_EQ(field.size(), 16u);
  EXPECT_EQ(Le(field, 0, 8), kFar + 1);
  EXPECT_EQ(Le(field, 8, 8), kFar);
  EXPECT_EQ(large.substr(30, headerSize - 30), old.substr(30)) << "name and old extra fields first";
}

TEST(FarDirectory, GetsZip64EndRecords) {
  TempFolder folder;
  const Package p = ReadPackage(folder, "");
  const Layout layout = ReadLayout(p.bytes);
  const std::string oldEnd = p.bytes.substr(layout.endAt, 22);

  const std::string near = EndRecords(p.directory, 1000, 300);
  ASSERT_EQ(near.size(), 22u);
  EXPECT_EQ(Le(near, 12, 4), 300u);
  EXPECT_EQ(Le(near, 16, 4), 1000u);
  EXPECT_EQ(near.substr(0, 12), oldEnd.substr(0, 12));
  EXPECT_EQ(near.substr(20), oldEnd.substr(20));

  // After a directory past 4 GiB come zip64 records that point at it.
  const std::string far = EndRecords(p.directory, kFar, 300);
  ASSERT_EQ(far.size(), 56u + 20 + 22);
  EXPECT_EQ(far.compare(0, 4, "PK\6\6"), 0);
  EXPECT_EQ(Le(far, 4, 8), 44u);
  EXPECT_EQ(Le(far, 24, 8), p.directory.entries.size());
  EXPECT_EQ(Le(far, 32, 8), p.directory.entries.size());
  EXPECT_EQ(Le(far, 40, 8), 300u);
  EXPECT_EQ(Le(far, 48, 8), kFar);
  EXPECT_EQ(far.compare(56, 4, "PK\6\7"), 0);
  EXPECT_EQ(Le(far, 56 + 8, 8), kFar + 300) << "the locator points at the zip64 record";
  EXPECT_EQ(Le(far, 56 + 16, 4), 1u);
  const std::string end = far.substr(76);
  EXPECT_EQ(Le(end, 12, 4), 300u);
  EXPECT_EQ(Le(end, 16, 4), kOnes);
}

}  // namespace
}  // namespace quavelle::docserver::testing
