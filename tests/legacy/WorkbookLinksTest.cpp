// Binary workbooks the office suite wrote: their links are listed, re-pointed
// into a new file, and the suite reads the new targets and every sheet back.
#include <fcntl.h>

#include <cctype>
#include <filesystem>
#include <functional>
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
#include "services/docserver/BiffStream.h"
#include "services/docserver/CompoundFile.h"
#include "services/docserver/DocumentFile.h"
#include "services/docserver/LegacyContent.h"

namespace quavelle {
namespace {

namespace fs = std::filesystem;
using docserver::DocumentContent;
using docserver::DocumentFile;
using testing::AsUrl;
using testing::Links;
using testing::Load;
using testing::ReadDecoded;
using testing::ReadFile;
using testing::Rewrite;
using testing::Samples;

// The office suite reads sheets one after the other and ignores the offsets
// the workbook keeps for them; other readers seek there. Each must land on a
// sheet's first record.
void ExpectSheetsWhereTheWorkbookSays(const std::string& workbook, const fs::path& file) {
  auto u16 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(workbook.at(at)) |
                                      static_cast<unsigned char>(workbook.at(at + 1)) << 8);
  };
  int sheets = 0;
  for (std::size_t at = 0; at + 4 <= workbook.size() && u16(at) != 0x000A; at += 4 + u16(at + 2)) {
    if (u16(at) != 0x0085) continue;
    const std::size_t sheet = u16(at + 4) | u16(at + 6) << 16;
    ++sheets;
    ASSERT_LT(sheet + 4, workbook.size()) << file;
    EXPECT_EQ(u16(sheet), 0x0809u) << file << ": sheet " << sheets << " at " << sheet;
  }
  EXPECT_GE(sheets, 2) << file;
}

const std::multiset<std::u16string> kSampleLinks = {
    u"C:\\Data\\budget.ods", u"\\\\srv1\\proj\\costs.xls", u"C:\\Data\\plan.xls",
    u"\\\\srv1\\proj\\data.xls"};

TEST(WorkbookLinks, ListsExternalBooksAndFileHyperlinks) {
  for (const fs::path& sample : {Samples().links(), Samples().big()}) {
    auto o = Load(sample);
    EXPECT_EQ(Links(*o->content), kSampleLinks) << sample;
    EXPECT_FALSE(o->content->HasChanges());
  }
  auto plain = Load(Samples().noLinks());
  EXPECT_EQ(plain->content->ListLinks(), 0u);
}

struct Move {
  std::u16string from, to;
};

// Longer and shorter paths in external-book records (which moves every sheet
// after them) and in hyperlinks, to and from drives and servers.
const std::vector<Move> kMoves = {
    {u"C:\\Data\\plan.xls", u"D:\\Archive\\2024\\Planning department\\plan-final.xls"},
    {u"\\\\srv1\\proj\\data.xls", u"E:\\d.xls"},
    {u"\\\\srv1\\proj\\costs.xls", u"\\\\srv2\\projects\\finance\\costs 2024.xls"},
    {u"C:\\Data\\budget.ods", u"\\\\s9\\b\\b.ods"},
};

TEST(WorkbookLinks, SuiteReadsRepointedTargetsAndEverySheet) {
  testing::TempFolder out;
  std::vector<fs::path> written;
  std::vector<std::pair<fs::path, Move>> checks;
  for (const fs::path& sample : {Samples().links(), Samples().big()}) {
    for (std::size_t m = 0; m < kMoves.size(); ++m) {
      const fs::path target = out / (sample.stem().string() + "-" + std::to_string(m) + ".xls");
      Rewrite(sample, target, kMoves[m].from, kMoves[m].to);
      written.push_back(target);
      checks.emplace_back(target, kMoves[m]);

      auto expected = kSampleLinks;
      expected.erase(kMoves[m].from);
      expected.insert(kMoves[m].to);
      auto again = Load(target);
      EXPECT_EQ(Links(*again->content), expected) << target;

      // Every stream but the workbook is byte for byte the original's.
      auto before = testing::ReadStreams(sample), after = testing::ReadStreams(target);
      ASSERT_EQ(before.size(), after.size());
      for (const auto& [name, bytes] : before) {
        if (name != "Workbook") {
          EXPECT_EQ(after.at(name), bytes) << target << " " << name;
        }
      }
      EXPECT_NE(after.at("Workbook"), before.at("Workbook"));
      ExpectSheetsWhereTheWorkbookSays(after.at("Workbook"), target);
    }
  }
  testing::Convert(Samples().work(), "fods", out.path(), written);
  for (const auto& [file, move] : checks) {
    const fs::path flat = out / (file.stem().string() + ".fods");
    const std::string text = ReadDecoded(flat);
    EXPECT_NE(text.find(AsUrl(move.to)), std::string::npos) << flat << " lacks " << AsUrl(move.to);
    EXPECT_EQ(text.find(AsUrl(move.from)), std::string::npos)
        << flat << " keeps " << AsUrl(move.from);
    // Every sheet still reads where the workbook says it starts.
    for (const char* value :
         {">budget</text:a>", ">costs</text:a>", "<text:p>7</text:p>", "<text:p>row 7</text:p>"}) {
      EXPECT_NE(text.find(value), std::string::npos) << flat << " lacks " << value;
    }
    if (file.stem().string().rfind("big", 0) == 0) {
      EXPECT_NE(text.find("<text:p>row 4200</text:p>"), std::string::npos) << flat;
    }
  }
}

