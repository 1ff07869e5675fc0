// Binary word-processing documents the office suite wrote: field paths and
// their copies in the data stream move together, in place, and the suite
// reads the new targets back.
#include <fcntl.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "LegacyFixture.h"
#include "SuiteSamples.h"
#include "TempFolder.h"
#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/UniqueFd.h"
#include "services/docserver/CompoundFile.h"
#include "services/docserver/WordBinaryText.h"

namespace quavelle {
namespace {

namespace fs = std::filesystem;
using testing::Samples;

const std::multiset<std::u16string> kDocLinks = {
    u"C:\\Data\\plan.xlsx", u"\\\\srv1\\proj\\report.doc", u"C:\\Data\\logo.png"};

std::uint32_t StreamEntry(std::optional<std::uint32_t> entry) {
  if (!entry) throw std::runtime_error("no such stream");
  return *entry;
}

TEST(WordLinks, ListsFieldTargetsOncePerFile) {
  auto o = testing::Load(Samples().doc());
  EXPECT_EQ(testing::Links(*o->content), kDocLinks);  // the web address is no file
  EXPECT_FALSE(o->content->HasChanges());
}

const std::multiset<std::u16string> kStoryLinks = {
    u"C:\\Data\\main.xls", u"C:\\Data\\last.xls",     u"\\\\srv1\\head\\h.doc",
    u"C:\\Foot\\f.doc",    u"\\\\srv1\\notes\\n.doc", u"\\\\srv1\\notes\\e.doc",
    u"C:\\Box\\b.doc"};

// The text of a document file, read as the content reads it.
struct OpenText {
  UniqueFd fd;
  std::unique_ptr<docserver::CompoundFile> file;
  std::unique_ptr<docserver::WordBinaryText> text;
};

std::unique_ptr<OpenText> ReadText(const fs::path& path) {
  auto o = std::make_unique<OpenText>();
  o->fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!o->fd) throw std::runtime_error("cannot open " + path.string());
  o->file = std::make_unique<docserver::CompoundFile>(o->fd.get(), fs::file_size(path),
                                                      NativePathToText(path.string()));
  auto reader = [f = o->file.get()](std::uint32_t entry) {
    return
        [f, entry, chain = f->StreamChain(entry)](std::uint64_t at, char* out, std::size_t length) {
          f->ReadStreamPart(entry, chain, at, out, length);
        };
  };
  const std::uint32_t document = StreamEntry(o->file->Find({u"WordDocument"}));
  o->text = std::make_unique<docserver::WordBinaryText>(o->file->entries()[document].size,
                                                        reader(document), u"test.doc");
  const std::uint32_t table = StreamEntry(o->file->Find({o->text->tableStream()}));
  o->text->ReadText(o->file->entries()[table].size, reader(table));
  return o;
}

TEST(WordLinks, FieldTablesOfEveryStoryListWhatTheTextHolds) {
  for (const fs::path& sample : {Samples().doc(), Samples().stories()}) {
    auto o = ReadText(sample);
    const docserver::WordFieldMarks scanned = o->text->FieldMarks();
    EXPECT_GE(scanned.size(), 9u) << sample;
    EXPECT_EQ(o->text->ListedFieldMarks(), scanned) << sample;
  }
  auto stories = testing::Load(Samples().stories());
  EXPECT_EQ(testing::Links(*stories->content), kStoryLinks);
  // Links outside the main text move in place like the others.
  testing::TempFolder out;
  for (const char16_t* from : {u"\\\\srv1\\head\\h.doc", u"\\\\srv1\\notes\\e.doc"}) {
    const fs::path target = out / "moved.doc";
    testing::Rewrite(Samples().stories(), target, from, u"D:\\x.doc");
    auto expected = kStoryLinks;
    expected.erase(expected.find(from));
    expected.insert(u"D:\\x.doc");
    EXPECT_EQ(testing::Links(*testing::Load(target)->content), expected) << ToUtf8(from);
  }
}

std::uint16_t U16(const std::string& b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    static_cast<unsigned char>(b[at + 1]) << 8);
}

void Put32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

std::uint32_t U32(const std::string& b, std::size_t at) {
  return U16(b, at) | static_cast<std::uint32_t>(U16(b, at + 2)) << 16;
}

