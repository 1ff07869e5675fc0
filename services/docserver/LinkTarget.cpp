#include "services/docserver/LinkTarget.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "services/Text.h"

namespace quavelle::docserver {
namespace {

using Text = std::u16string;
using View = std::u16string_view;
constexpr std::size_t npos = View::npos;

bool IsSep(char16_t c) { return c == u'/' || c == u'\\'; }
bool IsAsciiAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsAsciiAlnum(char16_t c) { return IsAsciiAlpha(c) || IsAsciiDigit(c); }

int HexValue(char16_t c) {
  if (IsAsciiDigit(c)) return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool IsEscape(View s, std::size_t i) {
  return i + 2 < s.size() && s[i] == u'%' && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0;
}

bool FoldEqual(View a, View b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

bool AsciiEqualNoCase(View a, std::u16string_view lower) {
  if (a.size() != lower.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t c = a[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != lower[i]) return false;
  }
  return true;
}

std::size_t FindSep(View s, std::size_t from) {
  for (std::size_t i = from; i < s.size(); ++i) {
    if (IsSep(s[i])) return i;
  }
  return s.size();
}

std::size_t LastSegmentStart(View s) {
  const std::size_t last = s.find_last_of(u"/\\");
  return last == npos ? 0 : last + 1;
}

// Whether s[0, end) ends in a file name extension such as ".xlsx": a dot after
// a non-empty name, then up to ten ASCII letters or digits with at least one
// letter (so "v2.0" has none). Looks back a bounded distance only.
bool EndsWithExtension(View s, std::size_t end) {
  constexpr std::size_t kMaxExtension = 10;
  std::size_t i = end;
  std::size_t length = 0;
  bool letter = false;
  while (i > 0 && length <= kMaxExtension && IsAsciiAlnum(s[i - 1])) {
    letter = letter || IsAsciiAlpha(s[i - 1]);
    --i;
    ++length;
  }
  if (length == 0 || length > kMaxExtension || !letter) return false;
  if (i == 0 || s[i - 1] != u'.') return false;
  --i;
  return i > 0 && !IsSep(s[i - 1]);
}

// ----- percent escapes -----

// Decodes %XX escapes as UTF-8. Escapes that do not form well-formed UTF-8 stay
// as written, so no reference decodes to a replacement character.
Text PercentDecode(View s) {
  Text out;
  out.reserve(s.size());
  std::string bytes;
  std::size_t i = 0;
  while (i < s.size()) {
    if (!IsEscape(s, i)) {
      out += s[i++];
      continue;
    }
    const std::size_t runStart = i;
    bytes.clear();
    while (IsEscape(s, i)) {
      bytes.push_back(static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2])));
      i += 3;
    }
    for (std::size_t k = 0; k < bytes.size();) {
      char32_t cp = 0;
      if (const std::size_t length = DecodeUtf8Sequence(bytes, k, cp)) {
        AppendUtf16(out, cp);
        k += length;
      } else {
        out += s.substr(runStart + 3 * k, 3);
        ++k;
      }
    }
  }
  return out;
}

// How a reference escaped its text, so that a rewritten one escapes alike.
struct Escaping {
  std::array<bool, 128> ascii{};  // ASCII characters written as %XX
  bool rawSpace = false;          // spaces written as they are
  bool nonAscii = false;          // non-ASCII written as percent-encoded UTF-8
  bool lowerHex = false;
};

Escaping ReadEscaping(View raw) {
  Escaping e;
  bool escapedNonAscii = false;
  bool rawNonAscii = false;
  bool upper = false;
  bool lower = false;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (IsEscape(raw, i)) {
      const int byte = HexValue(raw[i + 1]) * 16 + HexValue(raw[i + 2]);
      if (byte < 128) {
        e.ascii[static_cast<std::size_t>(byte)] = true;
      } else {
        escapedNonAscii = true;
      }
      for (std::size_t k = i + 1; k <= i + 2; ++k) {
        upper = upper || (raw[k] >= u'A' && raw[k] <= u'F');
        lower = lower || (raw[k] >= u'a' && raw[k] <= u'f');
      }
      i += 2;
    } else if (raw[i] == u' ') {
      e.rawSpace = true;
    } else if (raw[i] >= 0x80) {
      rawNonAscii = true;
    }
  }
  e.rawSpace = e.rawSpace && !e.ascii[u' '];
  e.nonAscii = escapedNonAscii && !rawNonAscii;
  e.lowerHex = lower && !upper;
  return e;
}

