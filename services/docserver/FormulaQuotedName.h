#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quavelle::docserver {

// A quoted name in a spreadsheet formula ("'Sheet 1'.A1", "'file:///a.ods'#"):
// the text between the quote at open and its closing quote, doubled quotes
// undone; close is where the closing quote is (the end of the value when it
// has none). A name followed by '#' names a workbook.
struct FormulaQuotedName {
  std::string text;
  std::size_t close = 0;
  bool namesWorkbook = false;
};

FormulaQuotedName ReadFormulaQuotedName(std::string_view value, std::size_t open);

// Where the next quoted name after name starts, or npos.
std::size_t NextFormulaQuote(std::string_view value, const FormulaQuotedName& name);

}  // namespace quavelle::docserver
