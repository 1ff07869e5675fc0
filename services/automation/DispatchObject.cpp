#include "services/automation/DispatchObject.h"

#include <objbase.h>
#include <oleauto.h>

#include <utility>

#include "services/ServiceError.h"
#include "services/automation/AutomationError.h"
#include "services/automation/ComApartment.h"

namespace quavelle {
namespace {

// The wchar_t of Windows holds UTF-16 units, so text converts unit by unit.
std::wstring ToWide(std::u16string_view text) {
  std::wstring wide(text.size(), L'\0');
  for (std::size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<wchar_t>(text[i]);
  return wide;
}

std::u16string FromWide(const wchar_t* text, std::size_t length) {
  std::u16string out(length, u'\0');
  for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<char16_t>(text[i]);
  return out;
}

[[noreturn]] void ThrowOutOfMemory() { throw ServiceError(7, u"Out of memory"); }

template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  T* get() const noexcept { return pointer_; }
  T** put() noexcept {
    Reset();
    return &pointer_;
  }
  T* Release() noexcept { return std::exchange(pointer_, nullptr); }
  void Reset() noexcept {
    if (T* old = std::exchange(pointer_, nullptr)) old->Release();
  }

 private:
  T* pointer_ = nullptr;
};

class Bstr {
 public:
  explicit Bstr(std::u16string_view text)
      : value_(SysAllocStringLen(nullptr, static_cast<UINT>(text.size()))) {
    if (value_ == nullptr) ThrowOutOfMemory();
    for (std::size_t i = 0; i < text.size(); ++i) value_[i] = static_cast<wchar_t>(text[i]);
  }
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  BSTR get() const noexcept { return value_; }
  // The callee of a by-reference argument may free the string and put another
  // in its place; whatever is there at the end is freed here.
  BSTR* slot() noexcept { return &value_; }

 private:
  BSTR value_;
};

class Variant {
 public:
  Variant() noexcept { VariantInit(&value_); }
  ~Variant() { VariantClear(&value_); }
  Variant(Variant&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  Variant& operator=(Variant&&) = delete;

  VARIANT* get() noexcept { return &value_; }
  VARTYPE type() const noexcept { return value_.vt; }
  // Hands the held reference over; the variant is empty afterwards.
  VARIANT Detach() noexcept {
    VARIANT out = value_;
    VariantInit(&value_);
    return out;
  }

 private:
  VARIANT value_;
};

class ExceptionInfo {
 public:
  ExceptionInfo() noexcept : info_() {}
  ~ExceptionInfo() {
    SysFreeString(info_.bstrSource);
    SysFreeString(info_.bstrDescription);
    SysFreeString(info_.bstrHelpFile);
  }
  ExceptionInfo(const ExceptionInfo&) = delete;
  ExceptionInfo& operator=(const ExceptionInfo&) = delete;

  EXCEPINFO* get() noexcept { return &info_; }

  // The number and description the object raised with DISP_E_EXCEPTION.
  ServiceError Raised() {
    if (info_.pfnDeferredFillIn != nullptr) {
      const auto fillIn = std::exchange(info_.pfnDeferredFillIn, nullptr);
      fillIn(&info_);
    }
    std::int32_t number = ErrorNumberFor(DISP_E_EXCEPTION);
    std::u16string fallback;
    if (info_.scode != 0) {
      number = ErrorNumberFor(info_.scode);
      fallback = SystemMessage(info_.scode);
    } else if (info_.wCode != 0) {
      number = info_.wCode;
      fallback = SystemMessage(DISP_E_EXCEPTION);
    } else {
      fallback = SystemMessage(DISP_E_EXCEPTION);
    }
    const BSTR description = info_.bstrDescription;
    if (SysStringLen(description) == 0) return ServiceError(number, std::move(fallback));
    return ServiceError(number, FromWide(description, SysStringLen(description)));
  }

 private:
  EXCEPINFO info_;
};

ServiceError FailureOf(HRESULT hr) { return ServiceError(ErrorNumberFor(hr), SystemMessage(hr)); }

ServiceError TypeMismatch(std::u16string_view member) {
  return ServiceError(error_number::kTypeMismatch, u"Type mismatch: '" + std::u16string(member) +
                                                       u"' gave a value of another kind");
}

Variant InvokeId(IDispatch* object, DISPID id, WORD flags,
                 const std::optional<Argument>& argument) {
  std::optional<Bstr> text;
  VARIANTARG passed;
  VariantInit(&passed);  // never cleared: the string belongs to `text`
  DISPPARAMS params{};
  if (argument) {
    text.emplace(argument->text);
    if (argument->passing == Argument::Passing::kByReference) {
      passed.vt = VT_BYREF | VT_BSTR;
      passed.pbstrVal = text->slot();
    } else {
      passed.vt = VT_BSTR;
      passed.bstrVal = text->get();
    }
    params.rgvarg = &passed;
    params.cArgs = 1;
  }
  Variant result;
  ExceptionInfo exception;
  UINT badArgument = 0;
  const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result.get(),
                                    exception.get(), &badArgument);
  if (hr == DISP_E_EXCEPTION) throw exception.Raised();
  if (FAILED(hr)) throw FailureOf(hr);
  if ((result.type() & VT_BYREF) != 0) {
    Variant direct;
    const HRESULT copied = VariantCopyInd(direct.get(), result.get());
    if (FAILED(copied)) throw FailureOf(copied);
    return direct;
  }
  return result;
}

Variant InvokeByName(IDispatch* object, std::u16string_view member, WORD flags,
                     const std::optional<Argument>& argument) {
  std::wstring name = ToWide(member);
  LPOLESTR names[] = {name.data()};
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) {
    throw ServiceError(ErrorNumberFor(hr),
                       SystemMessage(hr) + u" '" + std::u16string(member) + u"'");
  }
  return InvokeId(object, id, flags, argument);
}

// Empty, null and a null object reference all mean nothing.
IDispatch* AdoptObject(Variant value, std::u16string_view member) {
  switch (value.type()) {
    case VT_EMPTY:
    case VT_NULL:
      return nullptr;
    case VT_DISPATCH:
      return value.Detach().pdispVal;
    case VT_UNKNOWN: {
      ComPtr<IUnknown> unknown;
      *unknown.put() = value.Detach().punkVal;
      if (unknown.get() == nullptr) return nullptr;
      ComPtr<IDispatch> dispatch;
      if (FAILED(unknown.get()->QueryInterface(IID_IDispatch,
                                               reinterpret_cast<void**>(dispatch.put())))) {
        throw TypeMismatch(member);
      }
      return dispatch.Release();
    }
    default:
      throw TypeMismatch(member);
  }
}

Variant Converted(Variant value, VARTYPE type, std::u16string_view member) {
  Variant converted;
  if (FAILED(VariantChangeType(converted.get(), value.get(), VARIANT_ALPHABOOL, type))) {
    throw TypeMismatch(member);
  }
  return converted;
}

constexpr WORD kWithResult = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

}  // namespace

