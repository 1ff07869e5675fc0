#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Full Windows paths as shortcuts store them: "C:\Data\plan.docx" and
// "\\srv1\proj\plan.docx". Pure text work; names compare without case.
namespace quavelle::docserver {

struct WindowsPath {
  enum class Kind { Drive, Share };
  Kind kind = Kind::Drive;
  std::u16string root;                // "C:" or "\\srv1\proj"
  std::vector<std::u16string> names;  // the folders and file below the root
};

// nullopt for anything but a drive or share path: relative, POSIX, "\\?\"
// forms, a share without a share name, empty names ("C:\a\\b").
std::optional<WindowsPath> SplitWindowsPath(std::u16string_view path);

// "\\srv1" for a share path, "C:" for a drive path.
std::u16string ServerOrDrive(const WindowsPath& path);

bool SameWindowsName(std::u16string_view a, std::u16string_view b);

// How a re-pointing moves every path that starts like the old target: the
// part of the old path before the names both paths end with, and what
// replaces it. The drive or server always stays in the moved part, so
// "\\srv1\proj\a.doc" -> "\\srv2\proj\a.doc" moves "\\srv1" to "\\srv2".
struct PrefixMove {
  std::u16string from;
  std::u16string to;
};
PrefixMove MoveBetween(const WindowsPath& oldPath, const WindowsPath& newPath);

// text with the moved part replaced, or nullopt when text does not start with
// it (followed by a separator or the end).
std::optional<std::u16string> ApplyMove(const PrefixMove& move, std::u16string_view text);

}  // namespace quavelle::docserver
