#pragma once

#include <cstdint>
#include <string>

// How a failing automation call becomes the number and description that a
// scripting user sees.
namespace quavelle {

// Errors raised in the scripting range (facility 10, 0x800A....) carry their
// plain number (0x800A004C is 76); any other failure keeps its HRESULT.
std::int32_t ErrorNumberFor(std::int32_t hresult) noexcept;

// The text a scripting user reads for the HRESULT: the runtime's own wording for
// the common errors of the scripting range ("Path not found" for 76), else the
// system's message without its line break, else "Automation error 0x....".
std::u16string SystemMessage(std::int32_t hresult);

}  // namespace quavelle
