#include "services/docserver/PackageFormat.h"

#include <algorithm>
#include <array>

#include "services/PathText.h"
#include "services/Text.h"
#include "services/docserver/OfficeOpenXmlFormat.h"
#include "services/docserver/OpenDocumentFormat.h"

namespace quavelle::docserver {
namespace {

// Drawings and binary workbooks are packages too: their links to other files
// are relationships, and a drawing's hyperlinks are cells of its sheets.
constexpr std::array<std::u16string_view, 21> kOfficeOpenXml = {
    u"docx", u"docm", u"dotx", u"dotm", u"xlsx", u"xlsm", u"xltx",
    u"xltm", u"xlsb", u"pptx", u"pptm", u"potx", u"potm", u"ppsx",
    u"ppsm", u"vsdx", u"vsdm", u"vstx", u"vstm", u"vssx", u"vssm"};
constexpr std::array<std::u16string_view, 9> kOpenDocument = {
    u"odt", u"ott", u"ods", u"ots", u"odp", u"otp", u"odg", u"otg", u"odm"};

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsOneOf(std::u16string_view extension, auto const& list) {
  return std::ranges::any_of(list, [&](std::u16string_view known) {
    return std::ranges::equal(extension, known,
                              [](char16_t a, char16_t b) { return FoldCase(a) == b; });
  });
}

}  // namespace

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) { return Lower(x) == Lower(y); });
}

bool EndsWithIgnoringAsciiCase(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() &&
         EqualsIgnoringAsciiCase(text.substr(text.size() - tail.size()), tail);
}

FoundLink SlotLink(std::vector<ValueSlot> slots, PlaceWriter write, std::string_view stored,
                   std::shared_ptr<const TargetContext> context, LinkTarget target) {
  FoundLink link;
  link.storedValue = stored;
  link.context = std::move(context);
  link.target = std::move(target);
  link.slots = std::move(slots);
  link.write = std::move(write);
  return link;
}

void JoinLinksByKey(std::vector<FoundLink>& links, std::vector<std::string>& entryNames) {
  const auto samePlace = [](const FoundLink& a, const FoundLink& b) {
    if (a.joinKey != b.joinKey || a.target.absolutePath.size() != b.target.absolutePath.size()) {
      return false;
    }
    return std::ranges::equal(a.target.absolutePath, b.target.absolutePath,
                              [](char16_t x, char16_t y) { return FoldCase(x) == FoldCase(y); });
  };
  std::vector<bool> absorbed(links.size(), false);
  for (std::size_t k = 0; k < links.size(); ++k) {
    if (links[k].joinKey.empty() || !links[k].joinsAsCompanion) continue;
    std::size_t into = links.size();
    for (std::size_t j = 0; j < links.size(); ++j) {
      if (j == k || absorbed[j] || !samePlace(links[j], links[k])) continue;
      if (!links[j].joinsAsCompanion) {
        into = j;
        break;
      }
      if (into == links.size() && j < k) into = j;
    }
    if (into == links.size()) continue;
    FoundLink& from = links[k];
    LinkPlace place;
    place.entryName = entryNames[k];
    place.slots =
        from.write
            ? from.slots
            : std::vector<ValueSlot>{{from.elementOrdinal, from.attributeName, from.storedValue}};
    place.write = from.write;
    place.storedValue = from.storedValue;
    place.context = from.context;
    place.target = from.target;
    links[into].companions.push_back(std::move(place));
    for (LinkPlace& more : from.companions) links[into].companions.push_back(std::move(more));
    absorbed[k] = true;
  }
  std::size_t kept = 0;
  for (std::size_t k = 0; k < links.size(); ++k) {
    if (absorbed[k]) continue;
    if (kept != k) {
      links[kept] = std::move(links[k]);
      entryNames[kept] = std::move(entryNames[k]);
    }
    ++kept;
  }
  links.resize(kept);
  entryNames.resize(kept);
}

std::unique_ptr<PackageFormat> PackageFormatForFileName(std::u16string_view path) {
  const std::u16string_view name = FileNameOf(path);
  std::size_t dot = name.find_last_of(u'.');
  if (dot == std::u16string_view::npos) return nullptr;
  std::u16string_view extension = name.substr(dot + 1);
  if (IsOneOf(extension, kOfficeOpenXml)) return std::make_unique<OfficeOpenXmlFormat>();
  if (IsOneOf(extension, kOpenDocument)) return std::make_unique<OpenDocumentFormat>();
  return nullptr;
}

}  // namespace quavelle::docserver
