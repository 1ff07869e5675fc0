#pragma once

#include <optional>
#include <string>
#include <string_view>

// UTF-7, the 7-bit form Internet shortcuts keep their Unicode copy of an
// address in. Letters, digits, space and '(),-./:?!"#$%&*;<=>@[]^_`{|}' are
// written as they are, '+' as "+-", every other unit in a "+...-" run of
// modified base64 over UTF-16 big-endian.
namespace quavelle::docserver {

std::string EncodeUtf7(std::u16string_view text);

// nullopt for text that is not well-formed UTF-7.
std::optional<std::u16string> DecodeUtf7(std::string_view text);

}  // namespace quavelle::docserver
