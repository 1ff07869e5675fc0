#include "services/Text.h"

namespace quavelle {

// Placeholder: A-Z only, until the generated simple-folding table lands.
char16_t FoldCase(char16_t unit) noexcept {
  return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

}  // namespace quavelle
