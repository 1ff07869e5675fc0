// Binary presentations the office suite wrote: hyperlink targets are saved as
// an appended edit, and the suite reads the new targets back.
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "LegacyFixture.h"
#include "SuiteSamples.h"
#include "TempFolder.h"
#include "services/ServiceError.h"
#include "services/Text.h"

namespace quavelle {
namespace {

namespace fs = std::filesystem;
using testing::Samples;

const std::multiset<std::u16string> kDeckLinks = {
    u"C:\\Data\\plan.xls", u"\\\\srv1\\proj\\report.doc", u"\\\\srv1\\proj\\report.doc"};

TEST(PresentationLinks, ListsHyperlinkTargets) {
  auto o = testing::Load(Samples().ppt());
  EXPECT_EQ(testing::Links(*o->content), kDeckLinks);  // the web address is no file
  EXPECT_FALSE(o->content->HasChanges());
}

std::string Utf16Bytes(std::string_view text) {
  std::string out;
  for (char c : text) out += {c, '\0'};
  return out;
}

struct Move {
  std::u16string from, to;
  std::string oldUrl, newUrl;  // as the hyperlinks store them
  std::string shown;           // in the suite's flat export
};

const std::vector<Move> kMoves = {
    {u"\\\\srv1\\proj\\report.doc", u"\\\\srv2\\projects\\2024\\final report.doc",
     "file://srv1/proj/report.doc", "file://srv2/projects/2024/final%20report.doc",
     "file://srv2/projects/2024/final report.doc"},
    {u"C:\\Data\\plan.xls", u"E:\\p.xls", "file:///C:/Data/plan.xls", "file:///E:/p.xls",
     "E:/p.xls"},
};

TEST(PresentationLinks, EditIsAppendedAndTheSuiteReadsTheNewTargets) {
  testing::TempFolder out;
  std::vector<fs::path> written;
  const auto before = testing::ReadStreams(Samples().ppt());
  for (std::size_t m = 0; m < kMoves.size(); ++m) {
    const fs::path target = out / ("moved-" + std::to_string(m) + ".ppt");
    testing::Rewrite(Samples().ppt(), target, kMoves[m].from, kMoves[m].to);
    written.push_back(target);

    auto expected = kDeckLinks;
    while (expected.count(kMoves[m].from)) {
      expected.erase(expected.find(kMoves[m].from));
      expected.insert(kMoves[m].to);
    }
    auto again = testing::Load(target);
    EXPECT_EQ(testing::Links(*again->content), expected) << target;

    const auto after = testing::ReadStreams(target);
    ASSERT_EQ(before.size(), after.size());
    for (const auto& [name, bytes] : before) {
      if (name == "PowerPoint Document") {
        // Nothing earlier in the stream moves: the edit is appended.
        EXPECT_GT(after.at(name).size(), bytes.size());
        EXPECT_EQ(after.at(name).substr(0, bytes.size()), bytes);
      } else if (name ==
                 "\x05"
                 "DocumentSummaryInformation") {
        // The hyperlink list cached there, which the suite reads, moves too.
        EXPECT_EQ(after.at(name).find(Utf16Bytes(kMoves[m].oldUrl)), std::string::npos);
        EXPECT_EQ(bytes.find(Utf16Bytes(kMoves[m].newUrl)), std::string::npos);
        EXPECT_NE(after.at(name).find(Utf16Bytes(kMoves[m].newUrl)), std::string::npos);
      } else if (name == "Current User") {
        EXPECT_EQ(after.at(name).size(), bytes.size());
        EXPECT_NE(after.at(name), bytes);
      } else {
        EXPECT_EQ(after.at(name), bytes) << name;
      }
    }
  }
  testing::Convert(Samples().work(), "fodp", out.path(), written);
  for (std::size_t m = 0; m < kMoves.size(); ++m) {
    const fs::path flat = out / ("moved-" + std::to_string(m) + ".fodp");
    const std::string text = testing::ReadDecoded(flat);
    EXPECT_NE(text.find(kMoves[m].shown), std::string::npos) << flat;
    std::string old = testing::AsUrl(kMoves[m].from).substr(5);
    if (old.rfind("///", 0) == 0) old.erase(0, 3);
    EXPECT_EQ(text.find(old + "\""), std::string::npos) << flat << " keeps " << old;
    for (const char* shown : {">plan<", ">report<", ">Again ", ">web<"}) {
      EXPECT_NE(text.find(shown), std::string::npos) << flat << " lacks " << shown;
    }
  }
}

// Damage in the edit records, applied to the stream through the compound
// file's sectors: the file's bytes of the current edit record.
TEST(PresentationLinks, DamagedEditRecordsFailCleanly) {
  const std::string original = testing::ReadFile(Samples().ppt());
  const std::string edit("\x00\x00\xF5\x0F\x1C\x00\x00\x00", 8);
  const std::size_t at = original.rfind(edit);
  ASSERT_NE(at, std::string::npos);
  auto set32 = [](std::string& b, std::size_t p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[p + i] = static_cast<char>(v >> (8 * i));
  };
  const struct {
    const char* name;
    std::size_t field;  // in the edit record's data
    std::uint32_t value;
  } kDamages[] = {
      {"directory out of range", 12, 0x7FFFFFF0},
      {"previous edit out of range", 8, 0x7FFFFFF0},
      {"document missing from the directory", 16, 999},
  };
  testing::TempFolder dir;
  for (const auto& damage : kDamages) {
    std::string bytes = original;
    set32(bytes, at + 8 + damage.field, damage.value);
    const fs::path path = dir / "damaged.ppt";
    testing::WriteFile(path, bytes);
    try {
      testing::Load(path);
      ADD_FAILURE() << damage.name << ": loaded";
    } catch (const ServiceError& e) {
      EXPECT_EQ(e.number(), 1003) << damage.name;
      EXPECT_NE(e.description().find(u"damaged.ppt"), std::u16string::npos) << damage.name;
    }
  }
}

TEST(PresentationLinks, EncryptedPresentationIsRefused) {
  testing::TempFolder dir;
  std::string bytes = testing::ReadFile(Samples().ppt());
  // The suite saves no encrypted binary presentation headless: give the
  // current user record the encrypted token.
  const std::string plain("\x5F\xC0\x91\xE3", 4);
  const std::size_t at = bytes.find(std::string("\x14\0\0\0", 4) + plain);
  ASSERT_NE(at, std::string::npos);
  bytes.replace(at + 4, 4, std::string("\xDF\xC4\xD1\xF3", 4));
  const fs::path path = dir / "locked.ppt";
  testing::WriteFile(path, bytes);
  try {
    testing::Load(path);
    ADD_FAILURE() << "loaded";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), 1002);
    EXPECT_NE(e.description().find(u"encrypted"), std::u16string::npos);
  }
}

}  // namespace
}  // namespace quavelle
