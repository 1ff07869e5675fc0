#include "services/docserver/InternetShortcut.h"

#include <algorithm>
#include <utility>

#include "services/Text.h"
#include "services/docserver/ShortcutErrors.h"
#include "services/docserver/Utf7.h"
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

  // Each key's values, from the plain section, then the 8-bit and the UTF-7 copy.
  struct Entry {
    int section;  // 0 plain, 1 ".A", 2 ".W"
    std::u16string key;
    Place place;
  };
  std::vector<Entry> entries;
  const std::u16string_view text = u.units;
  int section = -1;
  std::size_t line = 0;
  while (line < text.size()) {
    std::size_t end = text.find_first_of(u"\r\n", line);
    if (end == std::u16string_view::npos) end = text.size();
    std::size_t at = line;
    while (at < end && IsBlank(text[at])) ++at;
    if (at < end && text[at] == u'[') {
      const std::size_t close = text.find(u']', at);
      const std::u16string_view name =
          close < end ? text.substr(at + 1, close - at - 1) : std::u16string_view{};
      section = SameKey(name, u"InternetShortcut")     ? 0
                : SameKey(name, u"InternetShortcut.A") ? 1
                : SameKey(name, u"InternetShortcut.W") ? 2
                                                       : -1;
    } else if (section >= 0) {
      const std::size_t equals = text.find(u'=', at);
      if (equals < end) {
        std::size_t keyEnd = equals;
        while (keyEnd > at && IsBlank(text[keyEnd - 1])) --keyEnd;
        const std::u16string_view key = text.substr(at, keyEnd - at);
        std::size_t begin = equals + 1, valueEnd = end;
        while (begin < valueEnd && IsBlank(text[begin])) ++begin;
        while (valueEnd > begin && IsBlank(text[valueEnd - 1])) --valueEnd;
        if (SameKey(key, u"URL") || SameKey(key, u"IconFile")) {
          Place place{u.ByteAt(begin), u.ByteAt(valueEnd), section == 2, {}};
          const std::string_view raw = b.substr(place.begin, place.end - place.begin);
          std::u16string value = shortcut.encoding_ == Encoding::Utf16
                                     ? std::u16string(text.substr(begin, valueEnd - begin))
                                     : Decode(raw, shortcut.encoding_);
          if (place.utf7) {
            std::string ascii;
            for (char16_t c : value) ascii.push_back(c < 0x80 ? static_cast<char>(c) : '\x80');
            value = DecodeUtf7(ascii).value_or(u"");
          }
          place.value = std::move(value);
          entries.push_back({section, std::u16string(key), std::move(place)});
        }
      }
    }
    line = end;
    if (line < text.size() && text[line] == u'\r') ++line;
    if (line < text.size() && text[line] == u'\n') ++line;
  }

  for (const std::u16string_view key : {u"URL", u"IconFile"}) {
    std::vector<const Entry*> same;
    for (const Entry& entry : entries) {
      if (SameKey(entry.key, key)) same.push_back(&entry);
    }
    const Entry* primary = nullptr;
    for (int wanted = 0; wanted < 3 && !primary; ++wanted) {
      for (const Entry* entry : same) {
        if (entry->section == wanted) {
          primary = entry;
          break;
        }
      }
    }
    if (!primary) continue;
    auto target = FileLocation(primary->place.value);
    if (!target) continue;
    Link link{std::move(*target), {primary->place}};
    for (const Entry* entry : same) {
      if (entry != primary) link.places.push_back(entry->place);
    }
    shortcut.links_.push_back(std::move(link));
  }
  std::sort(shortcut.links_.begin(), shortcut.links_.end(), [](const Link& a, const Link& b) {
    return a.places.front().begin < b.places.front().begin;
  });
  return shortcut;
}

std::string InternetShortcut::Repointed(std::size_t index, const std::u16string& newPath) const {
  const Link& link = links_.at(index);
  if (!SplitWindowsPath(newPath)) {
    throw UnwritableTarget(document_, u"'" + newPath +
                                          u"' is no full drive path (C:\\...) or share path "
                                          u"(\\\\server\\share\\...)");
  }
  // Later places first, so that the earlier ones keep their offsets.
  std::vector<Place> places = link.places;
  std::sort(places.begin(), places.end(),
            [](const Place& a, const Place& b) { return a.begin > b.begin; });
  std::string out = bytes_;
  for (const Place& place : places) {
    const auto own = FileLocation(place.value);
    const LinkTarget& written = own ? *own : link.target;
    std::u16string value = written.form == TargetForm::FileUrl
                               ? FormatLinkTarget(written, newPath, kContext)
                               : newPath;
    if (value.find_first_of(u"\r\n") != std::u16string::npos || value.find(u'\0') != value.npos) {
      throw UnwritableTarget(document_, u"'" + newPath + u"' holds a line break");
    }
    if (place.utf7) {
      const std::string ascii = EncodeUtf7(value);
      value.assign(ascii.begin(), ascii.end());
    }
    const auto encoded = Encode(value, encoding_);
    if (!encoded) {
      throw UnwritableTarget(document_, u"'" + newPath +
                                            u"' has characters that the file's 8-bit code page "
                                            u"(Windows-1252) cannot hold");
    }
    out.replace(place.begin, place.end - place.begin, *encoded);
  }
  const InternetShortcut check = Parse(out, document_);
  bool readsBack = check.size() == size() && check.target(index) == newPath;
  for (const Place& place : readsBack ? check.links_[index].places : std::vector<Place>{}) {
    const auto target = FileLocation(place.value);
    readsBack = readsBack && target && target->absolutePath == newPath;
  }
  if (!readsBack) {
    throw UnwritableTarget(document_, u"it would not read back as '" + newPath + u"'");
  }
  return out;
}

}  // namespace quavelle::docserver
