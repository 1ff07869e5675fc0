#include "services/docserver/FormulaQuotedName.h"

namespace quavelle::docserver {

FormulaQuotedName ReadFormulaQuotedName(std::string_view value, std::size_t open) {
  FormulaQuotedName name;
  std::size_t at = open + 1;
  for (; at < value.size(); ++at) {
    if (value[at] != '\'') {
      name.text += value[at];
    } else if (at + 1 < value.size() && value[at + 1] == '\'') {
      name.text += value[at++];
    } else {
      break;
    }
  }
  name.close = at;
  name.namesWorkbook = at + 1 < value.size() && value[at + 1] == '#';
  return name;
}

std::size_t NextFormulaQuote(std::string_view value, const FormulaQuotedName& name) {
  return name.close + 1 < value.size() ? value.find('\'', name.close + 1) : std::string_view::npos;
}

}  // namespace quavelle::docserver
