#include "services/docserver/ShellLink.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "CaughtError.h"
#include "CraftedLink.h"
#include "services/ServiceError.h"
#include "services/Text.h"

namespace quavelle::docserver {
namespace {

using testing::Build;
using testing::CraftedLink;
using testing::ErrorNumber;
using testing::FailsNaming;

const std::u16string kDoc = u"/shares/links/plan.lnk";

std::string Show(const std::optional<std::u16string>& text) {
  return text ? "'" + ToUtf8(*text) + "'" : "(none)";
}
std::string Show(const std::vector<std::u16string>& names) {
  std::string out;
  for (const auto& name : names) out += (out.empty() ? "" : " | ") + ToUtf8(name);
  return out;
}

// Every place of a shortcut by name, so that a case states only what moves and
// everything else must stay as it was.
std::map<std::string, std::string> Describe(const ShellLinkFields& f) {
  std::map<std::string, std::string> d = {
      {"rootItems", Show(f.rootItems)},
      {"fileItems", std::to_string(f.fileItems)},
      {"localBasePath", Show(f.localBasePath)},
      {"localBasePathUnicode", Show(f.localBasePathUnicode)},
      {"netName", Show(f.netName)},
      {"netNameUnicode", Show(f.netNameUnicode)},
      {"deviceName", Show(f.deviceName)},
      {"deviceNameUnicode", Show(f.deviceNameUnicode)},
      {"commonPathSuffix", Show(f.commonPathSuffix)},
      {"commonPathSuffixUnicode", Show(f.commonPathSuffixUnicode)},
      {"name", Show(f.name)},
      {"relativePath", Show(f.relativePath)},
      {"workingDir", Show(f.workingDir)},
      {"arguments", Show(f.arguments)},
      {"iconLocation", Show(f.iconLocation)},
      {"environmentAnsi", Show(f.environmentAnsi)},
      {"environmentUnicode", Show(f.environmentUnicode)},
      {"iconEnvironmentAnsi", Show(f.iconEnvironmentAnsi)},
      {"iconEnvironmentUnicode", Show(f.iconEnvironmentUnicode)},
      {"vistaRootItems", f.vistaRootItems ? Show(*f.vistaRootItems) : "(none)"},
      {"blocks", std::to_string(f.blockSignatures.size())},
  };
  return d;
}

std::vector<std::string> ShareItems(const std::string& server, const std::string& share) {
  return {testing::NetworkRootItem(), testing::NetworkItem(0x42, server),
          testing::NetworkItem(0xC3, share), testing::FileItem(true, "Data"),
          testing::FileItem(false, "plan.docx")};
}

// A shortcut to \\srv1\proj\Data\plan.docx with every place that can hold it.
CraftedLink ShareLink() {
  CraftedLink l;
  const auto items = testing::ItemList(ShareItems("\\\\srv1", "\\\\srv1\\proj"));
  l.itemList = items;
  l.network =
      testing::NetworkLinkSpec{"\\\\srv1\\proj", std::nullopt, true, u"\\\\srv1\\proj", u""};
  l.commonPathSuffix = "Data\\plan.docx";
  l.unicodeLinkInfo = true;
  l.commonPathSuffixUnicode = u"Data\\plan.docx";
  l.name = u"The plan";
  l.relativePath = u"..\\Data\\plan.docx";
  l.workingDir = u"\\\\srv1\\proj\\Data";
  l.arguments = u"/view \\\\srv1\\proj\\other.txt";
  l.iconLocation = u"\\\\srv1\\proj\\icons\\plan.ico";
  l.blocks = {
      testing::EnvironmentBlock(testing::kEnvironmentSignature, "\\\\srv1\\proj\\Data\\plan.docx",
                                u"\\\\srv1\\proj\\Data\\plan.docx"),
      testing::EnvironmentBlock(testing::kIconEnvironmentSignature,
                                "\\\\srv1\\proj\\icons\\plan.ico",
                                u"\\\\srv1\\proj\\icons\\plan.ico"),
      testing::OpaqueBlock(0xA0000003, 0x60, 'T'),  // link tracking
      testing::VistaItemListBlock(items),
      testing::OpaqueBlock(0xA0000077, 0x15, 'U'),  // of no known kind
  };
  return l;
}

// A shortcut to C:\Data\plan.docx.
CraftedLink DriveLink(bool unicodeStrings) {
  CraftedLink l;
  l.itemList =
      testing::ItemList({testing::ComputerItem(), testing::DriveItem('C'),
                         testing::FileItem(true, "Data"), testing::FileItem(false, "plan.docx")});
  l.localBasePath = "C:\\Data\\plan.docx";
  l.unicodeLinkInfo = true;
  l.localBasePathUnicode = u"C:\\Data\\plan.docx";
  l.unicodeStrings = unicodeStrings;
  l.workingDir = u"C:\\Data";
  l.iconLocation = u"C:\\Data\\plan.ico";
  l.blocks = {testing::EnvironmentBlock(testing::kEnvironmentSignature, "C:\\Data\\plan.docx",
                                        u"C:\\Data\\plan.docx"),
              testing::OpaqueBlock(0xA0000003, 0x60, 'T')};
  return l;
}

// Z:\Data\plan.docx on a drive mapped to \\srv1\proj.
CraftedLink MappedDriveLink() {
  CraftedLink l;
  l.itemList =
      testing::ItemList({testing::ComputerItem(), testing::DriveItem('Z'),
                         testing::FileItem(true, "Data"), testing::FileItem(false, "plan.docx")});
  l.network = testing::NetworkLinkSpec{"\\\\srv1\\proj", "Z:", false, u"", u""};
  l.commonPathSuffix = "Data\\plan.docx";
  l.workingDir = u"Z:\\Data";
  return l;
}

struct MoveCase {
  const char* name;
  std::function<CraftedLink()> link;
  std::u16string newPath;
  std::map<std::string, std::string> moved;  // the places that change, as they read after
};
void PrintTo(const MoveCase& c, std::ostream* out) { *out << c.name; }

class EveryPlaceMoves : public ::testing::TestWithParam<MoveCase> {};

TEST_P(EveryPlaceMoves, AndNothingElse) {
  const MoveCase& c = GetParam();
  const ShellLink before = ShellLink::Parse(Build(c.link()), kDoc);
  const ShellLink after = ShellLink::Parse(before.Repointed(c.newPath), kDoc);
  EXPECT_EQ(Show(after.target()), Show(c.newPath));
  auto expected = Describe(before.Fields());
  for (const auto& [field, value] : c.moved) {
    ASSERT_TRUE(expected.count(field)) << field;
    expected[field] = value;
  }
  EXPECT_EQ(Describe(after.Fields()), expected);
}

// What moves in ShareLink() when its share becomes share on server, with its
// folder Data (or the share itself) and its icons' folder as given.
std::map<std::string, std::string> ShareMoved(const std::string& server, const std::string& share,
                                              const std::string& data, const std::string& icons) {
  const auto quoted = [](const std::string& text) { return "'" + text + "'"; };
  return {{"rootItems", server + " | " + share},
          {"vistaRootItems", server + " | " + share},
          {"netName", quoted(share)},
          {"netNameUnicode", quoted(share)},
          {"workingDir", quoted(data)},
          {"iconLocation", quoted(icons + "\\plan.ico")},
          {"environmentAnsi", quoted(data + "\\plan.docx")},
          {"environmentUnicode", quoted(data + "\\plan.docx")},
          {"iconEnvironmentAnsi", quoted(icons + "\\plan.ico")},
          {"iconEnvironmentUnicode", quoted(icons + "\\plan.ico")}};
}
std::map<std::string, std::string> ShareMoved(const std::string& server, const std::string& share) {
  return ShareMoved(server, share, share + "\\Data", share + "\\icons");
}

// What moves in DriveLink() from C: to E:.
const std::map<std::string, std::string> kDriveMoved = {
    {"rootItems", "E:\\"},
    {"localBasePath", "'E:\\Data\\plan.docx'"},
    {"localBasePathUnicode", "'E:\\Data\\plan.docx'"},
    {"workingDir", "'E:\\Data'"},
    {"iconLocation", "'E:\\Data\\plan.ico'"},
    {"environmentAnsi", "'E:\\Data\\plan.docx'"},
    {"environmentUnicode", "'E:\\Data\\plan.docx'"}};

std::map<std::string, std::string> FolderBecomesShare() {
  auto moved = ShareMoved("\\\\srv2", "\\\\srv2\\Data", "\\\\srv2\\Data", "\\\\srv2\\icons");
  moved["fileItems"] = "1";
  moved["commonPathSuffix"] = moved["commonPathSuffixUnicode"] = "'plan.docx'";
  return moved;
}

INSTANTIATE_TEST_SUITE_P(
    Shortcuts, EveryPlaceMoves,
    ::testing::Values(
        MoveCase{"ShareAndServer", ShareLink, u"\\\\srv2\\archive\\Data\\plan.docx",
                 ShareMoved("\\\\srv2", "\\\\srv2\\archive")},
        MoveCase{"ServerOnly", ShareLink, u"\\\\files-new.example.org\\proj\\Data\\plan.docx",
                 ShareMoved("\\\\files-new.example.org", "\\\\files-new.example.org\\proj")},
        MoveCase{"FolderBecomesShare", ShareLink, u"\\\\srv2\\Data\\plan.docx",
                 FolderBecomesShare()},
        MoveCase{"Drive", [] { return DriveLink(true); }, u"E:\\Data\\plan.docx", kDriveMoved},
        MoveCase{"DriveWithEightBitStrings", [] { return DriveLink(false); },
                 u"E:\\Data\\plan.docx", kDriveMoved},
        MoveCase{"ShareWithEightBitStrings",
                 [] {
                   CraftedLink link = ShareLink();
                   link.unicodeStrings = false;
                   return link;
                 },
                 u"\\\\srv2\\Pl\u00e4ne\\Data\\plan.docx",
                 ShareMoved("\\\\srv2", "\\\\srv2\\Pl\u00e4ne")},
        MoveCase{"MappedDriveKeepsItsLetter",
                 MappedDriveLink,
                 u"\\\\srv2\\proj\\Data\\plan.docx",
                 {{"netName", "'\\\\srv2\\proj'"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ShellLinkTest, UnknownBlocksAndHeaderStayByteForByte) {
  const std::string before = Build(ShareLink());
  const std::string after =
      ShellLink::Parse(before, kDoc).Repointed(u"\\\\srv2\\archive\\Data\\plan.docx");
  EXPECT_EQ(after.substr(0, 0x4C), before.substr(0, 0x4C));
  for (const std::string& block :
       {testing::OpaqueBlock(0xA0000003, 0x60, 'T'), testing::OpaqueBlock(0xA0000077, 0x15, 'U')}) {
    EXPECT_NE(after.find(block), std::string::npos);
  }
  EXPECT_EQ(after.substr(after.size() - 4), std::string(4, '\0'));
}

TEST(ShellLinkTest, ZeroCountedIntoAStringStaysAfterIt) {
  CraftedLink crafted = ShareLink();
  crafted.workingDir = std::u16string(u"\\\\srv1\\proj") + u'\0';
  const ShellLink link = ShellLink::Parse(Build(crafted), kDoc);
  const ShellLink after = ShellLink::Parse(link.Repointed(u"\\\\srv2\\x\\Data\\plan.docx"), kDoc);
  EXPECT_EQ(Show(after.Fields().workingDir), Show(std::u16string(u"\\\\srv2\\x") + u'\0'));
}

TEST(ShellLinkTest, TheSameTargetChangesNoByte) {
  for (const std::string& bytes :
       {Build(ShareLink()), Build(DriveLink(false)), Build(MappedDriveLink())}) {
    const ShellLink link = ShellLink::Parse(bytes, kDoc);
    EXPECT_EQ(link.Repointed(*link.target()), bytes);
  }
}

TEST(ShellLinkTest, KnownFolderOffsetFollowsItsItem) {
  CraftedLink link = ShareLink();
  const auto items = ShareItems("\\\\srv1", "\\\\srv1\\proj");
  std::size_t fileItemAt = 0;
  for (std::size_t i = 0; i < 4; ++i) fileItemAt += items[i].size() + 2;
  link.blocks.push_back(testing::KnownFolderBlock(static_cast<std::uint32_t>(fileItemAt)));
  const std::string after = ShellLink::Parse(Build(link), kDoc)
                                .Repointed(u"\\\\a-much-longer-server\\proj\\Data\\plan.docx");
  const std::size_t block = after.find(std::string(16, '\x42'));
  ASSERT_NE(block, std::string::npos);
  const std::size_t offset = static_cast<unsigned char>(after[block + 16]) |
                             static_cast<unsigned char>(after[block + 17]) << 8;
  // The item list starts after the header and its size field.
  const std::string fileItem = testing::FileItem(false, "plan.docx");
  EXPECT_EQ(after.substr(0x4C + 2 + offset + 2, fileItem.size()), fileItem);
}

TEST(ShellLinkTest, EnvironmentBufferHoldsAtMost259Characters) {
  struct Limit {
    std::size_t length;
    std::int32_t error;
  };
  for (const Limit limit : {Limit{259, 0}, Limit{260, 1013}, Limit{300, 1013}}) {
    const std::u16string tail = u"\\Data\\plan.docx";
    const std::u16string share(limit.length - tail.size() - 7, u's');
    const std::u16string newPath = u"\\\\srv2\\" + share + tail;
    ASSERT_EQ(newPath.size(), limit.length);
    const ShellLink link = ShellLink::Parse(Build(ShareLink()), kDoc);
    EXPECT_EQ(ErrorNumber([&] { link.Repointed(newPath); }), limit.error) << limit.length;
  }
}

struct RefusalCase {
  const char* name;
  std::function<CraftedLink()> link;
  std::u16string newPath;
  std::int32_t error;
};
void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }

class Refusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, NameTheDocument) {
  const RefusalCase& c = GetParam();
  const ShellLink link = ShellLink::Parse(Build(c.link()), kDoc);
  EXPECT_TRUE(FailsNaming(c.error, kDoc, [&] { link.Repointed(c.newPath); }));
}

CraftedLink WithEnvironment(const std::string& text) {
  CraftedLink link = ShareLink();
  link.blocks[0] =
      testing::EnvironmentBlock(testing::kEnvironmentSignature, text,
                                FromUtf8(reinterpret_cast<const char8_t*>(text.c_str())));
  return link;
}

CraftedLink WithItems(std::vector<std::string> items) {
  CraftedLink link = ShareLink();
  link.itemList = testing::ItemList(items);
  link.blocks.erase(link.blocks.begin() + 3);  // no second list
  return link;
}

INSTANTIATE_TEST_SUITE_P(
    Shortcuts, Refusals,
    ::testing::Values(
        RefusalCase{"ShareToDrive", ShareLink, u"D:\\proj\\Data\\plan.docx", 1009},
        RefusalCase{"DriveToShare", [] { return DriveLink(true); }, u"\\\\srv2\\c\\Data\\plan.docx",
                    1009},
        RefusalCase{"RelativePath", ShareLink, u"Data\\plan.docx", 1009},
        RefusalCase{"PosixPath", ShareLink, u"/srv2/proj/Data/plan.docx", 1009},
        RefusalCase{"EmptyPath", ShareLink, u"", 1009},
        RefusalCase{"FileRenamed", ShareLink, u"\\\\srv2\\proj\\Data\\plan-2024.docx", 1009},
        RefusalCase{"FolderAdded", ShareLink, u"\\\\srv2\\proj\\2024\\Data\\plan.docx", 1009},
        RefusalCase{"MappedDriveLosesFolder", MappedDriveLink, u"\\\\srv2\\Data\\plan.docx", 1009},
        RefusalCase{"NotInCodePage", ShareLink,
                    u"\\\\srv2\\\u043f\u0440\u043e\u0435\u043a\u0442\\Data\\plan.docx", 1009},
        RefusalCase{"EnvironmentVariable",
                    [] { return WithEnvironment("%HOMESHARE%\\Data\\plan.docx"); },
                    u"\\\\srv2\\proj\\Data\\plan.docx", 1009},
        RefusalCase{
            "NoShareItem",
            [] {
              return WithItems({testing::UsersFolderItem(), testing::FileItem(false, "plan.docx")});
            },
            u"\\\\srv2\\proj\\Data\\plan.docx", 1009},
        RefusalCase{"ForeignItemBelowShare",
                    [] {
                      return WithItems({testing::NetworkItem(0xC3, "\\\\srv1\\proj"),
                                        testing::UsersFolderItem(),
                                        testing::FileItem(false, "plan.docx")});
                    },
                    u"\\\\srv2\\proj\\Data\\plan.docx", 1009},
        RefusalCase{"ItemsNameAnotherShare",
                    [] { return WithItems(ShareItems("\\\\srv9", "\\\\srv9\\other")); },
                    u"\\\\srv2\\proj\\Data\\plan.docx", 1009},
        RefusalCase{
            "BothLocations",
            [] {
              CraftedLink link = DriveLink(true);
              link.network = testing::NetworkLinkSpec{"\\\\srv1\\c", std::nullopt, false, u"", u""};
              return link;
            },
            u"E:\\Data\\plan.docx", 1009},
        RefusalCase{"NoTarget",
                    [] {
                      CraftedLink link;
                      link.itemList = testing::ItemList({testing::UsersFolderItem()});
                      return link;
                    },
                    u"\\\\srv2\\proj\\x", 1009}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ShellLinkTest, SpecialFolderShortcutHasNoTarget) {
  CraftedLink link;
  link.itemList = testing::ItemList({testing::UsersFolderItem()});
  link.blocks = {testing::KnownFolderBlock(0)};
  EXPECT_FALSE(ShellLink::Parse(Build(link), kDoc).target());
}

// Damage at each level of the structure; none may be read past its end.
struct DamageCase {
  const char* name;
  std::size_t at;
  std::string bytes;
};

TEST(ShellLinkTest, DamagedFilesFailAsDamaged) {
  const std::string good = Build(DriveLink(true));
  const std::size_t listSize = 0x4C;
  const std::size_t linkInfo = listSize + 2 +
                               (static_cast<unsigned char>(good[listSize]) |
                                static_cast<unsigned char>(good[listSize + 1]) << 8);
  const std::vector<DamageCase> cases = {
      {"HeaderSize", 0, "\x4D"},
      {"ClassId", 4, "\x02"},
      {"ItemListSize", listSize, "\xFF\xFF"},
      {"ItemSize", listSize + 2, "\xF0\xFF"},
      {"LinkInfoSize", linkInfo, "\xFF\xFF\x00\x00"},
      {"LinkInfoHeaderSize", linkInfo + 4, "\x10"},
      {"VolumeOffset", linkInfo + 12, "\xFF\x7F"},
      {"LocalBasePathOffset", linkInfo + 16, "\xFF\x7F"},
      {"UnicodePathOffset", linkInfo + 28, "\xFF\x7F"},
  };
  for (const DamageCase& c : cases) {
    std::string bytes = good;
    bytes.replace(c.at, c.bytes.size(), c.bytes);
    EXPECT_EQ(ErrorNumber([&] { ShellLink::Parse(bytes, kDoc); }), 1003) << c.name;
  }
  // A string count past the end, and a block shorter than its kind.
  CraftedLink longString = DriveLink(true);
  longString.blocks.clear();
  longString.terminalBlock = false;
  std::string cut = Build(longString);
  cut.resize(cut.size() - 4);
  EXPECT_EQ(ErrorNumber([&] { ShellLink::Parse(cut, kDoc); }), 1003);
  CraftedLink shortBlock = DriveLink(true);
  shortBlock.blocks = {testing::OpaqueBlock(testing::kEnvironmentSignature, 0x20, 'E')};
  EXPECT_EQ(ErrorNumber([&] { ShellLink::Parse(Build(shortBlock), kDoc); }), 1003);
}

TEST(ShellLinkTest, EveryTruncationReadsOrFailsAsDamaged) {
  for (const std::string& whole :
       {Build(ShareLink()), Build(DriveLink(false)), Build(MappedDriveLink())}) {
    for (std::size_t size = 0; size < whole.size(); ++size) {
      const std::int32_t error = ErrorNumber([&] {
        const ShellLink link = ShellLink::Parse(whole.substr(0, size), kDoc);
        if (link.target()) link.Repointed(u"\\\\srv2\\proj\\Data\\plan.docx");
      });
      EXPECT_TRUE(error == 0 || error == 1003 || error == 1009 || error == 1013)
          << size << ": " << error;
    }
  }
}

}  // namespace
}  // namespace quavelle::docserver
