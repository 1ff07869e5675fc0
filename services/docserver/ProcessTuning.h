#pragma once

namespace quavelle::docserver {

// Process-wide settings for reading and rewriting packages. Call once at
// start, before any thread.
//
// - The time zone is UTC. libzip keeps each entry's timestamp as a time_t
//   and converts it through local time when reading and again when writing
//   the entries it copies. In a zone with daylight saving an entry stamped
//   in the skipped hour (02:30 on the spring change) came back an hour
//   later; in UTC both conversions are exact. Nothing here shows local
//   times, and the C library no longer checks /etc/localtime on disk for
//   each of those conversions (a dozen system calls per package).
// - Each package's buffers are freed when it closes; with the default trim
//   threshold the heap shrank after every one and grew again for the next
//   (two system calls and fresh zeroed pages per package).
void TuneProcessForPackages();

}  // namespace quavelle::docserver
