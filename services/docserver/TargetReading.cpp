#include "services/docserver/TargetReading.h"

#include <algorithm>

#include "services/docserver/TargetSuffix.h"

namespace quavelle::docserver::link_text {
namespace {

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
  if (k + 1 >= s.size() || !IsAsciiLetter(s[k])) return false;
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

// rest: what follows "file:", or a whole network-path reference ("//srv/share/x").
std::optional<Reading> ReadUrl(View scheme, View rest, TargetSyntax syntax) {
  Reading r;
  r.shape = Shape::Url;
  r.scheme = scheme;
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
  if (r.kind == Kind::Share && DriveNameLength(r.absolutePath) == 0) return std::nullopt;
  return r;
}

// A network-path reference ("//host/..."), which borrows the document's scheme.
// The office suites write a file on a server in full ("file://srv/share/x"),
// so "//host/..." comes from pasted web content as often as from a file: it
// names a file on a share only as "//server/share/name", with at least a share
// and a name below the server. "//host" and "//host/name" (a picture pasted
// from a web page: "//upload.example.org/img.png"), a host with a port or a
// user ("//h:8080/a/b", "//u@h/a/b") and a query ("?...") are web addresses.
// A dot in the host tells nothing: file servers are often named in full
// ("//nas.corp.example/share/x.ods").
bool IsWebAddress(View reference) {
  const View rest = reference.substr(2);
  const std::size_t hostEnd = rest.find(u'/');
  const View host = rest.substr(0, hostEnd);
  if (host.empty() || host.find_first_of(u":@") != npos) return true;
  if (rest.find(u'?') != npos) return true;
  if (hostEnd == npos) return true;
  View below = rest.substr(hostEnd + 1);
  below = below.substr(0, below.find(u'#'));
  std::size_t named = 0;
  for (std::size_t i = 0; i <= below.size(); ++i) {
    const std::size_t end = std::min(below.find(u'/', i), below.size());
    if (end > i) ++named;
    i = end;
  }
  return named < 2;
}

bool IsNetworkPathReference(View stored) {
  return stored.size() > 2 && stored[0] == u'/' && stored[1] == u'/' && stored[2] != u'/' &&
         stored[2] != u'\\';
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

}  // namespace

std::optional<Reading> Read(View stored, const TargetContext& context) {
  if (stored.empty() || stored[0] == u'#' || stored[0] == u'?') return std::nullopt;
  const std::size_t scheme = SchemeLength(stored);
  if (scheme >= 2) {
    if (!AsciiEqualNoCase(stored.substr(0, scheme), u"file")) return std::nullopt;
    return ReadUrl(stored.substr(0, scheme), stored.substr(scheme + 1), context.syntax);
  }
  if (IsNetworkPathReference(stored)) {
    if (IsWebAddress(stored)) return std::nullopt;
    // OpenDocument references are URIs: this is "file://server/share/..."
    // without its scheme. Office Open XML producers write such a path as it is.
    if (context.syntax == TargetSyntax::OpenDocument) return ReadUrl({}, stored, context.syntax);
  }
  if (scheme == 1 && !IsAsciiLetter(stored[0])) return std::nullopt;

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
    if (r.kind == Kind::Share && DriveNameLength(r.absolutePath) == 0) return std::nullopt;
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

}  // namespace quavelle::docserver::link_text

namespace quavelle::docserver {

using namespace link_text;

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

}  // namespace quavelle::docserver
