#include "services/docserver/ShortcutContent.h"

#include "services/docserver/InternetShortcutContent.h"
#include "services/docserver/ShellLinkContent.h"
#include "services/docserver/WindowsPath.h"

namespace quavelle::docserver {

std::unique_ptr<DocumentContent> ShortcutContentForExtension(std::u16string_view extension,
                                                             std::u16string documentPath) {
  if (extension.starts_with(u'.')) extension.remove_prefix(1);
  if (SameWindowsName(extension, u"lnk")) {
    return std::make_unique<ShellLinkContent>(std::move(documentPath));
  }
  if (SameWindowsName(extension, u"url")) {
    return std::make_unique<InternetShortcutContent>(std::move(documentPath));
  }
  return nullptr;
}

}  // namespace quavelle::docserver
