#include "services/docserver/PathLocation.h"

#include "services/docserver/PercentEscapes.h"

namespace quavelle::docserver::link_text {

void AppendSegments(Location& location, View text, bool bothSeparators, bool decode) {
  std::size_t i = 0;
  while (i <= text.size()) {
    std::size_t end = i;
    while (end < text.size() && !(text[end] == u'/' || (bothSeparators && text[end] == u'\\'))) {
      ++end;
    }
    const Text segment =
        decode ? PercentDecode(text.substr(i, end - i)) : Text(text.substr(i, end - i));
    if (segment == u"..") {
      if (!location.segments.empty()) location.segments.pop_back();  // stops at the root
    } else if (!segment.empty() && segment != u".") {
      location.segments.push_back(segment);
    }
    i = end + 1;
  }
}

Location Locate(View text, bool slashIsPosix) {
  Location l;
  const std::size_t drive = DriveNameLength(text);
  if (drive == 2) {
    l.kind = Kind::Drive;
    l.root = text.substr(0, 2);
    l.windows = true;
  } else if (drive > 2) {
    l.kind = Kind::Share;
    l.root = WindowsSeparators(text.substr(0, drive));
    l.windows = true;
  } else if (text.size() >= 2 && IsSep(text[0]) && IsSep(text[1])) {
    l.kind = Kind::NoDriveName;
    l.windows = true;
    l.rootLength = text.size();
    return l;
  } else if (!text.empty() && text[0] == u'/' && slashIsPosix) {
    l.kind = Kind::Posix;
  } else if (!text.empty() && IsSep(text[0])) {
    l.kind = Kind::Rooted;
    l.windows = true;
  } else {
    l.windows = slashIsPosix ? text.find(u'\\') != npos : true;
  }
  l.rootLength = drive;
  AppendSegments(l, text.substr(drive), l.windows);
  return l;
}

Text Render(const Location& l) {
  const char16_t sep = l.windows ? u'\\' : u'/';
  Text out = l.root;
  if (l.kind == Kind::Relative) {
    for (std::size_t i = 0; i < l.segments.size(); ++i) {
      if (i > 0) out += sep;
      out += l.segments[i];
    }
    return out;
  }
  for (const Text& segment : l.segments) {
    out += sep;
    out += segment;
  }
  if (l.segments.empty()) out += sep;
  return out;
}

bool SameName(const Location& l, View a, View b) { return l.windows ? FoldEqual(a, b) : a == b; }

bool SameRoot(const Location& a, const Location& b) {
  return a.kind == b.kind && a.kind != Kind::Relative && a.kind != Kind::NoDriveName &&
         a.windows == b.windows && SameName(a, a.root, b.root);
}

bool Contains(const Location& outer, const Location& inner) {
  if (!SameRoot(outer, inner) || inner.segments.size() < outer.segments.size()) return false;
  for (std::size_t i = 0; i < outer.segments.size(); ++i) {
    if (!SameName(outer, outer.segments[i], inner.segments[i])) return false;
  }
  return true;
}

bool IsFullPath(const Location& l) {
  return l.kind == Kind::Drive || l.kind == Kind::Share || l.kind == Kind::Posix;
}

}  // namespace quavelle::docserver::link_text
