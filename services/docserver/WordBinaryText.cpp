#include "services/docserver/WordBinaryText.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "services/ServiceError.h"
#include "services/docserver/BiffStream.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/HyperlinkObject.h"

namespace quavelle::docserver {
namespace {

constexpr std::uint16_t kWordIdent = 0xA5EC;
constexpr std::uint16_t kFirst97Version = 0x00C1;
constexpr std::uint16_t kEncrypted = 0x0100;
constexpr std::uint16_t kOneTable = 0x0200;
constexpr std::uint16_t kObfuscated = 0x8000;
constexpr std::size_t kClxPair = 33;  // fcClx/lcbClx in the FC/LCB pairs
// The stories in text order: their lengths' places among the header's longs
// (main text, footnotes, headers, macros, comments, endnotes, text boxes,
// header text boxes) and their field tables' places among the FC/LCB pairs.
constexpr std::size_t kStoryLengths[] = {3, 4, 5, 6, 7, 8, 9, 10};
constexpr std::size_t kFieldPairs[] = {16, 18, 17, 20, 19, 48, 57, 59};
constexpr std::size_t kLastFieldPair = 59;
constexpr std::size_t kFieldEntry = 6;  // a position (4 bytes) and a field descriptor (2)
constexpr std::uint32_t kMaxCharacters = 1u << 28;

// Whether any of the 8 bytes at at is a field mark byte (0x13-0x15): text
// holds few marks, so most words are passed over in one test.
bool MayHoldMark(const char* at) {
  std::uint64_t x = 0;
  std::memcpy(&x, at, sizeof x);
  constexpr std::uint64_t kOnes = ~std::uint64_t{0} / 255;
  constexpr std::uint64_t kAbove = 0x12, kBelow = 0x16;  // exclusive bounds
  const std::uint64_t low7 = x & kOnes * 127;
  return ((kOnes * (127 + kBelow) - low7) & ~x & (low7 + kOnes * (127 - kAbove)) & kOnes * 128) !=
         0;
}

}  // namespace

void WordBinaryText::Damaged(std::u16string_view reason) const {
  throw ServiceError(
      error_number::kDamagedPackage,
      u"Cannot read '" + displayPath_ + u"': damaged document (" + std::u16string(reason) + u")");
}

std::string_view WordBinaryText::Prefix(std::size_t length) {
  const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_));
  if (prefix_.size() < want) {
    const std::size_t had = prefix_.size();
    prefix_.resize(want);
    read_(had, prefix_.data() + had, want - had);
  }
  return prefix_;
}

WordBinaryText::WordBinaryText(std::uint64_t size, Reader read, const std::u16string& displayPath)
    : size_(size), read_(std::move(read)), displayPath_(displayPath) {
  std::string_view fib = Prefix(34);
  if (fib.size() < 34 || BiffU16(fib, 0) != kWordIdent) Damaged(u"no file information block");
  if (BiffU16(fib, 2) < kFirst97Version) {
    throw ServiceError(
        error_number::kEncryptedDocument,
        u"Cannot open '" + displayPath_ +
            u"': a document older than the 97 binary format, not changed by this server");
  }
  const std::uint16_t flags = BiffU16(fib, 10);
  if (flags & (kEncrypted | kObfuscated)) {
    throw ServiceError(error_number::kEncryptedDocument,
                       u"Cannot open '" + displayPath_ + u"': the document is encrypted");
  }
  oneTable_ = (flags & kOneTable) != 0;
  std::size_t at = 32;
  const std::size_t shorts = BiffU16(fib, at);
  at += 2 + shorts * 2;
  fib = Prefix(at + 2);
  if (at + 2 > fib.size()) Damaged(u"file information block cut short");
  const std::size_t longs = BiffU16(fib, at);
  const std::size_t longsAt = at + 2;
  at += 2 + longs * 4;
  fib = Prefix(at + 2);
  if (at + 2 > fib.size()) Damaged(u"file information block cut short");
  const std::size_t pairs = BiffU16(fib, at);
  at += 2;
  fib = Prefix(at + std::max(kClxPair, kLastFieldPair + 1) * 8);
  if (pairs <= kClxPair || at + (kClxPair + 1) * 8 > fib.size()) Damaged(u"no piece table");
  fcClx_ = BiffU32(fib, at + kClxPair * 8);
  lcbClx_ = BiffU32(fib, at + kClxPair * 8 + 4);
  if (longs <= kStoryLengths[std::size(kStoryLengths) - 1] || pairs <= kLastFieldPair ||
      at + (kLastFieldPair + 1) * 8 > fib.size())
    return;  // no field tables: marks are found by reading the text
  std::uint64_t storyBegin = 0;
  for (std::size_t s = 0; s < std::size(kFieldPairs); ++s) {
    const std::uint32_t length = BiffU32(fib, longsAt + 4 * kStoryLengths[s]);
    fieldTables_.push_back(
        {BiffU32(fib, at + kFieldPairs[s] * 8), BiffU32(fib, at + kFieldPairs[s] * 8 + 4),
         static_cast<std::uint32_t>(std::min<std::uint64_t>(storyBegin, kMaxCharacters)), length});
    storyBegin += length;
  }
  if (storyBegin > kMaxCharacters) fieldTables_.clear();
}

