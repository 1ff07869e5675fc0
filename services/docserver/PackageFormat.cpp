#include "services/docserver/PackageFormat.h"

#include <algorithm>
#include <array>

#include "services/Text.h"
#include "services/docserver/OfficeOpenXmlFormat.h"
#include "services/docserver/OpenDocumentFormat.h"

namespace quavelle::docserver {
namespace {

constexpr std::array<std::u16string_view, 14> kOfficeOpenXml = {
    u"docx", u"docm", u"dotx", u"dotm", u"xlsx", u"xlsm", u"xltx",
    u"xltm", u"pptx", u"pptm", u"potx", u"potm", u"ppsx", u"ppsm"};
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

std::unique_ptr<PackageFormat> PackageFormatForFileName(std::u16string_view path) {
  std::size_t slash = path.find_last_of(u'/');
  std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  std::size_t dot = name.find_last_of(u'.');
  if (dot == std::u16string_view::npos) return nullptr;
  std::u16string_view extension = name.substr(dot + 1);
  if (IsOneOf(extension, kOfficeOpenXml)) return std::make_unique<OfficeOpenXmlFormat>();
  if (IsOneOf(extension, kOpenDocument)) return std::make_unique<OpenDocumentFormat>();
  return nullptr;
}

}  // namespace quavelle::docserver
