#pragma once

namespace quavelle::docserver {

// libzip turns every directory entry's timestamp into local time, and with TZ
// unset the C library checks /etc/localtime on disk for each of those calls:
// a dozen system calls per package. Naming that same zone in TZ makes it read
// once. Changes nothing when TZ is already set. Call at start, before threads.
void PinLocalTimeZone();

}  // namespace quavelle::docserver
