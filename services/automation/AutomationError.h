#pragma once

#include <cstdint>
#include <string>

// How a failing automation call becomes the number and description that a
// scripting user sees.
namespace quavelle {

// Errors raised in the scripting range (facility 10, 0x800A....) carry their
// plain number (0x800A004C is 76); any other failure keeps its HRESULT.
std::int32_t ErrorNumberFor(std::int32_t hresult) noexcept;

// The system's message text for the HRESULT, without its line break; a generic
// "Automation error 0x...." when the system has none.
std::u16string SystemMessage(std::int32_t hresult);

}  // namespace quavelle
