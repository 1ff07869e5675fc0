#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The instruction of a word-processing field ("INCLUDETEXT \"C:\\\\a.docx\" \\!")
// as tokens, and arguments written back in the style they were found in.
namespace quavelle::docserver {

struct FieldToken {
  std::size_t begin = 0;  // bytes of the instruction the token is written in
  std::size_t end = 0;
  std::string value;  // unescaped
  bool quoted = false;
  // '\' written twice for one ("C:\\Data"). A token whose backslash runs are
  // all of even length is read so; any odd run makes every '\' literal, as
  // hand-typed paths are ("\\srv1\proj\a.docx").
  bool doubled = false;
  bool isSwitch = false;  // \d, \*, \#: a backslash and one character, unquoted
};

// Splits at white space outside quotes. Within quotes '\"' is a quotation
// mark; in the doubled style '\\' is one backslash.
std::vector<FieldToken> TokenizeField(std::string_view instruction);

// The token that stores value in original's style: quoted if it was or must
// be (white space, a quotation mark, empty), backslashes doubled if they were
// or the argument had none; reads back as value.
std::string WriteFieldArgument(const FieldToken& original, std::string_view value);

// The field's name, upper case ASCII ("INCLUDETEXT"), or "" for none.
std::string FieldName(const std::vector<FieldToken>& tokens);

// Where a field keeps a file: the index of the token, or npos.
//  - the file argument of LINK, DDE, DDEAUTO (second), INCLUDETEXT, INCLUDE,
//    INCLUDEPICTURE, IMPORT, HYPERLINK, RD (first): arguments come before any switch;
//  - DATABASE: the argument of \d.
inline constexpr std::size_t kNoToken = static_cast<std::size_t>(-1);
std::size_t FileArgument(const std::vector<FieldToken>& tokens);
// DATABASE's \c connection string argument, or npos.
std::size_t ConnectionArgument(const std::vector<FieldToken>& tokens);

}  // namespace quavelle::docserver