// Other writers keep an index of each sheet's cell blocks; the office suite
// writes none. The workbook stream with an index record after each sheet's
// first record and a cell-block record after every 40 records of its cell
// table, the sheet offsets moved to match.
bool IsCell(std::uint16_t type) {
  switch (type) {
    case 0x0208:
    case 0x0203:
    case 0x00FD:
    case 0x0201:
    case 0x027E:
    case 0x00BD:
    case 0x00BE:
    case 0x0006:
    case 0x0207:
    case 0x0204:
    case 0x0205:
    case 0x04BC:
      return true;
    default:
      return false;
  }
}

void Put32(std::string& b, std::size_t at, std::size_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

std::string Record(std::uint16_t type, std::size_t length) {
  std::string r(4 + length, '\0');
  Put32(r, 0, type | length << 16);
  return r;
}

std::string WithCellIndex(const std::string& stream) {
  const auto records = docserver::WalkBiffRecords(stream, u"book.xls");
  std::string out;
  std::vector<std::size_t> sheetFields, sheetStarts;
  bool globals = true;
  std::size_t index = 0, cells = 0, seen = 0, blocks = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const docserver::BiffRecord& r = records[i];
    if (r.type == docserver::biff::kBoundSheet && globals) sheetFields.push_back(out.size() + 4);
    if (r.type == docserver::biff::kBof && !globals) sheetStarts.push_back(out.size());
    out.append(stream, r.offset, 4 + r.data.size());
    if (r.type == docserver::biff::kEof) globals = false;
    if (r.type == docserver::biff::kBof && !globals) {
      cells = seen = blocks = 0;
      for (std::size_t k = i + 1; k < records.size() && records[k].type != docserver::biff::kEof;
           ++k)
        cells += IsCell(records[k].type);
      index = out.size();
      out += Record(docserver::biff::kIndex, 16 + 4 * ((cells + 39) / 40));
    } else if (!globals && IsCell(r.type) && (++seen % 40 == 0 || seen == cells)) {
      Put32(out, index + 20 + 4 * blocks++, out.size());
      out += Record(docserver::biff::kDbCell, 4);
    }
  }
  for (std::size_t i = 0; i < sheetFields.size(); ++i) Put32(out, sheetFields[i], sheetStarts[i]);
  return out;
}

// A copy of the workbook at from, its workbook stream changed by edit.
void EditWorkbook(const fs::path& from, const fs::path& to,
                  const std::function<std::string(std::string)>& edit) {
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(in) << from;
  docserver::CompoundFile file(in.get(), fs::file_size(from), u"book.xls");
  const auto entry = file.Find({u"Workbook"});
  ASSERT_TRUE(entry);
  UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  ASSERT_TRUE(out) << to;
  file.Write({{*entry, edit(file.ReadStream(*entry))}}, in.get(), out.get(), nullptr);
}

// Each index's positions land on cell-block records.
void ExpectCellBlocksWhereTheIndexSays(const std::string& workbook, const fs::path& file) {
  const auto records = docserver::WalkBiffRecords(workbook, u"book.xls");
  std::set<std::size_t> blocks;
  for (const auto& r : records) {
    if (r.type == docserver::biff::kDbCell) blocks.insert(r.offset);
  }
  std::size_t indexes = 0;
  for (const auto& r : records) {
    if (r.type != docserver::biff::kIndex) continue;
    ++indexes;
    for (std::size_t at = 16; at + 4 <= r.data.size(); at += 4)
      EXPECT_TRUE(blocks.count(docserver::BiffU32(r.data, at))) << file << " at " << at;
  }
  EXPECT_GE(indexes, 2u) << file;
}

