#pragma once

#include <objbase.h>

#include <string>

#include "ScriptableObject.h"

namespace quavelle::testing {

// While it lives, creating progId through automation gives the object: the
// identifier is mapped to a class in the user's part of the registry, and a
// class factory for it is registered with COM for this process. With a null
// object only the identifier is mapped, to a class that nothing provides.
class ProgIdRegistration {
 public:
  ProgIdRegistration(const std::u16string& progId, const CLSID& clsid, Ref<IDispatch> object);
  ~ProgIdRegistration();
  ProgIdRegistration(const ProgIdRegistration&) = delete;
  ProgIdRegistration& operator=(const ProgIdRegistration&) = delete;

 private:
  void Unmap() noexcept;

  std::wstring progId_;
  bool inClassesRoot_ = false;
  DWORD cookie_ = 0;
};

}  // namespace quavelle::testing
