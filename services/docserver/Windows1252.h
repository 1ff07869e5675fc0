#pragma once

#include <optional>
#include <string>
#include <string_view>

// The 8-bit text of shortcut files is in the system code page; these files are
// read and written as Western European (Windows-1252). The five bytes that code
// page leaves unassigned map to the C1 controls of the same value, as the
// system's own conversion does, so every byte string round-trips.
namespace quavelle::docserver {

std::u16string DecodeWindows1252(std::string_view bytes);

// nullopt when a character has no byte in the code page.
std::optional<std::string> EncodeWindows1252(std::u16string_view text);

}  // namespace quavelle::docserver
