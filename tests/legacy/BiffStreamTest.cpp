// Positions a workbook stream keeps for later records move with a change of
// length before them. The office suite writes no cell index, so the stream
// here is built record by record.
#include "services/docserver/BiffStream.h"

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "services/ServiceError.h"
#include "services/docserver/BiffRecordCursor.h"

namespace quavelle::docserver {
namespace {

std::string Le(std::uint32_t v, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
  return out;
}

std::string Rec(std::uint16_t type, const std::string& data) {
  return Le(type, 2) + Le(static_cast<std::uint32_t>(data.size()), 2) + data;
}

// Globals (a sheet offset, an external book, shared strings and their
// buckets), then a sheet with an index of its cell blocks.
struct Stream {
  std::string bytes;
  std::size_t sheetAt = 0, dbCellAt = 0, sstAt = 0;
};

Stream Build(const std::string& bookData) {
  const std::string bof = Rec(biff::kBof, Le(0x0600, 2) + Le(0x0005, 2) + std::string(12, '\0'));
  const std::string supBook = Rec(biff::kSupBook, bookData);
  const std::string sst = Rec(0x00FC, Le(1, 4) + Le(1, 4) + Le(1, 2) + '\0' + "x");
  const std::string eof = Rec(biff::kEof, "");
  auto boundSheet = [](std::size_t at) {
    return Rec(biff::kBoundSheet,
               Le(static_cast<std::uint32_t>(at), 4) + Le(0, 2) + Le(5, 1) + '\0' + "Sheet");
  };
  auto extSst = [](std::size_t at) {
    return Rec(biff::kExtSst,
               Le(8, 2) + Le(static_cast<std::uint32_t>(at), 4) + Le(12, 2) + Le(0, 2));
  };
  auto index = [](std::size_t dbCell) {
    return Rec(biff::kIndex, Le(0, 4) + Le(0, 4) + Le(1, 4) + Le(0, 4) +
                                 Le(static_cast<std::uint32_t>(dbCell), 4));
  };
  Stream s;
  s.sstAt = bof.size() + boundSheet(0).size() + supBook.size();
  s.sheetAt = s.sstAt + sst.size() + extSst(0).size() + eof.size();
  s.dbCellAt = s.sheetAt + bof.size() + index(0).size();
  s.bytes = bof + boundSheet(s.sheetAt) + supBook + sst + extSst(s.sstAt + 12) + eof + bof +
            index(s.dbCellAt) + Rec(biff::kDbCell, Le(0, 4)) + eof;
  return s;
}

std::uint32_t U32At(const std::string& s, std::size_t at) { return BiffU32(s, at); }

TEST(BiffStream, ALongerOrShorterRecordMovesEveryPositionAfterIt) {
  const std::string book = Le(1, 2) + Le(3, 2) + '\0' + "a.x";
  const Stream original = Build(book);
  const std::u16string name = u"book.xls";
  for (int delta : {+40, -2, 0}) {
    const std::vector<BiffRecord> records = WalkBiffRecords(original.bytes, name);
    std::size_t supBook = 0;
    while (records[supBook].type != biff::kSupBook) ++supBook;
    std::string data = book;
    if (delta > 0) data += std::string(static_cast<std::size_t>(delta), 's');
    if (delta < 0) data.resize(data.size() - static_cast<std::size_t>(-delta));
    const std::string out = RewriteBiffStream(original.bytes, records, {{supBook, data}}, name);
    const std::ptrdiff_t moved =
        static_cast<std::ptrdiff_t>(data.size()) - static_cast<std::ptrdiff_t>(book.size());
    ASSERT_EQ(out.size(), original.bytes.size() + moved);
    const auto walked = WalkBiffRecords(out, name);
    ASSERT_EQ(walked.size(), records.size());
    for (const BiffRecord& r : walked) {
      std::size_t field = 0, expected = 0;
      if (r.type == biff::kBoundSheet) std::tie(field, expected) = std::pair(0, original.sheetAt);
      if (r.type == biff::kIndex) std::tie(field, expected) = std::pair(16, original.dbCellAt);
      if (r.type == biff::kExtSst) std::tie(field, expected) = std::pair(2, original.sstAt + 12);
      if (expected != 0) {
        EXPECT_EQ(U32At(std::string(r.data), field), expected + moved) << delta << " " << r.type;
      }
    }
  }
}

TEST(BiffStream, AStreamWhosePositionsAreWrongIsNotWritten) {
  Stream s = Build(Le(1, 2) + Le(3, 2) + '\0' + "a.x");
  // The sheet offset points one byte past the sheet's first record.
  const std::size_t boundSheet = s.bytes.find(Le(biff::kBoundSheet, 2));
  s.bytes[boundSheet + 4] = static_cast<char>(s.bytes[boundSheet + 4] + 1);
  const auto records = WalkBiffRecords(s.bytes, u"book.xls");
  EXPECT_THROW(RewriteBiffStream(s.bytes, records, {}, u"book.xls"), ServiceError);
}

BiffRecordCursor Cursor(const std::string& bytes, std::size_t window) {
  return BiffRecordCursor(
      bytes.size(),
      [&bytes](std::uint64_t at, char* out, std::size_t length) {
        ASSERT_LE(at + length, bytes.size());
        bytes.copy(out, length, at);
      },
      u"book.xls", window);
}

TEST(BiffStream, CursorReadsWholeRecordsWhateverItsWindow) {
  const Stream s = Build(Le(1, 2) + Le(3, 2) + '\0' + "a.x");
  const auto whole = WalkBiffRecords(s.bytes, u"book.xls");
  for (std::size_t window : {1u, 3u, 4u, 7u, 64u, 1u << 16}) {
    auto cursor = Cursor(s.bytes, window);
    std::vector<std::pair<std::size_t, std::string>> seen;
    for (BiffRecord r; cursor.Next(r);) seen.emplace_back(r.offset, std::string(r.data));
    ASSERT_EQ(seen.size(), whole.size()) << window;
    for (std::size_t i = 0; i < whole.size(); ++i) {
      EXPECT_EQ(seen[i].first, whole[i].offset) << window;
      EXPECT_EQ(seen[i].second, whole[i].data) << window;
    }
    // Moved to the sheet's first record, it reads on from there.
    auto jumping = Cursor(s.bytes, window);
    auto header = jumping.HeaderAt(s.sheetAt);
    ASSERT_TRUE(header) << window;
    EXPECT_EQ(header->first, biff::kBof);
    EXPECT_EQ(header->second, 16u);
    jumping.Seek(s.sheetAt);
    BiffRecord r;
    ASSERT_TRUE(jumping.Next(r));
    EXPECT_EQ(r.offset, s.sheetAt);
    ASSERT_TRUE(jumping.Next(r));
    EXPECT_EQ(r.type, biff::kIndex);
    EXPECT_FALSE(jumping.HeaderAt(s.bytes.size() - 3)) << window;
  }
}

TEST(BiffStream, CursorFailsOnARecordCutShortButNotOnPadding) {
  const Stream s = Build(Le(1, 2) + Le(3, 2) + '\0' + "a.x");
  const struct {
    std::string bytes;
    bool damaged;
  } kCases[] = {
      {s.bytes.substr(0, s.bytes.size() - 3), true},  // the last record's header cut
      {s.bytes.substr(0, s.sstAt + 6), true},         // a record's data cut
      {s.bytes + std::string(3, '\0'), false},        // padding shorter than a header
      {s.bytes + std::string(8, '\0'), false},        // empty records
      {s.bytes + std::string("\0\x01", 2), true},
  };
  for (const auto& c : kCases) {
    for (std::size_t window : {5u, 1u << 16}) {
      auto cursor = Cursor(c.bytes, window);
      auto walk = [&cursor] {
        for (BiffRecord r; cursor.Next(r);) {
        }
      };
      if (c.damaged) {
        EXPECT_THROW(walk(), ServiceError) << c.bytes.size() << " " << window;
      } else {
        EXPECT_NO_THROW(walk()) << c.bytes.size() << " " << window;
      }
    }
  }
}

}  // namespace
}  // namespace quavelle::docserver
