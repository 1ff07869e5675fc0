#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The text of a binary word-processing document: its file information block
// and the piece table that places each character in the WordDocument stream.
namespace quavelle::docserver {

struct WordPiece {
  std::uint32_t cpBegin = 0, cpEnd = 0;
  std::uint32_t offset = 0;  // of the first character in the WordDocument stream
  bool compressed = false;   // one Windows-1252 byte per character, else UTF-16
};

class WordBinaryText {
 public:
  // Reads the header of wordDocument; fails with 1002 for encrypted or
  // pre-97 documents, 1003 for a damaged header, naming displayPath.
  WordBinaryText(std::string_view wordDocument, const std::u16string& displayPath);

  // "1Table" or "0Table": the stream holding the piece table.
  const char16_t* tableStream() const { return oneTable_ ? u"1Table" : u"0Table"; }
  // Reads the piece table from the table stream.
  void ReadText(std::string_view table);

  // The field marks (begin, separator, end) of the whole text (all stories),
  // as character position and mark, in order.
  std::vector<std::pair<std::uint32_t, char16_t>> FieldMarks() const;
  // The characters from cpBegin up to cpEnd.
  std::u16string Text(std::uint32_t cpBegin, std::uint32_t cpEnd) const;
  const WordPiece& PieceAt(std::uint32_t cp) const;

  // Writes replacement over the characters from cp on, in each character's
  // own width. False, with nothing written, when a one-byte piece has no
  // byte for a character; with no wordDocument, only checks.
  bool Overwrite(std::string* wordDocument, std::uint32_t cp,
                 std::u16string_view replacement) const;

 private:
  [[noreturn]] void Damaged(std::u16string_view reason) const;

  std::string_view stream_;
  std::u16string displayPath_;
  bool oneTable_ = false;
  std::uint32_t fcClx_ = 0, lcbClx_ = 0;
  std::vector<WordPiece> pieces_;
};

}  // namespace quavelle::docserver
