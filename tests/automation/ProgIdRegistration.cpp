#include "ProgIdRegistration.h"

#include <windows.h>

#include <stdexcept>

namespace quavelle::testing {
namespace {

class ClassFactory final : public IClassFactory {
 public:
  static Ref<IClassFactory> Make(Ref<IDispatch> object) {
    return Ref<IClassFactory>::Adopt(new ClassFactory(std::move(object)));
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      AddRef();
      *out = static_cast<IClassFactory*>(this);
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
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return object_->QueryInterface(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  explicit ClassFactory(Ref<IDispatch> object) : object_(std::move(object)) {}
  ~ClassFactory() = default;

  ULONG references_ = 1;
  Ref<IDispatch> object_;
};

std::wstring ToWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) throw std::runtime_error(what);
}

}  // namespace

ProgIdRegistration::ProgIdRegistration(const std::u16string& progId, const CLSID& clsid,
                                       Ref<IDispatch> object)
    : progId_(ToWide(progId)) {
  wchar_t clsidText[64] = {};
  if (StringFromGUID2(clsid, clsidText, 64) == 0) throw std::runtime_error("StringFromGUID2");
  const DWORD bytes = static_cast<DWORD>((wcslen(clsidText) + 1) * sizeof(wchar_t));
  const std::wstring key = progId_ + L"\\CLSID";
  // The user's classes are the place on Windows; some systems read only the
  // merged view, which then takes the mapping itself.
  Check(
      HRESULT_FROM_WIN32(RegSetKeyValueW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + key).c_str(),
                                         nullptr, REG_SZ, clsidText, bytes)),
      "writing the identifier's class to the registry");
  CLSID found{};
  if (FAILED(CLSIDFromProgID(progId_.c_str(), &found)) || found != clsid) {
    Check(HRESULT_FROM_WIN32(
              RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, clsidText, bytes)),
          "writing the identifier's class to the registry");
    inClassesRoot_ = true;
  }
  if (object.get() == nullptr) return;  // the identifier names a class nobody provides
  const Ref<IClassFactory> factory = ClassFactory::Make(std::move(object));
  const HRESULT registered = CoRegisterClassObject(clsid, factory.get(), CLSCTX_INPROC_SERVER,
                                                   REGCLS_MULTIPLEUSE, &cookie_);
  if (FAILED(registered)) {
    Unmap();
    throw std::runtime_error("registering the class factory");
  }
}

ProgIdRegistration::~ProgIdRegistration() {
  if (cookie_ != 0) CoRevokeClassObject(cookie_);
  Unmap();
}

void ProgIdRegistration::Unmap() noexcept {
  RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + progId_).c_str());
  if (inClassesRoot_) RegDeleteTreeW(HKEY_CLASSES_ROOT, progId_.c_str());
}

}  // namespace quavelle::testing
