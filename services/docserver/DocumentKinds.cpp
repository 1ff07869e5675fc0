#include "services/docserver/DocumentKinds.h"

#include <algorithm>
#include <string>

#include "services/PathText.h"
#include "services/Text.h"

#include "services/docserver/LegacyContent.h"
#include "services/docserver/PackageContent.h"
#include "services/docserver/PackageFormat.h"
#include "services/docserver/PdfContent.h"
#include "services/docserver/ShortcutContent.h"
#include "services/docserver/SniffedContent.h"

namespace quavelle::docserver {
namespace {

std::u16string_view ExtensionOf(std::u16string_view path) {
  const std::u16string_view name = FileNameOf(path);
  std::size_t dot = name.find_last_of(u'.');
  return dot == std::u16string_view::npos ? std::u16string_view() : name.substr(dot + 1);
}

bool Is(std::u16string_view extension, std::u16string_view lowerCase) {
  return extension.size() == lowerCase.size() &&
         std::equal(extension.begin(), extension.end(), lowerCase.begin(),
                    [](char16_t a, char16_t b) { return FoldCase(a) == b; });
}

}  // namespace

std::unique_ptr<DocumentContent> ContentForFileName(std::u16string_view path,
                                                    const ServerOptions& options) {
  const std::u16string name(path);
  if (std::unique_ptr<PackageFormat> format = PackageFormatForFileName(path)) {
    return std::make_unique<SniffedContent>(
        std::make_unique<PackageContent>(name, std::move(format), options), false, name);
  }
  const std::u16string_view extension = ExtensionOf(path);
  if (auto legacy = LegacyContentForExtension(u"." + std::u16string(extension), name)) {
    return std::make_unique<SniffedContent>(std::move(legacy), true, name);
  }
  if (Is(extension, u"pdf")) return CreatePdfContent(std::u16string(path));
  if (auto shortcut = ShortcutContentForExtension(extension, std::u16string(path))) return shortcut;
  return nullptr;
}

}  // namespace quavelle::docserver
