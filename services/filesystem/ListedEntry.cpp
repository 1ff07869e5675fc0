#include "services/filesystem/ListedEntry.h"

namespace quavelle {

ListedEntry& LastListedEntry() noexcept {
  thread_local ListedEntry entry;
  return entry;
}

std::string& LastListedFolder() noexcept {
  thread_local std::string path;
  return path;
}

}  // namespace quavelle
