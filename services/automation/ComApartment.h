#pragma once

namespace quavelle {

// Makes the calling thread a single-threaded COM apartment, once per thread;
// the apartment is left when the thread ends. Throws ServiceError when COM
// cannot be started. A thread that already joined the multithreaded apartment
// stays in it: its objects are usable all the same.
void EnsureComApartment();

}  // namespace quavelle
