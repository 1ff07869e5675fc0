#pragma once

#include <memory>
#include <optional>
#include <utility>

#include "services/Collection.h"
#include "services/automation/DispatchObject.h"

namespace quavelle {

// An automation collection seen as a Collection of one contract: each element
// is wrapped in Adapter, which is built from the element's DispatchObject.
template <class Contract, class Adapter>
class DispatchCollection final : public Collection<Contract> {
 public:
  explicit DispatchCollection(DispatchObject collection) : collection_(std::move(collection)) {}

  std::unique_ptr<Enumerator<Contract>> NewEnum() override {
    return std::make_unique<Each>(collection_.Enumerate());
  }

 private:
  class Each final : public Enumerator<Contract> {
   public:
    explicit Each(DispatchEnumerator elements) : elements_(std::move(elements)) {}
    std::unique_ptr<Contract> Next() override {
      std::optional<DispatchObject> element = elements_.Next();
      if (!element) return nullptr;
      return std::make_unique<Adapter>(std::move(*element));
    }

   private:
    DispatchEnumerator elements_;
  };

  DispatchObject collection_;
};

}  // namespace quavelle
