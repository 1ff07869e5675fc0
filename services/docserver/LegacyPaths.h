#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "services/docserver/LinkTarget.h"

// Paths as binary office files store them: Windows paths, full or relative to
// the document's folder. Pure text work.
namespace quavelle::docserver {

// "C:\x" or "\\server\share\x".
bool IsFullWindowsPath(std::u16string_view path);

// The folder that holds documentPath ("/d/a.xls" -> "/d", "C:\d\a.xls" -> "C:\d").
std::u16string FolderOfDocument(std::u16string_view documentPath);

// path made full: kept when full, otherwise resolved lexically against
// context.base in the base's style ("..\x.xls", "\Data\x.xls"). nullopt for an
// empty path.
std::optional<std::u16string> ResolveLegacyPath(std::u16string_view path,
                                                const TargetContext& context);

// Whether two full paths name the same file; Windows paths ignore case.
bool SameLegacyPath(std::u16string_view a, std::u16string_view b);

}  // namespace quavelle::docserver
