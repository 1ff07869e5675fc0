// The text reader of binary word-processing documents finds every field mark,
// wherever it falls in the parts and blocks it reads, in one- and two-byte
// pieces, and reads text ranges back across pieces.
#include "services/docserver/WordBinaryText.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace quavelle {
namespace {

using docserver::WordBinaryText;
using Marks = std::vector<std::pair<std::uint32_t, char16_t>>;

void Put16(std::string& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<char>(v);
  b[at + 1] = static_cast<char>(v >> 8);
}

void Put32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

struct Piece {
  std::u16string text;
  bool compressed;
};

// A WordDocument stream (header, then each piece's characters) and its table
// stream holding the piece table.
struct Document {
  std::string stream, table;
};

Document Build(const std::vector<Piece>& pieces) {
  constexpr std::size_t kPairs = 34, kFibEnd = 38 + kPairs * 8;
  Document d;
  d.stream.assign(kFibEnd, '\0');
  Put16(d.stream, 0, 0xA5EC);
  Put16(d.stream, 2, 0x00C1);
  Put16(d.stream, 10, 0x0200);  // the 1Table stream
  Put16(d.stream, 36, kPairs);
  std::vector<std::uint32_t> cps{0}, fcs;
  for (const Piece& p : pieces) {
    const std::size_t offset = d.stream.size();
    for (char16_t c : p.text) {
      d.stream += static_cast<char>(c);
      if (!p.compressed) d.stream += static_cast<char>(c >> 8);
    }
    fcs.push_back(p.compressed ? static_cast<std::uint32_t>(offset * 2) | 0x40000000
                               : static_cast<std::uint32_t>(offset));
    cps.push_back(cps.back() + static_cast<std::uint32_t>(p.text.size()));
  }
  std::string plc(cps.size() * 4 + fcs.size() * 8, '\0');
  for (std::size_t i = 0; i < cps.size(); ++i) Put32(plc, 4 * i, cps[i]);
  for (std::size_t i = 0; i < fcs.size(); ++i) Put32(plc, 4 * cps.size() + 8 * i + 2, fcs[i]);
  std::string size(4, '\0');
  Put32(size, 0, static_cast<std::uint32_t>(plc.size()));
  d.table = std::string(7, 'x') + '\x02' + size + plc;
  Put32(d.stream, 38 + 33 * 8, 7);
  Put32(d.stream, 38 + 33 * 8 + 4, static_cast<std::uint32_t>(d.table.size() - 7));
  return d;
}

WordBinaryText Read(const Document& d) {
  WordBinaryText text(
      d.stream.size(),
      [&d](std::uint64_t at, char* out, std::size_t length) {
        ASSERT_LE(at + length, d.stream.size());
        std::memcpy(out, d.stream.data() + at, length);
      },
      u"test.doc");
  text.ReadText(d.table.size(), [&d](std::uint64_t at, char* out, std::size_t length) {
    ASSERT_LE(at + length, d.table.size());
    std::memcpy(out, d.table.data() + at, length);
  });
  return text;
}

TEST(WordBinaryText, FindsEveryFieldMarkAndReadsRangesBack) {
  // Text with marks at every place in a block, near part edges, and
  // characters whose bytes only look like marks.
  auto filler = [](std::size_t n, char16_t base) {
    std::u16string s;
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char16_t>(base + i % 7);
    return s;
  };
  std::u16string dense;
  for (std::size_t i = 0; i < 80; ++i) dense += i % 3 == 0 ? char16_t(0x13 + i % 9 / 3) : u'a';
  // Lone marks 37 characters apart fall at every place of a block in turn.
  std::u16string sparse = filler(3000, u'c');
  for (std::size_t i = 0; i < sparse.size(); i += 37) sparse[i] = char16_t(0x13 + i % 3);
  const std::u16string lookalikes = u"\u1313\u1413\u0113\u1500x\u0016\u0012";
  const std::u16string big = filler(70000, u'A') + u"\x13" + filler(40, u'a') + u"\x15";
  struct Case {
    const char* name;
    std::vector<Piece> pieces;
  };
  const Case kCases[] = {
      {"one-byte dense", {{dense, true}}},
      {"two-byte dense", {{dense, false}}},
      {"one-byte sparse", {{sparse, true}}},
      {"two-byte sparse", {{sparse, false}}},
      {"two-byte lookalikes", {{lookalikes + dense + lookalikes, false}}},
      {"mixed pieces", {{dense, true}, {filler(33, u'k') + u"\x14", false}, {dense, true}}},
      {"marks past the first 64 KiB part, one byte", {{big, true}}},
      {"marks past the first 64 KiB part, two bytes", {{big, false}}},
      {"no marks", {{filler(1000, u'b'), false}}},
  };
  for (const Case& c : kCases) {
    std::u16string all;
    for (const Piece& p : c.pieces) all += p.text;
    Marks expected;
    for (std::size_t i = 0; i < all.size(); ++i)
      if (all[i] >= 0x13 && all[i] <= 0x15) expected.emplace_back(i, all[i]);
    const Document d = Build(c.pieces);
    const WordBinaryText text = Read(d);
    EXPECT_EQ(text.FieldMarks(), expected) << c.name;
    EXPECT_FALSE(text.ListedFieldMarks()) << c.name;  // a header without field tables
    const auto n = static_cast<std::uint32_t>(all.size());
    for (auto [from, to] : {std::pair<std::uint32_t, std::uint32_t>{0, n},
                            {n / 3, n - n / 5},
                            {n / 2, n / 2 + 1},
                            {5, 5}}) {
      EXPECT_EQ(text.Text(from, to), all.substr(from, to - from)) << c.name << " " << from;
    }
  }
}

}  // namespace
}  // namespace quavelle
