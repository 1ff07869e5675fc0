#include "services/docserver/SmallFile.h"

#include <cerrno>

#include "services/docserver/DocumentFile.h"
#include "services/docserver/ErrnoError.h"
#include "services/docserver/FileWriting.h"
#include "services/docserver/ShortcutErrors.h"

namespace quavelle::docserver {

std::string ReadSmallFile(const DocumentFile& file, std::uint64_t maxSize,
                          const std::u16string& document) {
  const std::uint64_t size = file.identity().size;
  if (size > maxSize) throw DamagedShortcut(document, u"it is far larger than any shortcut");
  std::string bytes = ReadRange(file.fd(), 0, size, document);
  if (bytes.size() != size) throw ErrnoError(EIO, u"Cannot read", document);
  return bytes;
}

}  // namespace quavelle::docserver
