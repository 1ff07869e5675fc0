#include <optional>

#include "services/docserver/LinkTarget.h"
#include "services/docserver/TargetReading.h"

// Writing a new path in the form, separators and escaping a reference was
// found in.
namespace quavelle::docserver {
namespace {

using namespace link_text;

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
  Text out;
  if (style.scheme.empty() && style.kind == Kind::Share && target.kind == Kind::Share) {
    out = style.lead;  // a network-path reference stays one: "//srv/share/x"
  } else {
    out = style.scheme.empty() ? u"file" : Text(style.scheme);
    out += u':';
    out += UrlLead(style, target.kind);
  }
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

std::u16string FormatLinkTarget(const LinkTarget& target, std::u16string_view newPath,
                                const TargetContext& context) {
  if (newPath == target.absolutePath) return target.stored;
  if (newPath.empty()) return {};
  const bool officeOpenXml = context.syntax == TargetSyntax::OfficeOpenXml;
  const Location base = LocateBase(context.base);
  const Location destination = Locate(newPath, BaseIsPosix(base));
  if (destination.kind == Kind::NoDriveName) return {};  // a server names no file

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