TEST(WordLinks, FieldTablesThatDisagreeWithTheTextAreNotTrusted) {
  const std::string original = testing::ReadFile(Samples().stories());
  // The header of the text stream (the stream's first bytes): its lengths
  // of the stories, and where its tables lie.
  const std::size_t fib = original.find(std::string("\xEC\xA5", 2), 512);
  ASSERT_NE(fib, std::string::npos);
  const std::size_t longs = fib + 34 + 2 * U16(original, fib + 32) + 2;
  const std::size_t pairs = longs + 4 * U16(original, longs - 2) + 2;
  auto ccp = [&](std::size_t story) { return longs + 4 * (3 + story); };
  auto table = [&](std::size_t pair) { return pairs + 8 * pair; };
  auto at = [&](std::size_t field) { return U32(original, field); };
  const struct {
    const char* name;
    std::size_t at;
    std::uint32_t value;
    bool listed;  // the tables still read as tables, only the text disagrees
  } kDamages[] = {
      {"main text's table past its stream", table(16), 0x7FFF0000, false},
      {"header table of no table's size", table(17) + 4, at(table(17) + 4) + 1, false},
      {"footnote table one entry short", table(18) + 4, at(table(18) + 4) - 6, false},
      {"footnotes shorter than their fields", ccp(1), at(ccp(1)) - 10, false},
      {"main text one character longer", ccp(0), at(ccp(0)) + 1, true},
      {"main text's table the headers'", table(16), at(table(17)), true},
  };
  testing::TempFolder dir;
  for (const auto& damage : kDamages) {
    std::string bytes = original;
    Put32(bytes, damage.at, damage.value);
    const fs::path path = dir / "damaged.doc";
    testing::WriteFile(path, bytes);
    auto o = ReadText(path);
    const auto listed = o->text->ListedFieldMarks();
    ASSERT_EQ(listed.has_value(), damage.listed) << damage.name;
    if (listed) {
      EXPECT_NE(*listed, o->text->FieldMarks()) << damage.name;
    }
    EXPECT_EQ(testing::Links(*testing::Load(path)->content), kStoryLinks) << damage.name;
    // The field itself is found, not only its copy in the data stream.
    const fs::path moved = dir / "moved.doc";
    testing::Rewrite(path, moved, u"C:\\Data\\main.xls", u"D:\\m.xls");
    const std::string text = testing::ReadStreams(moved).at("WordDocument");
    auto wide = [](std::string_view ascii) {
      std::string out;
      for (char c : ascii) out += {c, '\0'};
      return out;
    };
    EXPECT_NE(text.find(wide("file:///D:/m.xls")), std::string::npos) << damage.name;
    EXPECT_EQ(text.find(wide("file:///C:/Data/main.xls")), std::string::npos) << damage.name;
  }
}

std::string Utf16Bytes(std::string_view text) {
  std::string out;
  for (char c : text) out += {c, '\0'};
  return out;
}

std::size_t Count(const std::string& haystack, const std::string& needle) {
  std::size_t n = 0;
  for (auto at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1))
    ++n;
  return n;
}

// The references of a flat document, for failure messages.
std::string Hrefs(const std::string& text) {
  std::string out;
  for (auto at = text.find("xlink:href=\""); at != std::string::npos;
       at = text.find("xlink:href=\"", at + 1))
    out += "\n  " + text.substr(at + 12, text.find('"', at + 12) - at - 12);
  return out;
}

struct Move {
  std::u16string from, to;
  std::string oldUrl, newUrl;  // as stored in the fields and data stream
  // What the suite's flat export shows ("../../D:/x" or "file://s/x"), or
  // nothing where it drops the link (a linked picture it cannot load).
  std::string shown;
};

// Shorter and same-length paths are written in place.
const std::vector<Move> kMoves = {
    {u"\\\\srv1\\proj\\report.doc", u"\\\\s2\\p\\r.doc", "file://srv1/proj/report.doc",
     "file://s2/p/r.doc", "\"file://s2/p/r.doc\""},
    {u"C:\\Data\\plan.xlsx", u"D:\\Docs\\plan.xlsx", "file:///C:/Data/plan.xlsx",
     "file:///D:/Docs/plan.xlsx", "D:/Docs/plan.xlsx\""},
    {u"C:\\Data\\logo.png", u"\\\\s\\p\\logo.png", "file:///C:/Data/logo.png",
     "file://s/p/logo.png", ""},
};

