// The check every package case runs: its first link re-pointed, and every
// part afterwards as it was but for the case's edits.
#include <gtest/gtest.h>

#include "PackageFixture.h"

namespace quavelle::docserver::testing {

void PrintTo(const PackageCase& c, std::ostream* os) { *os << c.name; }

std::string CaseName(const ::testing::TestParamInfo<PackageCase>& info) { return info.param.name; }

TEST_P(RepointedPackage, MovesTheFirstLinkInEveryPlaceAndKeepsAllElse) {
  const PackageCase& c = GetParam();
  TempFolder folder;
  const fs::path file = folder / c.fileName;
  WritePackage(file, c.package);
  EXPECT_EQ(LinkPaths(file), c.links);
  if (c.links.empty()) return;
  ASSERT_EQ(SetFirstLink(file, c.newPath), 0);
  std::vector<std::u16string> after = c.links;
  after[0] = c.newPath;
  EXPECT_EQ(LinkPaths(file), c.after.empty() ? after : c.after);
  const std::vector<RawEntry> entries = ReadEntries(file, false);
  ASSERT_EQ(entries.size(), c.package.size());
  std::string joined;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].name, c.package[i].name);
    EXPECT_EQ(entries[i].bytes, Edited(c.package[i].data, c.edits)) << entries[i].name;
    joined += c.package[i].data;
  }
  for (const auto& [from, with] : c.edits) EXPECT_NE(joined.find(from), std::string::npos) << from;
}

}  // namespace quavelle::docserver::testing
