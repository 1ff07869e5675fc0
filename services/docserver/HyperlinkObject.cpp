#include "services/docserver/HyperlinkObject.h"

#include <array>
#include <cstring>
#include <utility>

namespace quavelle::docserver {
namespace {

constexpr std::uint32_t kHasMoniker = 0x01;
constexpr std::uint32_t kHasLocation = 0x08;
constexpr std::uint32_t kHasDisplayName = 0x10;
constexpr std::uint32_t kHasGuid = 0x20;
constexpr std::uint32_t kHasCreationTime = 0x40;
constexpr std::uint32_t kHasFrameName = 0x80;
constexpr std::uint32_t kMonikerSavedAsString = 0x100;

constexpr char kFileMonikerId[] =
    "\x03\x03\x00\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46";
constexpr char kUrlMonikerId[] = "\xE0\xC9\xEA\x79\xF9\xBA\xCE\x11\x8C\x82\x00\xAA\x00\x4B\xA9\x0B";
constexpr std::size_t kIdSize = 16;
constexpr std::size_t kUrlTailSize = 24;

// The 0x80-0x9F row of Windows-1252; 0 where the code page has no character.
constexpr std::array<char16_t, 32> k1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

class Reader {
 public:
  explicit Reader(std::string_view data) : d_(data) {}
  bool Has(std::size_t n) const { return n <= d_.size() - at_; }
  std::uint32_t U16() {
    const std::uint32_t low = Byte();
    return low | Byte() << 8;
  }
  std::uint32_t U32() {
    const std::uint32_t low = U16();
    return low | U16() << 16;
  }
  std::string_view Bytes(std::size_t n) {
    std::string_view v = d_.substr(at_, n);
    at_ += n;
    return v;
  }
  std::size_t at() const { return at_; }
  bool ok() const { return ok_; }
  void Bad() { ok_ = false; }
  // A length-prefixed UTF-16 string with its terminating zero.
  std::optional<std::u16string> String() {
    if (!Has(4)) return std::nullopt;
    const std::uint32_t chars = U32();
    if (chars > (d_.size() - at_) / 2) return std::nullopt;
    std::u16string out = Utf16(Bytes(std::size_t{chars} * 2));
    while (!out.empty() && out.back() == 0) out.pop_back();
    return out;
  }

  static std::u16string Utf16(std::string_view b) {
    std::u16string out;
    for (std::size_t i = 0; i + 1 < b.size(); i += 2)
      out.push_back(static_cast<char16_t>(static_cast<unsigned char>(b[i]) |
                                          static_cast<unsigned char>(b[i + 1]) << 8));
    return out;
  }

 private:
  std::uint32_t Byte() {
    if (at_ >= d_.size()) {
      ok_ = false;
      return 0;
    }
    return static_cast<unsigned char>(d_[at_++]);
  }

