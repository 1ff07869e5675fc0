#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
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

using WordFieldMarks = std::vector<std::pair<std::uint32_t, char16_t>>;

class WordBinaryText {
 public:
  // Reads length bytes of the WordDocument stream from at into out.
  using Reader = std::function<void(std::uint64_t at, char* out, std::size_t length)>;

  // Reads the header of the WordDocument stream (size bytes, read through
  // read as needed); fails with 1002 for encrypted or pre-97 documents, 1003
  // for a damaged header, naming displayPath.
  WordBinaryText(std::uint64_t size, Reader read, const std::u16string& displayPath);

  // "1Table" or "0Table": the stream holding the piece table.
  const char16_t* tableStream() const { return oneTable_ ? u"1Table" : u"0Table"; }
  // Reads the piece table from the table stream (tableSize bytes, read
  // through readTable as needed).
  void ReadText(std::uint64_t tableSize, Reader readTable);

  // The field marks (begin, separator, end) of the whole text (all stories),
  // as character position and mark, in order, found by reading every
  // character.
  WordFieldMarks FieldMarks() const;
  // The same as the field tables of the stories list them, without reading
  // the text; nullopt when a table lies outside its stream or its story or
  // holds something other than a mark. The text may still disagree.
  std::optional<WordFieldMarks> ListedFieldMarks() const;
  // The characters from cpBegin up to cpEnd (read from the stream).
  std::u16string Text(std::uint32_t cpBegin, std::uint32_t cpEnd) const;
  const WordPiece& PieceAt(std::uint32_t cp) const;

  // Writes replacement over the characters from cp on, in each character's
  // own width. False, with nothing written, when a one-byte piece has no
  // byte for a character; with no wordDocument, only checks.
  bool Overwrite(std::string* wordDocument, std::uint32_t cp,
                 std::u16string_view replacement) const;

 private:
  [[noreturn]] void Damaged(std::u16string_view reason) const;

  // The first bytes of the stream, at least length of them when it holds as many.
  std::string_view Prefix(std::size_t length);

  std::uint64_t size_ = 0;
  Reader read_;
  std::string prefix_;
  std::u16string displayPath_;
  bool oneTable_ = false;
  std::uint32_t fcClx_ = 0, lcbClx_ = 0;
  // Where each story's field table lies in the table stream, and the
  // story's first character and length; empty when the header has none.
  struct FieldTable {
    std::uint32_t fc = 0, lcb = 0, storyBegin = 0, storyLength = 0;
  };
  std::vector<FieldTable> fieldTables_;
  std::uint64_t tableSize_ = 0;
  Reader readTable_;
  std::vector<WordPiece> pieces_;
};

}  // namespace quavelle::docserver
