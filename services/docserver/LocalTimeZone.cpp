#include "services/docserver/LocalTimeZone.h"

#include <cstdlib>
#include <ctime>

namespace quavelle::docserver {

void PinLocalTimeZone() {
  // Without overwrite, a zone the user chose stays; ":" names a zone file.
  ::setenv("TZ", ":/etc/localtime", 0);
  ::tzset();
}

}  // namespace quavelle::docserver
