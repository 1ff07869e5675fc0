#pragma once

#include <oaidl.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

// Hand-written automation objects for the tests: an IDispatch whose members are
// functions given by the test, and the standard enumerator of a collection.
namespace quavelle::testing {

// Automation objects of this file alive now; zero once every reference is gone.
int LiveObjects();

// An owned reference to a COM object.
template <class T>
class Ref {
 public:
  Ref() noexcept = default;
  static Ref Adopt(T* pointer) noexcept {
    Ref ref;
    ref.pointer_ = pointer;
    return ref;
  }
  Ref(const Ref& other) noexcept : pointer_(other.pointer_) {
    if (pointer_ != nullptr) pointer_->AddRef();
  }
  Ref(Ref&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  Ref& operator=(Ref other) noexcept {
    std::swap(pointer_, other.pointer_);
    return *this;
  }
  ~Ref() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  T* get() const noexcept { return pointer_; }
  T* operator->() const noexcept { return pointer_; }
  // A new reference for a caller that takes ownership (an out parameter).
  T* Share() const noexcept {
    if (pointer_ != nullptr) pointer_->AddRef();
    return pointer_;
  }

 private:
  T* pointer_ = nullptr;
};

// One call to a member, as Invoke received it.
struct Invocation {
  WORD flags;
  DISPPARAMS* params;
  VARIANT* result;       // null when the caller wants no value
  EXCEPINFO* exception;  // null when the caller gives none
};

using Member = std::function<HRESULT(Invocation&)>;

class ScriptableObject final : public IDispatch {
 public:
  static Ref<ScriptableObject> Make();

  // Names match without regard to case, as automation lookups do.
  void Define(const std::u16string& name, Member body);
  // _NewEnum: a fresh enumerator over the elements, in this order. A null
  // element is handed out as a null object reference.
  void DefineElements(std::vector<Ref<IDispatch>> elements);
  Ref<IDispatch> AsDispatch();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception,
                                   UINT* badArgument) override;

 private:
  ScriptableObject();
  ~ScriptableObject();

  ULONG references_ = 1;
  std::vector<std::pair<std::u16string, Member>> members_;  // DISPID = index + 1
  bool enumerable_ = false;
  std::vector<Ref<IDispatch>> elements_;
};

// Helpers for member bodies.
std::u16string ToText(const wchar_t* text, UINT length);
HRESULT ReturnString(Invocation& call, const std::u16string& text);
HRESULT ReturnObject(Invocation& call, const Ref<IDispatch>& object);
// Fails the call the way an object raises an error: DISP_E_EXCEPTION with the
// code and description in EXCEPINFO, or filled in only on request when deferred.
HRESULT Raise(Invocation& call, HRESULT code, const std::u16string& description,
              bool deferred = false);

}  // namespace quavelle::testing