  std::string_view d_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

void Put16(std::string& out, std::uint32_t v) {
  out.push_back(static_cast<char>(v));
  out.push_back(static_cast<char>(v >> 8));
}

void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void PutUtf16(std::string& out, std::u16string_view text) {
  for (char16_t c : text) Put16(out, c);
}

bool ReadFileMoniker(Reader& r, HyperlinkObject& o) {
  if (!r.Has(6)) return false;
  const std::uint32_t anti = r.U16();
  const std::uint32_t ansiLength = r.U32();
  if (!r.Has(ansiLength)) return false;
  std::string_view ansi = r.Bytes(ansiLength);
  if (const auto zero = ansi.find('\0'); zero != std::string_view::npos)
    ansi = ansi.substr(0, zero);
  if (!r.Has(2 + 2 + 16 + 4 + 4)) return false;
  r.Bytes(2 + 2 + 16 + 4);  // end server, version, reserved
  const std::uint32_t unicodeSize = r.U32();
  std::u16string path = FromWindows1252(ansi);
  if (unicodeSize != 0) {
    if (unicodeSize < 6 || !r.Has(unicodeSize)) return false;
    const std::uint32_t bytes = r.U32();
    r.U16();  // key value
    if (bytes != unicodeSize - 6 || bytes % 2 != 0) return false;
    path = Reader::Utf16(r.Bytes(bytes));
    o.unicodePath = true;
  }
  o.target.clear();
  for (std::uint32_t i = 0; i < anti; ++i) o.target += u"..\\";
  o.target += path;
  return true;
}

bool ReadUrlMoniker(Reader& r, HyperlinkObject& o) {
  if (!r.Has(4)) return false;
  const std::uint32_t length = r.U32();
  if (!r.Has(length)) return false;
  std::string_view data = r.Bytes(length);
  std::size_t end = 0;
  while (end + 1 < data.size() && (data[end] != 0 || data[end + 1] != 0)) end += 2;
  if (end + 2 > data.size()) return false;  // no terminating zero
  o.target = Reader::Utf16(data.substr(0, end));
  const std::size_t urlBytes = end + 2;
  if (length == urlBytes + kUrlTailSize) {
    o.urlTail = std::string(data.substr(urlBytes));
  } else if (length != urlBytes) {
    return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> ToWindows1252(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    std::size_t k = 0;
    while (k < k1252High.size() && k1252High[k] != c) ++k;
    if (k == k1252High.size() || c == 0) return std::nullopt;
    out.push_back(static_cast<char>(0x80 + k));
  }
  return out;
}

std::u16string FromWindows1252(std::string_view bytes) {
  std::u16string out;
  for (char b : bytes) {
    const auto u = static_cast<unsigned char>(b);
    char16_t c = u;
    if (u >= 0x80 && u < 0xA0) c = k1252High[u - 0x80] ? k1252High[u - 0x80] : u'\uFFFD';
    out.push_back(c);
  }
  return out;
}

std::string HyperlinkString(std::u16string_view text, std::size_t padChars) {
  std::string out;
  Put32(out, static_cast<std::uint32_t>(text.size() + 1 + padChars));
  PutUtf16(out, text);
  out.append(2 * (padChars + 1), '\0');
  return out;
}

std::optional<HyperlinkObject> ParseHyperlinkObject(std::string_view data, std::size_t* end) {
  Reader r(data);
  HyperlinkObject o;
  if (!r.Has(8) || r.U32() != 2) return std::nullopt;
  o.flags = r.U32();
  if (o.flags & kHasDisplayName) {
    o.displayBegin = r.at();
    auto text = r.String();
    if (!text) return std::nullopt;
    o.display = *text;
    o.displayEnd = r.at();
  }
  if ((o.flags & kHasFrameName) && !r.String()) return std::nullopt;
  if (o.flags & kHasMoniker) {
    o.monikerBegin = r.at();
    if (o.flags & kMonikerSavedAsString) {
      auto text = r.String();
      if (!text) return std::nullopt;
      o.kind = MonikerKind::Text;
      o.target = *text;
    } else {
      if (!r.Has(kIdSize)) return std::nullopt;
      std::string_view id = r.Bytes(kIdSize);
      if (id == std::string_view(kFileMonikerId, kIdSize)) {
        o.kind = MonikerKind::File;
        if (!ReadFileMoniker(r, o)) return std::nullopt;
      } else if (id == std::string_view(kUrlMonikerId, kIdSize)) {
        o.kind = MonikerKind::Url;
        if (!ReadUrlMoniker(r, o)) return std::nullopt;
      } else {
        // Composite and item monikers: their length is only known by parsing
        // them, and they name no single file this server can change.
        o.kind = MonikerKind::Other;
        o.monikerEnd = r.at();
        if (end) *end = std::string_view::npos;
        return o;
      }
    }
    o.monikerEnd = r.at();
  }
  if ((o.flags & kHasLocation) && !r.String()) return std::nullopt;
  for (const auto& [flag, size] : {std::pair{kHasGuid, 16u}, std::pair{kHasCreationTime, 8u}}) {
    if (!(o.flags & flag)) continue;
    if (!r.Has(size)) return std::nullopt;
    r.Bytes(size);
  }
  if (!r.ok()) return std::nullopt;
  if (end) *end = r.at();
  return o;
}

std::optional<std::string> FormatMoniker(const HyperlinkObject& object,
                                         std::u16string_view target) {
  std::string out;
  switch (object.kind) {
    case MonikerKind::Text:
      return HyperlinkString(target);
    case MonikerKind::Url: {
      out.append(kUrlMonikerId, kIdSize);
      std::string url;
      PutUtf16(url, target);
      Put16(url, 0);
      Put32(out, static_cast<std::uint32_t>(url.size() + object.urlTail.size()));
      out += url;
      out += object.urlTail;
      return out;
    }
    case MonikerKind::File: {
      std::u16string_view path = target;
      std::uint32_t anti = 0;
      while (path.substr(0, 3) == u"..\\") {
        path.remove_prefix(3);
        ++anti;
      }
      bool ascii = true;
      for (char16_t c : path) ascii = ascii && c < 0x80;
      auto ansi = ToWindows1252(path);
      // The 8-bit copy is what older readers use; without a character for
      // every letter it would name another file.
      if (!ansi) return std::nullopt;
      out.append(kFileMonikerId, kIdSize);
      Put16(out, anti);
      Put32(out, static_cast<std::uint32_t>(ansi->size() + 1));
      out += *ansi;
      out.push_back('\0');
      Put16(out, 0xFFFF);
      Put16(out, 0xDEAD);
      out.append(16 + 4, '\0');
      if (object.unicodePath || !ascii) {
        Put32(out, static_cast<std::uint32_t>(path.size() * 2 + 6));
        Put32(out, static_cast<std::uint32_t>(path.size() * 2));
        Put16(out, 3);
        PutUtf16(out, path);
      } else {
        Put32(out, 0);
      }
      return out;
    }
    default:
      return std::nullopt;
  }
}

std::optional<std::string> FormatMonikerSized(const HyperlinkObject& object,
                                              std::u16string_view target, std::size_t size) {
  auto plain = FormatMoniker(object, target);
  if (!plain || plain->size() > size) return std::nullopt;
  const std::size_t slack = size - plain->size();
  if (slack == 0) return plain;
  std::string out = *plain;
  switch (object.kind) {
    case MonikerKind::Text:
      if (slack % 2 != 0) return std::nullopt;
      return HyperlinkString(target, slack / 2);
    case MonikerKind::Url: {
      if (!object.urlTail.empty()) return std::nullopt;  // its length tells the tail apart
      const auto length = static_cast<std::uint32_t>(out.size() - kIdSize - 4 + slack);
      for (int i = 0; i < 4; ++i) out[kIdSize + i] = static_cast<char>(length >> (8 * i));
      out.append(slack, '\0');
      return out;
    }
    case MonikerKind::File: {
      // The 8-bit path ends at its first zero; the rest of its length is padding.
      const std::size_t lengthAt = kIdSize + 2;
      std::uint32_t length = 0;
      for (int i = 3; i >= 0; --i)
        length = length << 8 | static_cast<unsigned char>(out[lengthAt + i]);
      const std::size_t ansiEnd = lengthAt + 4 + length;
      length += static_cast<std::uint32_t>(slack);
      for (int i = 0; i < 4; ++i) out[lengthAt + i] = static_cast<char>(length >> (8 * i));
      out.insert(ansiEnd, slack, '\0');
      return out;
    }
    default:
      return std::nullopt;
  }
}

}  // namespace quavelle::docserver
