#pragma once

#include <string>
#include <string_view>

namespace quavelle {

// The drive part a Windows path begins with, copied from it: "C:" for a drive
// letter and colon, "\\srv1\proj" for a network server and share, "" otherwise.
// Both '\' and '/' separate, as the Windows path functions accept either; the
// result keeps the separators as written. A server without a share names no
// drive. The device prefixes "\\?\" and "\\.\" are kept in front of what follows
// them, so "\\?\UNC\srv1\proj\x" gives "\\?\UNC\srv1\proj".
std::u16string DriveNameOf(std::u16string_view path);

}  // namespace quavelle
