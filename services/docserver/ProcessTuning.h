#pragma once

namespace quavelle::docserver {

// Process-wide settings that keep opening thousands of packages cheap. Call
// once at start, before any thread; a user's own TZ setting stays.
//
// - libzip turns every directory entry's timestamp into local time, and with
//   TZ unset the C library checks /etc/localtime on disk for each of those
//   calls: a dozen system calls per package. Naming that same zone in TZ
//   makes it read once.
// - Each package's buffers are freed when it closes; with the default trim
//   threshold the heap shrinks after every one and grows again for the next
//   (two system calls and fresh zeroed pages per package).
void TuneProcessForPackages();

}  // namespace quavelle::docserver