void AppendByteEscape(Text& out, unsigned byte, bool lowerHex) {
  const char16_t* digits = lowerHex ? u"0123456789abcdef" : u"0123456789ABCDEF";
  out += u'%';
  out += digits[(byte >> 4) & 0xF];
  out += digits[byte & 0xF];
}

void AppendUtf8Escapes(Text& out, char32_t cp, bool lowerHex) {
  if (cp < 0x800) {
    AppendByteEscape(out, 0xC0 | (cp >> 6), lowerHex);
  } else if (cp < 0x10000) {
    AppendByteEscape(out, 0xE0 | (cp >> 12), lowerHex);
    AppendByteEscape(out, 0x80 | ((cp >> 6) & 0x3F), lowerHex);
  } else {
    AppendByteEscape(out, 0xF0 | (cp >> 18), lowerHex);
    AppendByteEscape(out, 0x80 | ((cp >> 12) & 0x3F), lowerHex);
    AppendByteEscape(out, 0x80 | ((cp >> 6) & 0x3F), lowerHex);
  }
  AppendByteEscape(out, 0x80 | (cp & 0x3F), lowerHex);
}

struct EscapeRules {
  Escaping escaping;
  bool guardItems = false;       // Office Open XML: a '!' after an extension would start an item
  bool escapeBackslash = false;  // POSIX names in a URL, where '\' would read as a separator
};

bool IsUnreserved(char16_t c) {
  return IsAsciiAlnum(c) || c == u'-' || c == u'.' || c == u'_' || c == u'~';
}

// Appends text escaped for a URL or a relative reference. Separators stay; the
// characters that reading splits or decodes at ('%', '#', '?') are always
// escaped. Unreserved characters never are, whatever the original did: an
// escaped letter or dot would hide a file name extension from a reader that
// looks at the text as written.
void AppendEscaped(Text& out, View text, const EscapeRules& rules) {
  const Escaping& e = rules.escaping;
  const auto staysSeparator = [&](char16_t c) {
    return IsSep(c) && !(c == u'\\' && rules.escapeBackslash);
  };
  std::size_t lastSegment = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (staysSeparator(text[i])) lastSegment = i + 1;
  }
  // The written segment so far, decoded, as reading looks for an item in it.
  Text segment = PercentDecode(View(out).substr(LastSegmentStart(out)));
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (staysSeparator(c)) {
      segment.clear();
    } else {
      segment += c;
    }
    if (c < 0x80) {
      bool escape = c < 0x20 || c == 0x7F || c == u'%' || c == u'#' || c == u'?';
      if (c == u' ') {
        escape = !e.rawSpace;
      } else if (c == u'\\' && rules.escapeBackslash) {
        escape = true;
      } else if (!IsSep(c) && !IsUnreserved(c) && e.ascii[c]) {
        escape = true;
      }
      // Whether the text as written or as decoded shows an extension, a '!'
      // after it would start an item.
      if (c == u'!' && rules.guardItems && i >= lastSegment &&
          (EndsWithExtension(out, out.size()) || EndsWithExtension(segment, segment.size() - 1))) {
        escape = true;
      }
      if (escape) {
        AppendByteEscape(out, c, e.lowerHex);
      } else {
        out += c;
      }
      continue;
    }
    if (!e.nonAscii) {
      out += c;
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      const char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
                          (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      AppendUtf8Escapes(out, cp, e.lowerHex);
      segment += text[++i];
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      out += c;  // a lone surrogate has no UTF-8 form; keep it as it is
    } else {
      AppendUtf8Escapes(out, c, e.lowerHex);
    }
  }
}

Text WithSeparator(View text, char16_t sep) {
  Text out(text);
  for (char16_t& c : out) {
    if (IsSep(c)) c = sep;
  }
  return out;
}

Text WindowsSeparators(View text) { return WithSeparator(text, u'\\'); }

