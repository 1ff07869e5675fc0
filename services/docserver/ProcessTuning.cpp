#include "services/docserver/ProcessTuning.h"

#include <malloc.h>

#include <cstdlib>
#include <ctime>

namespace quavelle::docserver {

void TuneProcessForPackages() {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  // Large buffers are still mapped and unmapped on their own; this keeps
  // only the freed top of the heap, up to this size.
  ::mallopt(M_TRIM_THRESHOLD, 32 << 20);
}

}  // namespace quavelle::docserver