DispatchObject::~DispatchObject() {
  if (object_ != nullptr) object_->Release();
}

DispatchObject::DispatchObject(DispatchObject&& other) noexcept
    : object_(std::exchange(other.object_, nullptr)) {}

DispatchObject& DispatchObject::operator=(DispatchObject&& other) noexcept {
  if (this != &other) {
    if (object_ != nullptr) object_->Release();
    object_ = std::exchange(other.object_, nullptr);
  }
  return *this;
}

DispatchObject DispatchObject::Create(const std::u16string& progId) {
  EnsureComApartment();
  const auto cannotCreate = [&progId](HRESULT hr) {
    return ServiceError(error_number::kCannotCreateObject,
                        u"Cannot create object '" + progId + u"': " + SystemMessage(hr));
  };
  const std::wstring name = ToWide(progId);
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(name.c_str(), &clsid);
  if (FAILED(hr)) throw cannotCreate(hr);
  IDispatch* created = nullptr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch,
                        reinterpret_cast<void**>(&created));
  if (FAILED(hr)) throw cannotCreate(hr);
  if (created == nullptr) throw cannotCreate(E_NOINTERFACE);
  return DispatchObject(created);
}

void DispatchObject::RequireObject() const {
  if (object_ == nullptr) {
    throw ServiceError(error_number::kObjectNotSet,
                       u"Object variable or With block variable not set");
  }
}

DispatchObject DispatchObject::Object(std::u16string_view member,
                                      std::optional<Argument> argument) const {
  RequireObject();
  return DispatchObject(AdoptObject(InvokeByName(object_, member, kWithResult, argument), member));
}

std::u16string DispatchObject::String(std::u16string_view member,
                                      std::optional<Argument> argument) const {
  RequireObject();
  Variant text = Converted(InvokeByName(object_, member, kWithResult, argument), VT_BSTR, member);
  const BSTR value = text.get()->bstrVal;
  return FromWide(value, SysStringLen(value));
}

bool DispatchObject::Boolean(std::u16string_view member, std::optional<Argument> argument) const {
  RequireObject();
  Variant flag = Converted(InvokeByName(object_, member, kWithResult, argument), VT_BOOL, member);
  return flag.get()->boolVal != VARIANT_FALSE;
}

void DispatchObject::Call(std::u16string_view member, std::optional<Argument> argument) const {
  RequireObject();
  InvokeByName(object_, member, DISPATCH_METHOD, argument);
}

DispatchEnumerator DispatchObject::Enumerate() const {
  RequireObject();
  Variant value = InvokeId(object_, DISPID_NEWENUM, kWithResult, std::nullopt);
  IUnknown* source = nullptr;
  if (value.type() == VT_UNKNOWN) source = value.get()->punkVal;
  if (value.type() == VT_DISPATCH) source = value.get()->pdispVal;
  if (source == nullptr) throw TypeMismatch(u"_NewEnum");
  IEnumVARIANT* enumerator = nullptr;
  const HRESULT hr =
      source->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&enumerator));
  if (FAILED(hr)) throw FailureOf(hr);
  return DispatchEnumerator(enumerator);
}

DispatchEnumerator::~DispatchEnumerator() {
  if (enumerator_ != nullptr) enumerator_->Release();
}

DispatchEnumerator::DispatchEnumerator(DispatchEnumerator&& other) noexcept
    : enumerator_(std::exchange(other.enumerator_, nullptr)) {}

DispatchEnumerator& DispatchEnumerator::operator=(DispatchEnumerator&& other) noexcept {
  if (this != &other) {
    if (enumerator_ != nullptr) enumerator_->Release();
    enumerator_ = std::exchange(other.enumerator_, nullptr);
  }
  return *this;
}

std::optional<DispatchObject> DispatchEnumerator::Next() {
  Variant element;
  ULONG fetched = 0;
  const HRESULT hr = enumerator_->Next(1, element.get(), &fetched);
  if (FAILED(hr)) throw FailureOf(hr);
  if (hr == S_FALSE || fetched == 0) return std::nullopt;
  return DispatchObject(AdoptObject(std::move(element), u"_NewEnum"));
}

}  // namespace quavelle