// The last path segment as reading sees it: escapes decoded when the text is a
// URI, so that "a%2Exlsx!b" and "a.xlsx!b" split alike. Also where each literal
// '!' and '#' landed. Neither can be part of an escape, so decoding the pieces
// between them gives the same text as decoding the whole segment.
struct MarkedSegment {
  Text text;
  std::vector<std::pair<std::size_t, std::size_t>> marks;  // index in the raw text, in `text`
};

MarkedSegment ReadLastSegment(View s, bool decode) {
  MarkedSegment m;
  std::size_t start = LastSegmentStart(s);
  for (std::size_t i = start; i <= s.size(); ++i) {
    if (i < s.size() && s[i] != u'!' && s[i] != u'#') continue;
    const View piece = s.substr(start, i - start);
    m.text += decode ? PercentDecode(piece) : Text(piece);
    if (i == s.size()) break;
    m.marks.emplace_back(i, m.text.size());
    m.text += s[i];
    start = i + 1;
  }
  return m;
}

// An Office Open XML item ("!Sheet1!R1C1") starts at the first '!' of the file
// name that follows its extension; a '!' in a folder name has a separator after it.
std::size_t FindItem(View s, bool decode) {
  const MarkedSegment m = ReadLastSegment(s, decode);
  for (const auto& [raw, at] : m.marks) {
    if (s[raw] == u'!' && EndsWithExtension(m.text, at)) return raw;
  }
  return npos;
}

// In a plain Windows path '#' is a legal file name character, so it starts a
// fragment only after the file name's extension, and only when what follows
// does not itself look like the rest of a file name ("report.final#2.docx").
std::size_t FindPlainFragment(View s, bool decode) {
  const MarkedSegment m = ReadLastSegment(s, decode);
  for (const auto& [raw, at] : m.marks) {
    if (s[raw] != u'#' || !EndsWithExtension(m.text, at)) continue;
    const View rest = View(m.text).substr(at + 1);
    if (!EndsWithExtension(rest, rest.size())) return raw;
  }
  return npos;
}

// ----- locations: a root and lexically normalised segments -----

enum class Kind {
  Drive,     // C:
  Share,     // \\srv\share
  Posix,     // /home/u
  Rooted,    // \Data: the root of some drive
  Relative,  // no root at all
};

struct Location {
  Kind kind = Kind::Relative;
  Text root;                   // "C:" or "\\srv\share"; empty for the other kinds
  std::size_t rootLength = 0;  // characters of the source text that form the root
  std::vector<Text> segments;
  bool windows = false;  // backslash output, case-insensitive names
};