TEST(WordLinks, ShorterAndEqualPathsMoveEveryCopyInPlace) {
  testing::TempFolder out;
  std::vector<fs::path> written;
  const auto before = testing::ReadStreams(Samples().doc());
  for (std::size_t m = 0; m < kMoves.size(); ++m) {
    const Move& move = kMoves[m];
    const fs::path target = out / ("moved-" + std::to_string(m) + ".doc");
    testing::Rewrite(Samples().doc(), target, move.from, move.to);
    written.push_back(target);

    auto expected = kDocLinks;
    expected.erase(move.from);
    expected.insert(move.to);
    auto again = testing::Load(target);
    EXPECT_EQ(testing::Links(*again->content), expected) << target;

    const auto after = testing::ReadStreams(target);
    ASSERT_EQ(before.size(), after.size());
    for (const auto& [name, bytes] : before) {
      EXPECT_EQ(after.at(name).size(), bytes.size()) << name;  // no position moves
      if (name != "WordDocument" && name != "Data") {
        EXPECT_EQ(after.at(name), bytes) << name;
      }
    }
    // Each field and each data-stream copy, 8-bit and UTF-16, now names the new place.
    const std::string& text = after.at("WordDocument");
    const std::string& data = after.at("Data");
    EXPECT_EQ(Count(text, Utf16Bytes(move.oldUrl)), 0u) << target;
    EXPECT_EQ(Count(text, Utf16Bytes(move.newUrl)),
              Count(before.at("WordDocument"), Utf16Bytes(move.oldUrl)));
    EXPECT_EQ(Count(data, move.oldUrl) + Count(data, Utf16Bytes(move.oldUrl)), 0u) << target;
    EXPECT_EQ(Count(data, move.newUrl), Count(before.at("Data"), move.oldUrl)) << target;
  }
  testing::Convert(Samples().work(), "fodt", out.path(), written);
  for (std::size_t m = 0; m < kMoves.size(); ++m) {
    const fs::path flat = out / ("moved-" + std::to_string(m) + ".fodt");
    const std::string text = testing::ReadDecoded(flat);
    if (!kMoves[m].shown.empty()) {
      EXPECT_NE(text.find(kMoves[m].shown), std::string::npos) << flat << Hrefs(text);
    }
    std::string old = kMoves[m].oldUrl.substr(5);  // "//srv1/..." or "C:/..."
    if (old.rfind("///", 0) == 0) old.erase(0, 3);
    EXPECT_EQ(text.find(old), std::string::npos) << flat << Hrefs(text);
    for (const char* shown : {">plan<", ">report<", ">here<", ">site<"}) {
      EXPECT_NE(text.find(shown), std::string::npos) << flat << " lacks " << shown;
    }
  }
}

TEST(WordLinks, LongerPathIsRefusedAndNothingChanges) {
  auto o = testing::Load(Samples().doc());
  for (std::size_t i = 0; i < o->content->ListLinks(); ++i) {
    const std::u16string old = o->content->AbsolutePath(i);
    try {
      o->content->Repoint(
          i, u"\\\\a-much-longer-server-name\\projects\\archive\\2024\\" + old.substr(3));
      ADD_FAILURE() << "accepted a longer path for " << ToUtf8(old);
    } catch (const ServiceError& e) {
      EXPECT_EQ(e.number(), 1009);
      EXPECT_NE(e.description().find(u"longer"), std::u16string::npos) << ToUtf8(e.description());
      EXPECT_NE(e.description().find(u"links.doc"), std::u16string::npos);
    }
  }
  EXPECT_FALSE(o->content->HasChanges());
  EXPECT_EQ(testing::Links(*o->content), kDocLinks);
}

TEST(WordLinks, DamagedDocumentsFailCleanly) {
  const std::string original = testing::ReadFile(Samples().doc());
  const std::size_t fib = original.find(std::string("\xEC\xA5", 2), 512);
  ASSERT_NE(fib, std::string::npos);
  const struct {
    const char* name;
    std::size_t at;  // in the header of the text stream
    std::string bytes;
  } kDamages[] = {
      {"no header mark", 0, std::string("\0\0", 2)},
      {"piece table past its stream", 0x1A2, std::string("\xF0\xFF\xFF\x7F", 4)},
      {"piece table size", 0x1A6, std::string("\x03\0\0\0", 4)},
  };
  testing::TempFolder dir;
  for (const auto& damage : kDamages) {
    std::string bytes = original;
    bytes.replace(fib + damage.at, damage.bytes.size(), damage.bytes);
    const fs::path path = dir / "damaged.doc";
    testing::WriteFile(path, bytes);
    try {
      testing::Load(path);
      ADD_FAILURE() << damage.name << ": loaded";
    } catch (const ServiceError& e) {
      EXPECT_EQ(e.number(), 1003) << damage.name << ": " << ToUtf8(e.description());
      EXPECT_NE(e.description().find(u"damaged.doc"), std::u16string::npos) << damage.name;
    }
  }
}

TEST(WordLinks, EncryptedDocumentIsRefused) {
  testing::TempFolder dir;
  std::string bytes = testing::ReadFile(Samples().doc());
  // The suite saves no encrypted binary document headless: set the flag in
  // the document's header (its first bytes are the stream's first sector).
  const std::string ident("\xEC\xA5", 2);
  const std::size_t at = bytes.find(ident, 512);
  ASSERT_NE(at, std::string::npos);
  bytes[at + 11] = static_cast<char>(bytes[at + 11] | 0x01);
  const fs::path path = dir / "locked.doc";
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
