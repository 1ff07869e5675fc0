#pragma once

#include <optional>
#include <string>
#include <string_view>

// The encoded path a binary workbook stores for another workbook it reads
// from: control characters stand for the volume, the server and separators.
namespace quavelle::docserver {

// The path as Windows writes it: "C:\Data\x.xls", "\\srv1\proj\x.xls", or a
// relative "..\x.xls" / rooted "\x.xls" one. nullopt for what names no file:
// DDE and OLE links, web addresses, the startup and library folders.
std::optional<std::u16string> DecodeVirtualPath(std::u16string_view encoded);

// The encoded form of a drive or server path; nullopt for any other path or
// one holding control characters.
std::optional<std::u16string> EncodeVirtualPath(std::u16string_view path);

}  // namespace quavelle::docserver
