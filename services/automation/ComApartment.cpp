#include "services/automation/ComApartment.h"

#include <objbase.h>

#include "services/ServiceError.h"
#include "services/automation/AutomationError.h"

namespace quavelle {
namespace {

class Apartment {
 public:
  Apartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~Apartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;

  HRESULT result() const { return result_; }

 private:
  HRESULT result_;
};

}  // namespace

void EnsureComApartment() {
  thread_local const Apartment apartment;
  const HRESULT hr = apartment.result();
  if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) {
    throw ServiceError(ErrorNumberFor(hr), SystemMessage(hr));
  }
}

}  // namespace quavelle
