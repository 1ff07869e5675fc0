#pragma once

#include <vector>

#include "services/docserver/LinkText.h"

// Where a path's drive, share or POSIX root sits, and its lexically
// normalised folders and name below it.
namespace quavelle::docserver::link_text {

enum class Kind {
  Drive,       // C:
  Share,       // \\srv\share, or a device path's root (\\?\UNC\srv\share, \\?\C:)
  Posix,       // /home/u
  Rooted,      // \Data: the root of some drive
  Relative,    // no root at all
  NoDriveName  // \\srv: a server without a share names no drive and no file
};

struct Location {
  Kind kind = Kind::Relative;
  Text root;                   // "C:" or "\\srv\share"; empty for the other kinds
  std::size_t rootLength = 0;  // characters of the source text that form the root
  std::vector<Text> segments;
  bool windows = false;  // backslash output, case-insensitive names
};

// Appends text's segments to location; ".." stops at the root. decode: the
// text is a URI reference, whose escapes are decoded per segment so that an
// escaped separator stays part of a name.
void AppendSegments(Location& location, View text, bool bothSeparators, bool decode = false);

// slashIsPosix: whether a single leading '/' begins a POSIX path (true) or
// means the root of a Windows drive (false). The drive or share is the one
// DriveNameLength finds.
Location Locate(View text, bool slashIsPosix);
inline Location LocateBase(View base) { return Locate(base, true); }
inline bool BaseIsPosix(const Location& base) { return !base.windows; }

Text Render(const Location& l);

bool SameName(const Location& l, View a, View b);
bool SameRoot(const Location& a, const Location& b);
// Whether inner is outer or lies below it.
bool Contains(const Location& outer, const Location& inner);
bool IsFullPath(const Location& l);

}  // namespace quavelle::docserver::link_text