// Where the workbook's records say, listing passes over the shared strings
// and cell tables; where they do not, it reads on and writing is refused.
TEST(WorkbookLinks, IndexedCellTablesArePassedOverOnlyWhereTheIndexHolds) {
  testing::TempFolder out;
  auto lastBlockOff = [](std::string s) {
    // The last position of the last sheet's index, one byte on.
    const auto records = docserver::WalkBiffRecords(s, u"book.xls");
    for (auto r = records.rbegin(); r != records.rend(); ++r) {
      if (r->type == docserver::biff::kIndex && r->data.size() > 16) {
        const std::size_t at = r->offset + 4 + r->data.size() - 4;
        Put32(s, at, docserver::BiffU32(s, at) + 1);
        break;
      }
    }
    return s;
  };
  auto firstSheetOff = [](std::string s) {
    const std::size_t at = s.find(std::string("\x85\0", 2)) + 4;
    Put32(s, at, docserver::BiffU32(s, at) + 1);
    return s;
  };
  const struct {
    const char* name;
    fs::path sample;
    std::function<std::string(std::string)> edit;
    bool writable;
  } kCases[] = {
      {"big", Samples().big(), [](std::string s) { return s; }, true},
      {"later", Samples().later(), [](std::string s) { return s; }, true},
      {"big-indexed", Samples().big(), WithCellIndex, true},
      {"later-indexed", Samples().later(), WithCellIndex, true},
      {"index-off", Samples().later(),
       [&](std::string s) { return lastBlockOff(WithCellIndex(s)); }, false},
      {"sheet-off", Samples().later(), firstSheetOff, false},
  };
  std::vector<fs::path> written;
  for (const auto& c : kCases) {
    const fs::path source = out / (std::string(c.name) + ".xls");
    EditWorkbook(c.sample, source, c.edit);
    EXPECT_EQ(Links(*Load(source)->content), kSampleLinks) << c.name;
    for (std::size_t m = 0; m < kMoves.size(); m += 2) {
      const fs::path target = out / (std::string(c.name) + "-" + std::to_string(m) + ".xls");
      if (!c.writable) {
        try {
          Rewrite(source, target, kMoves[m].from, kMoves[m].to);
          ADD_FAILURE() << c.name << ": written";
        } catch (const ServiceError& e) {
          EXPECT_EQ(e.number(), 1003) << c.name << ": " << ToUtf8(e.description());
        }
        continue;
      }
      Rewrite(source, target, kMoves[m].from, kMoves[m].to);
      auto expected = kSampleLinks;
      expected.erase(kMoves[m].from);
      expected.insert(kMoves[m].to);
      EXPECT_EQ(Links(*Load(target)->content), expected) << target;
      const std::string workbook = testing::ReadStreams(target).at("Workbook");
      ExpectSheetsWhereTheWorkbookSays(workbook, target);
      if (std::string(c.name).find("indexed") != std::string::npos)
        ExpectCellBlocksWhereTheIndexSays(workbook, target);
      written.push_back(target);
    }
  }
  // The suite reads every sheet of the indexed copies back.
  testing::Convert(Samples().work(), "fods", out.path(), written);
  for (const fs::path& file : written) {
    const std::string text = ReadDecoded(out / (file.stem().string() + ".fods"));
    for (const char* value :
         {">budget</text:a>", "<text:p>row 7</text:p>", "<text:p>row 4200</text:p>"})
      EXPECT_NE(text.find(value), std::string::npos) << file << " lacks " << value;
  }
}

std::string Utf16Bytes(std::string_view ascii) {
  std::string out;
  for (char c : ascii) out += {c, '\0'};
  return out;
}

TEST(WorkbookLinks, EightBitAndUtf16CopiesMoveTogether) {
  testing::TempFolder out;
  const fs::path target = out / "moved.xls";
  Rewrite(Samples().links(), target, u"\\\\srv1\\proj\\costs.xls", u"\\\\srv2\\p\\costs.xls");
  const std::string workbook = testing::ReadStreams(target).at("Workbook");
  for (std::string_view path : {R"(\\srv2\p\costs.xls)", R"(\\srv1\proj\costs.xls)"}) {
    const bool isNew = path.find("srv2") != std::string_view::npos;
    const std::string ansi = std::string(path) + '\0';
    EXPECT_EQ(workbook.find(ansi) != std::string::npos, isNew) << path;
    EXPECT_EQ(workbook.find(Utf16Bytes(path)) != std::string::npos, isNew) << path;
  }
}

TEST(WorkbookLinks, PathsTheRecordsCannotHoldAreRefusedBeforeAnythingChanges) {
  auto o = Load(Samples().links());
  const std::size_t n = o->content->ListLinks();
  for (std::size_t i = 0; i < n; ++i) {
    for (const std::u16string& bad : {std::u16string(u"/home/u/plan.xls"),
                                      std::u16string(u"C:\\a\x01"
                                                     u"b.xls"),
                                      std::u16string(u"C:\\") + std::u16string(9000, u'x')}) {
      try {
        o->content->Repoint(i, bad);
        ADD_FAILURE() << "accepted a path for link " << i;
      } catch (const ServiceError& e) {
        EXPECT_EQ(e.number(), 1009);
        EXPECT_NE(e.description().find(u"links.xls"), std::u16string::npos);
      }
    }
  }
  EXPECT_FALSE(o->content->HasChanges());
  EXPECT_EQ(Links(*o->content), kSampleLinks);
}

TEST(WorkbookLinks, RepointingBackChangesNothing) {
  auto o = Load(Samples().big());
  for (std::size_t i = 0; i < o->content->ListLinks(); ++i) {
    const std::u16string original = o->content->AbsolutePath(i);
    o->content->Repoint(i, u"Z:\\elsewhere.xls");
    EXPECT_TRUE(o->content->HasChanges());
    o->content->Repoint(i, original);
    EXPECT_FALSE(o->content->HasChanges()) << i;
  }
}

}  // namespace
}  // namespace quavelle
