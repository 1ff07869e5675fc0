#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The hyperlink list the office formats cache in a document's summary
// property set (the user-defined property "_PID_HLINKS"), which some readers
// take the links of a binary presentation from.
namespace quavelle::docserver {

// The addresses in the list, in order; empty without one.
std::vector<std::u16string> ReadHyperlinkList(std::string_view propertySet);

// The property set with every address newAddress maps to a new one replaced,
// the property, its section and any later section resized. nullopt when
// nothing changes or the set cannot be read.
std::optional<std::string> RewriteHyperlinkList(
    std::string_view propertySet,
    const std::function<std::optional<std::u16string>(const std::u16string&)>& newAddress);

}  // namespace quavelle::docserver
