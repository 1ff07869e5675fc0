#include "ScriptableObject.h"

#include <oleauto.h>

#include <algorithm>
#include <cwctype>
#include <memory>

namespace quavelle::testing {
namespace {

int liveObjects = 0;

bool SameName(const std::u16string& a, const wchar_t* b) {
  std::size_t i = 0;
  for (; i < a.size(); ++i) {
    if (b[i] == L'\0' || std::towlower(static_cast<wchar_t>(a[i])) != std::towlower(b[i]))
      return false;
  }
  return b[i] == L'\0';
}

BSTR NewBstr(const std::u16string& text) {
  BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
  for (std::size_t i = 0; i < text.size(); ++i) out[i] = static_cast<wchar_t>(text[i]);
  return out;
}

class Enumerator final : public IEnumVARIANT {
 public:
  static Ref<IEnumVARIANT> Make(std::vector<Ref<IDispatch>> elements) {
    return Ref<IEnumVARIANT>::Adopt(new Enumerator(std::move(elements)));
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IEnumVARIANT) {
      AddRef();
      *out = static_cast<IEnumVARIANT*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG wanted, VARIANT* out, ULONG* fetched) override {
    ULONG given = 0;
    for (; given < wanted && next_ < elements_.size(); ++given, ++next_) {
      VariantInit(&out[given]);
      out[given].vt = VT_DISPATCH;
      out[given].pdispVal = elements_[next_].Share();
    }
    if (fetched != nullptr) *fetched = given;
    return given == wanted ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    next_ = std::min(elements_.size(), next_ + count);
    return next_ < elements_.size() ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    next_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  explicit Enumerator(std::vector<Ref<IDispatch>> elements) : elements_(std::move(elements)) {
    ++liveObjects;
  }
  ~Enumerator() { --liveObjects; }

  ULONG references_ = 1;
  std::vector<Ref<IDispatch>> elements_;
  std::size_t next_ = 0;
};

}  // namespace

int LiveObjects() { return liveObjects; }

ScriptableObject::ScriptableObject() { ++liveObjects; }
ScriptableObject::~ScriptableObject() { --liveObjects; }

Ref<ScriptableObject> ScriptableObject::Make() {
  return Ref<ScriptableObject>::Adopt(new ScriptableObject());
}

void ScriptableObject::Define(const std::u16string& name, Member body) {
  members_.emplace_back(name, std::move(body));
}

void ScriptableObject::DefineElements(std::vector<Ref<IDispatch>> elements) {
  enumerable_ = true;
  elements_ = std::move(elements);
}

Ref<IDispatch> ScriptableObject::AsDispatch() {
  AddRef();
  return Ref<IDispatch>::Adopt(this);
}

HRESULT ScriptableObject::QueryInterface(REFIID iid, void** out) {
  if (iid == IID_IUnknown || iid == IID_IDispatch) {
    AddRef();
    *out = static_cast<IDispatch*>(this);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG ScriptableObject::AddRef() { return ++references_; }

ULONG ScriptableObject::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT ScriptableObject::GetTypeInfoCount(UINT* count) {
  *count = 0;
  return S_OK;
}

HRESULT ScriptableObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  *info = nullptr;
  return E_NOTIMPL;
}

HRESULT ScriptableObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (count != 1) return E_INVALIDARG;
  for (std::size_t i = 0; i < members_.size(); ++i) {
    if (SameName(members_[i].first, names[0])) {
      ids[0] = static_cast<DISPID>(i + 1);
      return S_OK;
    }
  }
  ids[0] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT ScriptableObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO* exception, UINT*) {
  Invocation call{flags, params, result, exception};
  if (id == DISPID_NEWENUM && enumerable_) {
    if (result == nullptr) return E_INVALIDARG;
    VariantInit(result);
    result->vt = VT_UNKNOWN;
    result->punkVal = Enumerator::Make(elements_).Share();
    return S_OK;
  }
  if (id < 1 || static_cast<std::size_t>(id) > members_.size()) return DISP_E_MEMBERNOTFOUND;
  const Member body = members_[static_cast<std::size_t>(id - 1)].second;
  return body(call);
}

std::u16string ToText(const wchar_t* text, UINT length) {
  std::u16string out(length, u'\0');
  for (UINT i = 0; i < length; ++i) out[i] = static_cast<char16_t>(text[i]);
  return out;
}

HRESULT ReturnString(Invocation& call, const std::u16string& text) {
  if (call.result != nullptr) {
    VariantInit(call.result);
    call.result->vt = VT_BSTR;
    call.result->bstrVal = NewBstr(text);
  }
  return S_OK;
}

HRESULT ReturnObject(Invocation& call, const Ref<IDispatch>& object) {
  if (call.result != nullptr) {
    VariantInit(call.result);
    call.result->vt = VT_DISPATCH;
    call.result->pdispVal = object.Share();
  }
  return S_OK;
}

namespace {
std::u16string deferredDescription;
HRESULT STDAPICALLTYPE FillInDescription(EXCEPINFO* info) {
  info->bstrDescription = NewBstr(deferredDescription);
  return S_OK;
}
}  // namespace

HRESULT Raise(Invocation& call, HRESULT code, const std::u16string& description, bool deferred) {
  if (call.exception == nullptr) return code;
  *call.exception = EXCEPINFO{};
  call.exception->scode = code;
  call.exception->bstrSource = NewBstr(u"Test object");
  if (deferred) {
    deferredDescription = description;
    call.exception->pfnDeferredFillIn = &FillInDescription;
  } else {
    call.exception->bstrDescription = NewBstr(description);
  }
  return DISP_E_EXCEPTION;
}

}  // namespace quavelle::testing
