#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The instruction of a word-processing field ("HYPERLINK "C:\\a.doc" \l x"):
// which argument names a file, and how a new one is written. Pure text work.
namespace quavelle::docserver {

struct FieldPathArgument {
  std::size_t begin = 0, end = 0;  // of the argument as written, quotes included
  std::u16string value;            // with the escapes undone
  bool quoted = false;
};

// The file argument of a LINK, HYPERLINK, INCLUDETEXT, INCLUDE, INCLUDEPICTURE
// or IMPORT instruction; nullopt for other fields or when it is missing.
std::optional<FieldPathArgument> FindFieldPath(std::u16string_view instruction);

// value as a quoted argument, backslashes and quotes escaped.
std::u16string QuoteFieldArgument(std::u16string_view value);

}  // namespace quavelle::docserver