void WordBinaryText::ReadText(std::uint64_t tableSize, Reader readTable) {
  tableSize_ = tableSize;
  readTable_ = std::move(readTable);
  if (std::uint64_t{fcClx_} + lcbClx_ > tableSize_) Damaged(u"piece table past its stream");
  std::string clxBytes(lcbClx_, '\0');
  readTable_(fcClx_, clxBytes.data(), clxBytes.size());
  std::string_view clx = clxBytes;
  std::size_t at = 0;
  while (at < clx.size() && clx[at] == 0x01) {  // formatting runs before the pieces
    if (at + 3 > clx.size()) Damaged(u"piece table cut short");
    at += 3 + BiffU16(clx, at + 1);
  }
  if (at + 5 > clx.size() || clx[at] != 0x02) Damaged(u"no piece table");
  const std::uint32_t size = BiffU32(clx, at + 1);
  at += 5;
  if (size > clx.size() - at || size < 4 || (size - 4) % 12 != 0) Damaged(u"piece table size");
  const std::size_t count = (size - 4) / 12;
  std::string_view plc = clx.substr(at, size);
  std::uint32_t total = 0;
  for (std::size_t i = 0; i < count; ++i) {
    WordPiece p;
    p.cpBegin = BiffU32(plc, 4 * i);
    p.cpEnd = BiffU32(plc, 4 * (i + 1));
    const std::uint32_t fc = BiffU32(plc, 4 * (count + 1) + 8 * i + 2);
    p.compressed = (fc & 0x40000000) != 0;
    p.offset = p.compressed ? (fc & 0x3FFFFFFF) / 2 : fc;
    if (p.cpEnd < p.cpBegin || p.cpBegin != total) Damaged(u"pieces out of order");
    const std::uint64_t chars = p.cpEnd - p.cpBegin;
    total = p.cpEnd;
    if (total > kMaxCharacters || p.offset + chars * (p.compressed ? 1 : 2) > size_)
      Damaged(u"a piece past the end of the text");
    pieces_.push_back(p);
  }
}

std::optional<WordFieldMarks> WordBinaryText::ListedFieldMarks() const {
  if (fieldTables_.empty()) return std::nullopt;
  const std::uint32_t textEnd = pieces_.empty() ? 0 : pieces_.back().cpEnd;
  WordFieldMarks marks;
  std::string plc;
  for (const FieldTable& t : fieldTables_) {
    if (t.lcb == 0) continue;
    if (t.lcb < 4 || (t.lcb - 4) % kFieldEntry != 0 || std::uint64_t{t.fc} + t.lcb > tableSize_)
      return std::nullopt;
    plc.resize(t.lcb);
    readTable_(t.fc, plc.data(), plc.size());
    // n + 1 positions, then n descriptors whose first byte holds the mark;
    // the last position closes the table.
    const std::size_t n = (t.lcb - 4) / kFieldEntry;
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint32_t cp = BiffU32(plc, 4 * i);
      const auto mark =
          static_cast<char16_t>(static_cast<unsigned char>(plc[4 * (n + 1) + 2 * i]) & 0x1F);
      if (cp >= t.storyLength || std::uint64_t{t.storyBegin} + cp >= textEnd ||
          (i > 0 && cp <= BiffU32(plc, 4 * (i - 1))) || mark < 0x13 || mark > 0x15)
        return std::nullopt;
      marks.emplace_back(t.storyBegin + cp, mark);
    }
  }
  std::sort(marks.begin(), marks.end());
  return marks;
}