// decode: the text is a URI reference, whose escapes are decoded per segment
// so that an escaped separator stays part of a name.
void AppendSegments(Location& location, View text, bool bothSeparators, bool decode = false) {
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

// slashIsPosix: whether a single leading '/' begins a POSIX path (true) or
// means the root of a Windows drive (false).
Location Locate(View text, bool slashIsPosix) {
  Location l;
  std::size_t pos = 0;
  if (text.size() >= 2 && IsAsciiAlpha(text[0]) && text[1] == u':') {
    l.kind = Kind::Drive;
    l.root = text.substr(0, 2);
    pos = 2;
    l.windows = true;
  } else if (text.size() >= 2 && IsSep(text[0]) && IsSep(text[1])) {
    l.kind = Kind::Share;
    const std::size_t serverEnd = FindSep(text, 2);
    l.root = u"\\\\";
    l.root += text.substr(2, serverEnd - 2);
    pos = serverEnd;
    if (serverEnd < text.size()) {
      const std::size_t shareEnd = FindSep(text, serverEnd + 1);
      l.root += u'\\';
      l.root += text.substr(serverEnd + 1, shareEnd - serverEnd - 1);
      pos = shareEnd;
    }
    l.windows = true;
  } else if (!text.empty() && text[0] == u'/' && slashIsPosix) {
    l.kind = Kind::Posix;
  } else if (!text.empty() && IsSep(text[0])) {
    l.kind = Kind::Rooted;
    l.windows = true;
  } else {
    l.windows = slashIsPosix ? text.find(u'\\') != npos : true;
  }
  l.rootLength = pos;
  AppendSegments(l, text.substr(pos), l.windows);
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
  return a.kind == b.kind && a.kind != Kind::Relative && a.windows == b.windows &&
         SameName(a, a.root, b.root);
}

// Whether `inner` is `outer` or lies below it.
bool Contains(const Location& outer, const Location& inner) {
  if (!SameRoot(outer, inner) || inner.segments.size() < outer.segments.size()) return false;
  for (std::size_t i = 0; i < outer.segments.size(); ++i) {
    if (!SameName(outer, outer.segments[i], inner.segments[i])) return false;
  }
  return true;
}

Location LocateBase(View base) { return Locate(base, true); }

bool BaseIsPosix(const Location& base) { return !base.windows; }

// ----- reading a stored reference -----

enum class Shape {
  Url,           // file:...
  WindowsPath,   // C:\..., \\srv\share\..., written literally
  RootRelative,  // /Data/x.doc: a URI path from the root
  Relative,      // ../Data/x.doc
};

struct Reading {
  Shape shape = Shape::Url;
  Kind kind = Kind::Relative;  // of the written path, for Url and WindowsPath
  Text absolutePath;
  View suffix;
  // Style of the written form.
  View scheme;  // "file" as written
  View lead;    // Url: between "file:" and drive letter, server or POSIX path; share: its two
                // separators
  char16_t sep = u'/';
  bool pipe = false;  // "C|" instead of "C:"
  Escaping escaping;
};

// Length of a URI scheme before ':', or 0 when the text has none. Leading '.'
// is allowed so that ".uno:" counts as one.
std::size_t SchemeLength(View s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c == u':') return i;
    if (!(IsAsciiAlnum(c) || c == u'+' || c == u'-' || c == u'.')) return 0;
  }
  return 0;
}

// "C:" or the older "C|/"; a '|' needs the separator to stand for a drive.
bool DriveAt(View s, std::size_t k) {
  if (k + 1 >= s.size() || !IsAsciiAlpha(s[k])) return false;
  if (s[k + 1] == u':') return true;
  return s[k + 1] == u'|' && (k + 2 == s.size() || IsSep(s[k + 2]));
}

char16_t FirstSep(View s, std::size_t from, char16_t fallback) {
  const std::size_t i = FindSep(s, from);
  return i < s.size() ? s[i] : fallback;
}

std::size_t LeadingSeps(View s) {
  std::size_t n = 0;
  while (n < s.size() && IsSep(s[n])) ++n;
  return n;
}

void ReadUrlDrive(Reading& r, View body, std::size_t k) {
  r.kind = Kind::Drive;
  r.lead = body.substr(0, k);
  r.pipe = body[k + 1] == u'|';
  r.sep = FirstSep(body, k + 2, u'/');
  r.absolutePath = body.substr(k, 1);
  r.absolutePath += u':';
  r.absolutePath += WindowsSeparators(PercentDecode(body.substr(k + 2)));
}

void ReadUrlShare(Reading& r, View body, std::size_t serverStart) {
  r.kind = Kind::Share;
  r.lead = body.substr(0, serverStart);
  const std::size_t serverEnd = FindSep(body, serverStart);
  r.sep = FirstSep(body, serverEnd, r.lead.empty() ? u'/' : r.lead.back());
  r.absolutePath = u"\\\\";
  r.absolutePath += WindowsSeparators(PercentDecode(body.substr(serverStart)));
}

void ReadUrlPosix(Reading& r, View body, std::size_t pathStart) {
  r.kind = Kind::Posix;
  r.lead = body.substr(0, pathStart - 1);
  r.sep = u'/';
  r.absolutePath = u"/";
  r.absolutePath += PercentDecode(body.substr(pathStart));
}

