#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The hyperlink object binary office files store for a hyperlink (in a
// workbook's HLink record, in a word-processing document's data stream): a
// display text, and the target as a file moniker, a URL moniker or a string.
namespace quavelle::docserver {

enum class MonikerKind { None, File, Url, Text, Other };

struct HyperlinkObject {
  std::uint32_t flags = 0;
  // Byte ranges in the object: the whole display string, the whole moniker.
  std::size_t displayBegin = 0, displayEnd = 0;
  std::size_t monikerBegin = 0, monikerEnd = 0;
  std::u16string display;
  MonikerKind kind = MonikerKind::None;
  // File: the path, with "..\" for each level up; Url and Text: the address.
  std::u16string target;
  bool unicodePath = false;  // File: a UTF-16 copy follows the 8-bit path
  std::string urlTail;       // Url: the optional fields after the address
};

// Reads the object at the start of data; nullopt when it is cut short or
// malformed. end receives the object's length.
std::optional<HyperlinkObject> ParseHyperlinkObject(std::string_view data, std::size_t* end);

// The moniker (class ID and data) that stores target in the form object had.
// nullopt when the path cannot be stored in that form.
std::optional<std::string> FormatMoniker(const HyperlinkObject& object, std::u16string_view target);

// The same, padded with zeros after the terminated text so that it takes
// exactly size bytes: a file moniker's 8-bit path, a URL moniker's address.
// nullopt when it does not fit or the form has no room for padding.
std::optional<std::string> FormatMonikerSized(const HyperlinkObject& object,
                                              std::u16string_view target, std::size_t size);

// A length-prefixed, zero-terminated UTF-16 string.
std::string HyperlinkString(std::u16string_view text, std::size_t padChars = 0);

// Windows-1252 bytes for text; nullopt when a character has none.
std::optional<std::string> ToWindows1252(std::u16string_view text);
std::u16string FromWindows1252(std::string_view bytes);

}  // namespace quavelle::docserver
