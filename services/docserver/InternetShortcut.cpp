#include "services/docserver/InternetShortcut.h"

#include <utility>

#include "services/Text.h"
#include "services/docserver/ShortcutErrors.h"
#include "services/docserver/Windows1252.h"
#include "services/docserver/WindowsPath.h"

namespace quavelle::docserver {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16Mark = "\xFF\xFE";

// File URLs here are always absolute; the base only matters for relative text.
const TargetContext kContext{TargetSyntax::OfficeOpenXml, u"C:\\", u""};

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

bool SameKey(std::u16string_view a, std::u16string_view b) { return SameWindowsName(a, b); }

// The file as code units: bytes for the 8-bit encodings (the structure is
// ASCII, which UTF-8 never uses inside a longer sequence), 16-bit units for UTF-16.
struct Units {
  std::u16string units;
  std::size_t markSize = 0;
  std::size_t unitSize = 1;
  std::size_t ByteAt(std::size_t unit) const { return markSize + unit * unitSize; }
};

std::u16string Decode(std::string_view bytes, InternetShortcut::Encoding encoding) {
  switch (encoding) {
    case InternetShortcut::Encoding::Utf8:
      return FromUtf8(bytes);
    case InternetShortcut::Encoding::Utf16: {
      std::u16string text(bytes.size() / 2, u'\0');
      for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                        (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
      }
      return text;
    }
    case InternetShortcut::Encoding::Windows1252:
      break;
  }
  return DecodeWindows1252(bytes);
}

std::optional<std::string> Encode(std::u16string_view text, InternetShortcut::Encoding encoding) {
  switch (encoding) {
    case InternetShortcut::Encoding::Utf8:
      return ToUtf8(text);
    case InternetShortcut::Encoding::Utf16: {
      std::string bytes;
      for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
      }
      return bytes;
    }
    case InternetShortcut::Encoding::Windows1252:
      break;
  }
  return EncodeWindows1252(text);
}

std::optional<LinkTarget> FileLocation(const std::u16string& value) {
  if (value.size() > 5 && SameKey(std::u16string_view(value).substr(0, 5), u"file:")) {
    auto target = ParseLinkTarget(value, kContext);
    if (!target || target->form != TargetForm::FileUrl) return std::nullopt;
    if (!SplitWindowsPath(target->absolutePath)) return std::nullopt;
    return target;
  }
  if (!SplitWindowsPath(value)) return std::nullopt;
  LinkTarget plain;
  plain.absolutePath = value;
  plain.form = TargetForm::PlainPath;
  plain.stored = value;
  return plain;
}

}  // namespace

InternetShortcut InternetShortcut::Parse(std::string bytes, const std::u16string& document) {
  InternetShortcut shortcut;
  shortcut.document_ = document;
  shortcut.bytes_ = std::move(bytes);
  const std::string_view b = shortcut.bytes_;
  Units u;
  if (b.starts_with(kUtf16Mark)) {
    if (b.size() % 2 != 0) {
      throw DamagedShortcut(document, u"its UTF-16 text has an odd number of bytes");
    }
    shortcut.encoding_ = Encoding::Utf16;
    u.markSize = 2;
    u.unitSize = 2;
    u.units = Decode(b.substr(2), Encoding::Utf16);
  } else {
    if (b.starts_with(kUtf8Mark)) {
      shortcut.encoding_ = Encoding::Utf8;
      u.markSize = 3;
    }
    for (char c : b.substr(u.markSize)) u.units.push_back(static_cast<unsigned char>(c));
  }

  const std::u16string_view text = u.units;
  bool inSection = false;
  std::size_t line = 0;
  while (line < text.size()) {
    std::size_t end = text.find_first_of(u"\r\n", line);
    if (end == std::u16string_view::npos) end = text.size();
    std::size_t at = line;
    while (at < end && IsBlank(text[at])) ++at;
    if (at < end && text[at] == u'[') {
      const std::size_t close = text.find(u']', at);
      inSection = close < end && SameKey(text.substr(at + 1, close - at - 1), u"InternetShortcut");
    } else if (inSection) {
      const std::size_t equals = text.find(u'=', at);
      if (equals < end) {
        std::size_t keyEnd = equals;
        while (keyEnd > at && IsBlank(text[keyEnd - 1])) --keyEnd;
        const std::u16string_view key = text.substr(at, keyEnd - at);
        std::size_t begin = equals + 1, valueEnd = end;
        while (begin < valueEnd && IsBlank(text[begin])) ++begin;
        while (valueEnd > begin && IsBlank(text[valueEnd - 1])) --valueEnd;
        if (SameKey(key, u"URL") || SameKey(key, u"IconFile")) {
          const std::size_t first = u.ByteAt(begin), last = u.ByteAt(valueEnd);
          const std::u16string value =
              shortcut.encoding_ == Encoding::Utf16
                  ? std::u16string(text.substr(begin, valueEnd - begin))
                  : Decode(b.substr(first, last - first), shortcut.encoding_);
          if (auto target = FileLocation(value)) {
            shortcut.links_.push_back({first, last, std::move(*target)});
          }
        }
      }
    }
    line = end;
    if (line < text.size() && text[line] == u'\r') ++line;
    if (line < text.size() && text[line] == u'\n') ++line;
  }
  return shortcut;
}

std::string InternetShortcut::Repointed(std::size_t index, const std::u16string& newPath) const {
  const Link& link = links_.at(index);
  if (!SplitWindowsPath(newPath)) {
    throw UnwritableTarget(document_, u"'" + newPath +
                                          u"' is no full drive path (C:\\...) or share path "
                                          u"(\\\\server\\share\\...)");
  }
  const std::u16string value = link.target.form == TargetForm::FileUrl
                                   ? FormatLinkTarget(link.target, newPath, kContext)
                                   : newPath;
  if (value.find_first_of(u"\r\n") != std::u16string::npos || value.find(u'\0') != value.npos) {
    throw UnwritableTarget(document_, u"'" + newPath + u"' holds a line break");
  }
  const auto encoded = Encode(value, encoding_);
  if (!encoded) {
    throw UnwritableTarget(document_, u"'" + newPath +
                                          u"' has characters that the file's 8-bit code page "
                                          u"(Windows-1252) cannot hold");
  }
  std::string out = bytes_;
  out.replace(link.begin, link.end - link.begin, *encoded);
  const InternetShortcut check = Parse(out, document_);
  if (check.size() != size() || check.target(index) != newPath) {
    throw UnwritableTarget(document_,
                           u"'" + value + u"' would not read back as '" + newPath + u"'");
  }
  return out;
}

}  // namespace quavelle::docserver