std::optional<Reading> ReadUrl(View stored, std::size_t schemeLength, TargetSyntax syntax) {
  Reading r;
  r.shape = Shape::Url;
  r.scheme = stored.substr(0, schemeLength);
  const View rest = stored.substr(schemeLength + 1);
  const std::size_t query = rest.find_first_of(u"?#");
  View body = rest.substr(0, query);
  if (query != npos) r.suffix = rest.substr(query);
  if (syntax == TargetSyntax::OfficeOpenXml) {
    if (const std::size_t item = FindItem(body, true); item != npos) {
      r.suffix = rest.substr(item);
      body = body.substr(0, item);
    }
  }
  r.escaping = ReadEscaping(body);

  const std::size_t seps = LeadingSeps(body);
  if (seps == 0) {
    if (!DriveAt(body, 0)) return std::nullopt;
    ReadUrlDrive(r, body, 0);
  } else if (seps == 1 || seps == 3) {
    if (DriveAt(body, seps)) {
      ReadUrlDrive(r, body, seps);
    } else {
      ReadUrlPosix(r, body, seps);
    }
  } else if (seps == 2) {
    if (body.size() == 2) return std::nullopt;
    const std::size_t hostEnd = FindSep(body, 2);
    const View host = body.substr(2, hostEnd - 2);
    if (DriveAt(body, 2)) {
      ReadUrlDrive(r, body, 2);
    } else if (AsciiEqualNoCase(host, u"localhost")) {
      if (hostEnd == body.size()) return std::nullopt;
      if (DriveAt(body, hostEnd + 1)) {
        ReadUrlDrive(r, body, hostEnd + 1);
      } else {
        ReadUrlPosix(r, body, hostEnd + 1);
      }
    } else {
      ReadUrlShare(r, body, 2);
    }
  } else {
    ReadUrlShare(r, body, seps);
  }
  return r;
}

// Splits a reference that is not a URL into path and suffix.
void SplitPlain(View text, bool uriReference, TargetSyntax syntax, View& path, View& suffix) {
  path = text;
  suffix = {};
  if (syntax == TargetSyntax::OfficeOpenXml) {
    std::size_t at = FindItem(text, uriReference);
    if (at == npos) at = FindPlainFragment(text, uriReference);
    if (at != npos) {
      path = text.substr(0, at);
      suffix = text.substr(at);
    }
    return;
  }
  const std::size_t at = uriReference ? text.find_first_of(u"?#") : FindPlainFragment(text, false);
  if (at != npos) {
    path = text.substr(0, at);
    suffix = text.substr(at);
  }
}

std::optional<Reading> Read(View stored, const TargetContext& context) {
  if (stored.empty() || stored[0] == u'#' || stored[0] == u'?') return std::nullopt;
  const std::size_t scheme = SchemeLength(stored);
  if (scheme >= 2) {
    if (!AsciiEqualNoCase(stored.substr(0, scheme), u"file")) return std::nullopt;
    return ReadUrl(stored, scheme, context.syntax);
  }
  if (scheme == 1 && !IsAsciiAlpha(stored[0])) return std::nullopt;

  Reading r;
  View path;
  if (scheme == 1 || (stored.size() >= 2 && IsSep(stored[0]) && IsSep(stored[1]))) {
    r.shape = Shape::WindowsPath;
    SplitPlain(stored, false, context.syntax, path, r.suffix);
    if (path.empty()) return std::nullopt;
    if (scheme == 1) {
      r.kind = Kind::Drive;
      r.sep = FirstSep(path, 2, u'\\');
    } else {
      r.kind = Kind::Share;
      r.lead = path.substr(0, 2);
      r.sep = FirstSep(path, FindSep(path, 2), path[1]);
    }
    r.absolutePath = WindowsSeparators(path);
    return r;
  }

  r.shape = IsSep(stored[0]) ? Shape::RootRelative : Shape::Relative;
  SplitPlain(stored, true, context.syntax, path, r.suffix);
  if (path.empty()) return std::nullopt;
  r.sep = FirstSep(path, 0, u'/');
  r.escaping = ReadEscaping(path);
  Location resolved = LocateBase(context.base);
  if (r.shape == Shape::RootRelative) resolved.segments.clear();
  AppendSegments(resolved, path, true, true);
  if (context.syntax == TargetSyntax::OpenDocument && !context.packagePath.empty() &&
      Contains(LocateBase(context.packagePath), resolved)) {
    return std::nullopt;  // a part of the package itself
  }
  r.absolutePath = Render(resolved);
  return r;
}

