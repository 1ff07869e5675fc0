#include "services/filesystem/ListedEntry.h"

namespace quavelle {

ListedEntry& LastListedEntry() noexcept {
  thread_local ListedEntry entry;
  return entry;
}

}  // namespace quavelle