WordFieldMarks WordBinaryText::FieldMarks() const {
  // Each piece is read in parts through one buffer, never the whole stream.
  constexpr std::size_t kPart = 64 << 10;
  WordFieldMarks marks;
  std::string buffer;
  for (const WordPiece& p : pieces_) {
    const std::size_t width = p.compressed ? 1 : 2;
    const std::size_t chars = p.cpEnd - p.cpBegin;
    for (std::size_t first = 0; first < chars;) {
      const std::size_t count = std::min(chars - first, kPart / width);
      buffer.resize(count * width);
      read_(p.offset + std::uint64_t{first} * width, buffer.data(), buffer.size());
      const char* at = buffer.data();
      const auto cp = static_cast<std::uint32_t>(p.cpBegin + first);
      // The marks are 0x13-0x15; blocks of 32 bytes with no such byte are
      // passed over, the others looked at a character at a time.
      constexpr std::size_t kBlock = 32;
      const std::size_t bytes = count * width;
      for (std::size_t b = 0; b < bytes; b += kBlock) {
        const std::size_t blockEnd = std::min(bytes, b + kBlock);
        if (blockEnd - b == kBlock && !MayHoldMark(at + b) && !MayHoldMark(at + b + 8) &&
            !MayHoldMark(at + b + 16) && !MayHoldMark(at + b + 24))
          continue;
        for (std::size_t i = b; i < blockEnd; i += width) {
          const auto low = static_cast<unsigned char>(at[i]);
          if (static_cast<unsigned char>(low - 0x13) <= 2 && (width == 1 || at[i + 1] == 0))
            marks.emplace_back(static_cast<std::uint32_t>(cp + i / width),
                               static_cast<char16_t>(low));
        }
      }
      first += count;
    }
  }
  return marks;
}

std::u16string WordBinaryText::Text(std::uint32_t cpBegin, std::uint32_t cpEnd) const {
  std::u16string out;
  std::string bytes;
  for (std::uint32_t cp = cpBegin; cp < cpEnd;) {
    const WordPiece& p = PieceAt(cp);
    const std::size_t k = cp - p.cpBegin;
    const std::size_t count = std::min(cpEnd, p.cpEnd) - cp;
    const std::size_t width = p.compressed ? 1 : 2;
    bytes.resize(count * width);
    read_(p.offset + std::uint64_t{k} * width, bytes.data(), bytes.size());
    if (p.compressed) {
      out += FromWindows1252(bytes);
    } else {
      for (std::size_t c = 0; c < count; ++c) out += static_cast<char16_t>(BiffU16(bytes, 2 * c));
    }
    cp += static_cast<std::uint32_t>(count);
  }
  return out;
}

const WordPiece& WordBinaryText::PieceAt(std::uint32_t cp) const {
  auto it = std::upper_bound(pieces_.begin(), pieces_.end(), cp,
                             [](std::uint32_t v, const WordPiece& p) { return v < p.cpEnd; });
  return *it;  // callers pass positions inside the text
}

bool WordBinaryText::Overwrite(std::string* doc, std::uint32_t cp,
                               std::u16string_view replacement) const {
  std::vector<std::pair<std::size_t, std::string>> writes;
  for (std::size_t i = 0; i < replacement.size(); ++i) {
    const WordPiece& p = PieceAt(static_cast<std::uint32_t>(cp + i));
    const std::size_t k = cp + i - p.cpBegin;
    if (p.compressed) {
      auto byte = ToWindows1252(replacement.substr(i, 1));
      if (!byte) return false;
      writes.emplace_back(p.offset + k, *byte);
    } else {
      const char16_t c = replacement[i];
      writes.emplace_back(p.offset + 2 * k,
                          std::string{static_cast<char>(c), static_cast<char>(c >> 8)});
    }
  }
  if (doc) {
    for (const auto& [at, bytes] : writes) doc->replace(at, bytes.size(), bytes);
  }
  return true;
}

}  // namespace quavelle::docserver