TargetForm FormOf(const Reading& r, const TargetContext& context) {
  switch (r.shape) {
    case Shape::Url:
      return TargetForm::FileUrl;
    case Shape::WindowsPath:
      return TargetForm::PlainPath;
    case Shape::RootRelative:
      return BaseIsPosix(LocateBase(context.base)) ? TargetForm::PlainPath
                                                   : TargetForm::RelativePath;
    case Shape::Relative:
      break;
  }
  return TargetForm::RelativePath;
}

// ----- writing a reference -----

struct UrlStyle {
  View scheme = u"file";
  Kind kind = Kind::Relative;  // the kind whose lead below was found
  View lead;
  char16_t sep = u'/';
  bool pipe = false;
};

Text UrlLead(const UrlStyle& style, Kind kind) {
  if (kind == style.kind) return Text(style.lead);
  switch (kind) {
    case Kind::Drive:
      return u"///";
    case Kind::Share:
      return style.sep == u'\\' ? u"///\\\\" : u"//";
    default:
      return u"//";
  }
}

Text WriteUrl(const UrlStyle& style, const Location& target, View newPath,
              const EscapeRules& rules) {
  Text out(style.scheme);
  out += u':';
  out += UrlLead(style, target.kind);
  if (target.kind == Kind::Drive) {
    out += newPath[0];
    out += style.pipe ? u'|' : u':';
    AppendEscaped(out, WithSeparator(newPath.substr(2), style.sep), rules);
  } else if (target.kind == Kind::Share) {
    AppendEscaped(out, WithSeparator(newPath.substr(2), style.sep), rules);
  } else {
    out += u'/';
    AppendEscaped(out, newPath.substr(1), rules);
  }
  return out;
}

Text WritePlain(const Reading& original, const Location& target, View newPath) {
  const char16_t sep = original.sep;
  if (target.kind == Kind::Drive) {
    Text out(newPath.substr(0, 2));
    out += WithSeparator(newPath.substr(2), sep);
    return out;
  }
  Text out = original.kind == Kind::Share ? Text(original.lead) : Text(2, sep);
  out += WithSeparator(newPath.substr(2), sep);
  return out;
}

// "/Data/x.doc" for a target on the root that the base is on.
Text WriteRootRelative(const Location& target, View newPath, char16_t sep,
                       const EscapeRules& rules) {
  Text out;
  if (target.kind == Kind::Posix) {
    AppendEscaped(out, newPath, rules);
    return out;
  }
  const View rest = newPath.substr(target.rootLength);
  if (rest.empty() || !IsSep(rest[0])) out += sep;
  AppendEscaped(out, WithSeparator(rest, sep), rules);
  return out;
}

Text WriteRelative(const Location& base, const Location& target, char16_t sep,
                   const EscapeRules& rules) {
  std::size_t common = 0;
  while (common < base.segments.size() && common < target.segments.size() &&
         SameName(base, base.segments[common], target.segments[common])) {
    ++common;
  }
  Text out;
  for (std::size_t i = common; i < base.segments.size(); ++i) {
    out += u"..";
    out += sep;
  }
  for (std::size_t i = common; i < target.segments.size(); ++i) {
    AppendEscaped(out, target.segments[i], rules);
    out += sep;
  }
  if (out.empty()) return u".";
  out.pop_back();
  return out;
}

bool IsFullPath(const Location& l) {
  return l.kind == Kind::Drive || l.kind == Kind::Share || l.kind == Kind::Posix;
}

// Whether `candidate` reads back as the path and suffix it was written for,
// letter case included, so that the link then gives the very path it was set to.
bool ReadsBack(View candidate, const TargetContext& context, const Location& target, View newPath,
               View suffix) {
  const std::optional<Reading> r = Read(candidate, context);
  if (!r || r->suffix != suffix) return false;
  if (target.kind == Kind::Posix) return r->absolutePath == newPath;
  return r->absolutePath == WindowsSeparators(newPath);
}

}  // namespace

std::optional<LinkTarget> ParseLinkTarget(std::u16string_view stored,
                                          const TargetContext& context) {
  std::optional<Reading> r = Read(stored, context);
  if (!r) return std::nullopt;
  LinkTarget target;
  target.absolutePath = std::move(r->absolutePath);
  target.suffix = Text(r->suffix);
  target.form = FormOf(*r, context);
  target.stored = Text(stored);
  return target;
}

