#include "services/docserver/HyperlinkPropertyList.h"

#include <algorithm>
#include <cstdint>

#include "services/docserver/BiffStream.h"

namespace quavelle::docserver {
namespace {

constexpr char kUserDefined[] = "\x05\xD5\xCD\xD5\x9C\x2E\x1B\x10\x93\x97\x08\x00\x2B\x2C\xF9\xAE";
constexpr std::uint32_t kDictionary = 0;
constexpr std::uint32_t kBlob = 0x41;
constexpr std::uint32_t kInt = 0x03;
constexpr std::uint32_t kWideString = 0x1F;
constexpr std::string_view kName = "_PID_HLINKS";

void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

std::string Le32(std::uint32_t v) {
  std::string s(4, '\0');
  Put32(s, 0, v);
  return s;
}

struct Property {
  std::uint32_t id, offset;  // offset from the section's start
};

struct Found {
  std::size_t sectionAt = 0, sectionSize = 0;
  std::vector<Property> properties;
  std::size_t property = 0;  // index of the list in properties
  std::size_t blobAt = 0, blobSize = 0;
};

std::optional<Found> Find(std::string_view s) {
  auto fits = [&s](std::size_t at, std::size_t n) { return at <= s.size() && n <= s.size() - at; };
  if (!fits(0, 28) || BiffU16(s, 0) != 0xFFFE) return std::nullopt;
  const std::uint32_t sections = BiffU32(s, 24);
  for (std::uint32_t i = 0; i < sections && fits(28 + 20 * std::size_t{i}, 20); ++i) {
    if (s.substr(28 + 20 * i, 16) != std::string_view(kUserDefined, 16)) continue;
    Found f;
    f.sectionAt = BiffU32(s, 28 + 20 * i + 16);
    if (!fits(f.sectionAt, 8)) return std::nullopt;
    f.sectionSize = BiffU32(s, f.sectionAt);
    const std::uint32_t count = BiffU32(s, f.sectionAt + 4);
    if (!fits(f.sectionAt, f.sectionSize) || count > (f.sectionSize - 8) / 8) return std::nullopt;
    std::optional<std::uint32_t> listId;
    for (std::uint32_t k = 0; k < count; ++k) {
      const Property p{BiffU32(s, f.sectionAt + 8 + 8 * k), BiffU32(s, f.sectionAt + 12 + 8 * k)};
      if (p.offset >= f.sectionSize) return std::nullopt;
      f.properties.push_back(p);
      if (p.id != kDictionary) continue;
      // Names in the section's 8-bit code page: id, length with the zero, name.
      std::size_t at = f.sectionAt + p.offset;
      const std::size_t end = f.sectionAt + f.sectionSize;
      if (!fits(at, 4)) return std::nullopt;
      const std::uint32_t names = BiffU32(s, at);
      at += 4;
      for (std::uint32_t n = 0; n < names && at + 8 <= end; ++n) {
        const std::uint32_t id = BiffU32(s, at), length = BiffU32(s, at + 4);
        if (length > end - at - 8) return std::nullopt;
        std::string_view name = s.substr(at + 8, length);
        if (!name.empty() && name.back() == '\0') name.remove_suffix(1);
        if (name == kName) listId = id;
        at += 8 + length;
      }
    }
    if (!listId) return std::nullopt;
    for (std::size_t k = 0; k < f.properties.size(); ++k) {
      if (f.properties[k].id != *listId) continue;
      const std::size_t at = f.sectionAt + f.properties[k].offset;
      if (!fits(at, 8) || BiffU32(s, at) != kBlob) return std::nullopt;
      f.property = k;
      f.blobAt = at + 8;
      f.blobSize = BiffU32(s, at + 4);
      if (!fits(f.blobAt, f.blobSize) || f.blobAt + f.blobSize > f.sectionAt + f.sectionSize)
        return std::nullopt;
      return f;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

struct Value {
  std::uint32_t type;
  std::string raw;      // the whole typed value, padding included
  std::u16string text;  // kWideString
};

std::optional<std::vector<Value>> Values(std::string_view blob) {
  if (blob.size() < 4) return std::nullopt;
  const std::uint32_t count = BiffU32(blob, 0);
  std::vector<Value> out;
  std::size_t at = 4;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (at + 8 > blob.size()) return std::nullopt;
    Value v{BiffU32(blob, at), {}, {}};
    std::size_t size = 8;
    if (v.type == kWideString) {
      const std::uint32_t chars = BiffU32(blob, at + 4);
      if (chars > (blob.size() - at - 8) / 2) return std::nullopt;
      size = (8 + std::size_t{chars} * 2 + 3) / 4 * 4;
      if (size > blob.size() - at) size = blob.size() - at;
      for (std::uint32_t c = 0; c < chars; ++c) v.text.push_back(BiffU16(blob, at + 8 + 2 * c));
      while (!v.text.empty() && v.text.back() == 0) v.text.pop_back();
    } else if (v.type != kInt) {
      return std::nullopt;
    }
    v.raw = std::string(blob.substr(at, size));
    out.push_back(std::move(v));
    at += size;
  }
  return out;
}

// The address of each hyperlink is the fifth of its six values.
constexpr std::size_t kPerLink = 6, kAddress = 4;

}  // namespace

std::vector<std::u16string> ReadHyperlinkList(std::string_view s) {
  std::vector<std::u16string> out;
  auto f = Find(s);
  if (!f) return out;
  auto values = Values(s.substr(f->blobAt, f->blobSize));
  if (!values) return out;
  for (std::size_t i = kAddress; i < values->size(); i += kPerLink)
    out.push_back((*values)[i].text);
  return out;
}

std::optional<std::string> RewriteHyperlinkList(
    std::string_view s,
    const std::function<std::optional<std::u16string>(const std::u16string&)>& newAddress) {
  auto f = Find(s);
  if (!f) return std::nullopt;
  auto values = Values(s.substr(f->blobAt, f->blobSize));
  if (!values) return std::nullopt;
  bool changed = false;
  std::string blob = Le32(static_cast<std::uint32_t>(values->size()));
  for (std::size_t i = 0; i < values->size(); ++i) {
    const Value& v = (*values)[i];
    std::optional<std::u16string> replaced;
    if (i % kPerLink == kAddress && v.type == kWideString) replaced = newAddress(v.text);
    if (!replaced) {
      blob += v.raw;
      continue;
    }
    changed = true;
    std::string value = Le32(kWideString) + Le32(static_cast<std::uint32_t>(replaced->size() + 1));
    for (char16_t c : *replaced) value += {static_cast<char>(c), static_cast<char>(c >> 8)};
    value.append(2, '\0');
    value.resize((value.size() + 3) / 4 * 4, '\0');
    blob += value;
  }
  if (!changed) return std::nullopt;
  std::string property = Le32(kBlob) + Le32(static_cast<std::uint32_t>(blob.size())) + blob;
  property.resize((property.size() + 3) / 4 * 4, '\0');

  // The old property runs to the next property's start, or the section's end.
  const std::uint32_t start = f->properties[f->property].offset;
  std::uint32_t end = static_cast<std::uint32_t>(f->sectionSize);
  for (const Property& p : f->properties) {
    if (p.offset > start) end = std::min(end, p.offset);
  }
  const std::ptrdiff_t delta = static_cast<std::ptrdiff_t>(property.size()) - (end - start);
  std::string section(s.substr(f->sectionAt, f->sectionSize));
  section.replace(start, end - start, property);
  Put32(section, 0, static_cast<std::uint32_t>(section.size()));
  for (std::size_t k = 0; k < f->properties.size(); ++k) {
    if (f->properties[k].offset > start)
      Put32(section, 12 + 8 * k, static_cast<std::uint32_t>(f->properties[k].offset + delta));
  }
  std::string out(s.substr(0, f->sectionAt));
  out += section;
  out += s.substr(f->sectionAt + f->sectionSize);
  const std::uint32_t sections = BiffU32(s, 24);
  for (std::uint32_t i = 0; i < sections; ++i) {
    const std::uint32_t at = BiffU32(s, 28 + 20 * i + 16);
    if (at > f->sectionAt) Put32(out, 28 + 20 * i + 16, static_cast<std::uint32_t>(at + delta));
  }
  return out;
}

}  // namespace quavelle::docserver
