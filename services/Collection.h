#pragma once

#include <memory>

namespace quavelle {

// Hands out a collection's elements one at a time, first to last, as an
// automation enumerator does; nothing is copied whole.
template <class T>
class Enumerator {
 public:
  virtual ~Enumerator() = default;
  // The next element, or nullptr once the last one has been given.
  virtual std::unique_ptr<T> Next() = 0;
};

// A collection of service objects, enumerable from first to last.
template <class T>
class Collection {
 public:
  virtual ~Collection() = default;
  virtual std::unique_ptr<Enumerator<T>> NewEnum() = 0;
};

}  // namespace quavelle