std::u16string FormatLinkTarget(const LinkTarget& target, std::u16string_view newPath,
                                const TargetContext& context) {
  if (newPath == target.absolutePath) return target.stored;
  if (newPath.empty()) return {};

  const bool officeOpenXml = context.syntax == TargetSyntax::OfficeOpenXml;
  const Location base = LocateBase(context.base);
  const Location destination = Locate(newPath, BaseIsPosix(base));
  const View suffix = target.suffix;

  std::optional<Reading> original = Read(target.stored, context);
  if (!original) {
    // Not a reading of ours: write a file URL in the syntax's usual style.
    original.emplace();
    original->shape = Shape::Url;
    original->sep = officeOpenXml ? u'\\' : u'/';
  }
  EscapeRules rules;
  rules.escaping = original->escaping;
  rules.guardItems = officeOpenXml;
  rules.escapeBackslash = destination.kind == Kind::Posix;  // a POSIX name may hold one

  // An absolute URL, for references that cannot stay in the original's form:
  // file:///C:/x and file://srv/share/x, or in Office Open XML file:///C:\x and
  // file:///\\srv\share\x as its own applications write them.
  UrlStyle fallbackStyle;
  fallbackStyle.sep = officeOpenXml ? u'\\' : u'/';
  if (original->shape == Shape::WindowsPath) fallbackStyle.sep = original->sep;
  if (destination.kind == Kind::Posix) fallbackStyle.sep = u'/';

  const auto relativeTo = [&](char16_t sep) -> std::optional<Text> {
    switch (destination.kind) {
      case Kind::Rooted:
        return WriteRootRelative(destination, newPath, sep, rules);
      case Kind::Relative: {
        Text out;
        AppendEscaped(out, WithSeparator(newPath, sep), rules);
        return out;
      }
      default:
        return std::nullopt;
    }
  };

  std::optional<Text> written;
  switch (original->shape) {
    case Shape::Url:
      if (IsFullPath(destination)) {
        UrlStyle style{original->scheme, original->kind, original->lead,
                       destination.kind == Kind::Posix ? u'/' : original->sep, original->pipe};
        written = WriteUrl(style, destination, newPath, rules);
      } else {
        written = relativeTo(original->sep);
      }
      break;
    case Shape::WindowsPath:
      if (destination.kind == Kind::Drive || destination.kind == Kind::Share) {
        written = WritePlain(*original, destination, newPath);
      } else if (destination.kind == Kind::Posix) {
        written = WriteRootRelative(destination, newPath, u'/', rules);
      } else {
        written = relativeTo(original->sep);
      }
      break;
    case Shape::RootRelative:
      if (SameRoot(base, destination) || (destination.kind == Kind::Posix && !base.windows)) {
        written = WriteRootRelative(destination, newPath, original->sep, rules);
      } else {
        written = relativeTo(original->sep);
      }
      break;
    case Shape::Relative:
      if (SameRoot(base, destination)) {
        written = WriteRelative(base, destination, original->sep, rules);
      } else {
        written = relativeTo(original->sep);
      }
      break;
  }

  if (written) {
    *written += suffix;
    if (!IsFullPath(destination) || ReadsBack(*written, context, destination, newPath, suffix)) {
      return *written;
    }
  }
  if (original->shape == Shape::Url) {
    fallbackStyle =
        UrlStyle{original->scheme, Kind::Relative, {}, fallbackStyle.sep, original->pipe};
    if (destination.kind != Kind::Posix) fallbackStyle.sep = original->sep;
  }
  Text url = WriteUrl(fallbackStyle, destination, newPath, rules);
  url += suffix;
  if (destination.kind == Kind::Share && !ReadsBack(url, context, destination, newPath, suffix)) {
    // In the host form a server named "localhost" reads as this machine; the
    // form without a host keeps it a share.
    fallbackStyle.kind = Kind::Share;
    fallbackStyle.lead = fallbackStyle.sep == u'\\' ? u"///\\\\" : u"////";
    url = WriteUrl(fallbackStyle, destination, newPath, rules);
    url += suffix;
  }
  return url;
}

}  // namespace quavelle::docserver
