#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "core/LinkRetargeting.h"
#include "services/ServiceError.h"
#include "services/ServiceFactory.h"
#include "services/Text.h"
#include "services/automation/AutomationError.h"

// The document server reached through automation, against in-process objects
// created by identifier through the factory: what arrives at them, in which
// order, how their failures come back, and that every reference is given back.
namespace quavelle::testing {
namespace {

int liveObjects = 0;

template <class T>
class Ref {
 public:
  explicit Ref(T* adopted = nullptr) noexcept : pointer_(adopted) {}
  Ref(const Ref& other) noexcept : pointer_(other.Share()) {}
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  T* get() const noexcept { return pointer_; }
  T* operator->() const noexcept { return pointer_; }
  // A new reference for a caller that takes ownership.
  T* Share() const noexcept {
    if (pointer_ != nullptr) pointer_->AddRef();
    return pointer_;
  }

 private:
  T* pointer_;
};

using Member = std::function<HRESULT(DISPPARAMS&, VARIANT&, EXCEPINFO&)>;

// An object of named members. Given elements, it is also their enumerator,
// restarted by each _NewEnum; it is its own class factory.
class TestObject final : public IDispatch, public IEnumVARIANT, public IClassFactory {
 public:
  static Ref<TestObject> Make() { return Ref<TestObject>(new TestObject); }
  void Define(std::wstring name, Member body) { members_.emplace_back(name, std::move(body)); }
  void SetElements(std::vector<Ref<IDispatch>> elements) { elements_ = std::move(elements); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch) *out = static_cast<IDispatch*>(this);
    if (iid == IID_IEnumVARIANT && elements_) *out = static_cast<IEnumVARIANT*>(this);
    if (iid == IID_IClassFactory) *out = static_cast<IClassFactory*>(this);
    if (*out == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    for (std::size_t i = 0; count == 1 && i < members_.size(); ++i) {
      if (members_[i].first == names[0]) {
        ids[0] = static_cast<DISPID>(i + 1);
        return S_OK;
      }
    }
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT*) override {
    if (id == DISPID_NEWENUM && elements_) {
      next_ = 0;
      result->vt = VT_UNKNOWN;
      result->punkVal = static_cast<IEnumVARIANT*>(this);
      AddRef();
      return S_OK;
    }
    if (id < 1 || static_cast<std::size_t>(id) > members_.size()) return DISP_E_MEMBERNOTFOUND;
    return members_[static_cast<std::size_t>(id) - 1].second(*params, *result, *exception);
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG wanted, VARIANT* out, ULONG* fetched) override {
    ULONG given = 0;
    for (; given < wanted && next_ < elements_->size(); ++given, ++next_) {
      out[given].vt = VT_DISPATCH;
      out[given].pdispVal = (*elements_)[next_].Share();
    }
    if (fetched != nullptr) *fetched = given;
    return given == wanted ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** out) override {
    return QueryInterface(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  TestObject() { ++liveObjects; }
  ~TestObject() { --liveObjects; }

  ULONG references_ = 1;
  std::vector<std::pair<std::wstring, Member>> members_;  // DISPID = index + 1
  std::optional<std::vector<Ref<IDispatch>>> elements_;
  std::size_t next_ = 0;
};

// Test programs run side by side in one registry: each maps an identifier of its own.
const std::wstring kProgId = L"Quavelle.TestServer" + std::to_wstring(GetCurrentProcessId());
constexpr CLSID kClsid = {
    0x6c1e2a53, 0x0f7b, 0x4b7e, {0x9c, 0x55, 0x3d, 0x4a, 0x1e, 0x2b, 0x7f, 0x10}};

// While it lives, creating kProgId gives the object: the identifier is mapped
// to kClsid among the user's classes, and the object serves that class.
class Registration {
 public:
  explicit Registration(const Ref<TestObject>& object) {
    wchar_t clsid[64] = {};
    const int length = StringFromGUID2(kClsid, clsid, 64);
    const auto bytes = static_cast<DWORD>(length * sizeof(wchar_t));
    RegSetKeyValueW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + kProgId + L"\\CLSID").c_str(),
                    nullptr, REG_SZ, clsid, bytes);
    // A registry that reads only its merged view takes the mapping there.
    CLSID found{};
    if (FAILED(CLSIDFromProgID(kProgId.c_str(), &found))) {
      RegSetKeyValueW(HKEY_CLASSES_ROOT, (kProgId + L"\\CLSID").c_str(), nullptr, REG_SZ, clsid,
                      bytes);
    }
    EXPECT_EQ(CoRegisterClassObject(kClsid, static_cast<IClassFactory*>(object.get()),
                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_),
              S_OK);
  }
  ~Registration() {
    CoRevokeClassObject(cookie_);
    RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + kProgId).c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId.c_str());
  }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

 private:
  DWORD cookie_ = 0;
};

std::string Utf8(BSTR text) { return ToUtf8(std::u16string(text, text + SysStringLen(text))); }

// The one string argument of a call and how it came.
std::string ArgumentOf(const DISPPARAMS& params) {
  if (params.cArgs != 1) return std::to_string(params.cArgs) + " arguments";
  const VARIANT& arg = params.rgvarg[0];
  if (arg.vt == (VT_BYREF | VT_BSTR)) return "ref " + Utf8(*arg.pbstrVal);
  if (arg.vt == VT_BSTR) return "val " + Utf8(arg.bstrVal);
  return "type " + std::to_string(arg.vt);
}

HRESULT Give(VARIANT& result, const std::wstring& text) {
  result.vt = VT_BSTR;
  result.bstrVal = SysAllocString(text.c_str());
  return S_OK;
}

struct Failure {
  const char* name;
  HRESULT code;
  const wchar_t* description;  // empty: left to the caller
  bool deferred;               // the description is filled in only on request
  std::int32_t number;
};
void PrintTo(const Failure& failure, std::ostream* out) { *out << failure.name; }
constexpr wchar_t kLateDescription[] = L"Filled in late";

class RecordingResults final : public ResultsList {
 public:
  void Clear() override { rows.clear(); }
  void AppendRow(const std::u16string& oldPath, const std::u16string& newPath,
                 const std::u16string& containerName) override {
    rows.push_back(ToUtf8(oldPath) + " | " + ToUtf8(newPath) + " | " + ToUtf8(containerName));
  }
  std::vector<std::string> rows;
};

class NoWalkGuard final : public WalkGuard {
 public:
  bool FirstVisit(const std::u16string&) override { return true; }
};

// The server, its documents and their links, all recording into one log as
// "Member(how argument)".
class DocumentServerObject : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  }
  void TearDown() override {
    documents_.clear();
    EXPECT_EQ(liveObjects, 0) << "an automation object was not released";
    CoUninitialize();
  }

  // A document whose LinkedDocuments is a collection of links to these paths.
  void AddDocument(const std::wstring& path, const std::vector<std::wstring>& links) {
    std::vector<Ref<IDispatch>> elements;
    for (const std::wstring& link : links) elements.emplace_back(MakeLink(link));
    const Ref<TestObject> collection = TestObject::Make();
    collection->SetElements(std::move(elements));
    AddDocumentGiving(path, VT_DISPATCH, Ref<IDispatch>(collection.Share()));
  }

  // A document whose LinkedDocuments gives a value of this type, holding object.
  void AddDocumentGiving(const std::wstring& path, VARTYPE type, Ref<IDispatch> object) {
    const Ref<TestObject> document = TestObject::Make();
    document->Define(L"LinkedDocuments", [=, this](DISPPARAMS&, VARIANT& result, EXCEPINFO&) {
      log_.push_back("LinkedDocuments");
      result.vt = type;
      if (type == VT_DISPATCH || type == VT_UNKNOWN) result.pdispVal = object.Share();
      return S_OK;
    });
    document->Define(L"FullName", [=, this](DISPPARAMS&, VARIANT& result, EXCEPINFO&) {
      log_.push_back("FullName");
      return Give(result, path);
    });
    documents_.emplace(path, document.Share());
  }

  TestObject* MakeLink(const std::wstring& absolutePath) {
    const Ref<TestObject> link = TestObject::Make();
    link->Define(L"AbsolutePath", [=, this](DISPPARAMS&, VARIANT& result, EXCEPINFO&) {
      log_.push_back("AbsolutePath");
      return Give(result, absolutePath);
    });
    link->Define(L"SetPath", [=, this](DISPPARAMS& params, VARIANT&, EXCEPINFO& exception) {
      log_.push_back("SetPath(" + ArgumentOf(params) + ")");
      if (absolutePath != failingLink_) return S_OK;
      exception.scode = failure_.code;
      if (failure_.deferred) {
        exception.pfnDeferredFillIn = [](EXCEPINFO* info) -> HRESULT {
          info->bstrDescription = SysAllocString(kLateDescription);
          return S_OK;
        };
      } else if (*failure_.description != L'\0') {
        exception.bstrDescription = SysAllocString(failure_.description);
      }
      return DISP_E_EXCEPTION;
    });
    return link.Share();
  }

  // ProcessFile with the server created by identifier and the real file-system object.
  void ProcessFile(const std::wstring& path) {
    const Ref<TestObject> object = TestObject::Make();
    object->Define(L"Open", [this](DISPPARAMS& params, VARIANT& result, EXCEPINFO&) {
      log_.push_back("Open(" + ArgumentOf(params) + ")");
      std::wstring opened;
      if (params.cArgs == 1 && params.rgvarg[0].vt == (VT_BYREF | VT_BSTR)) {
        BSTR* slot = params.rgvarg[0].pbstrVal;
        opened.assign(*slot, SysStringLen(*slot));
        SysFreeString(*slot);  // a by-reference argument is the server's to change
        *slot = SysAllocString(L"changed by the server");
      }
      const auto found = documents_.find(opened);
      result.vt = VT_DISPATCH;
      result.pdispVal = found == documents_.end() ? nullptr : found->second.Share();
      return S_OK;
    });
    const Registration registration(object);
    const std::unique_ptr<DocumentServer> server =
        CreateObjectAs<DocumentServer>(std::u16string(kProgId.begin(), kProgId.end()));
    const std::unique_ptr<FileSystemService> fso =
        CreateObjectAs<FileSystemService>(kFileSystemProgId);
    NoWalkGuard guard;
    RunContext ctx{u"C:", u"D:", *server, *fso, results_, guard};
    quavelle::ProcessFile(ctx, std::u16string(path.begin(), path.end()));
  }

  std::map<std::wstring, Ref<IDispatch>> documents_;
  std::wstring failingLink_;
  Failure failure_{};
  std::vector<std::string> log_;
  RecordingResults results_;
};

TEST_F(DocumentServerObject, ProcessFileCallsTheServerInOrderPassingArgumentsAsAgreed) {
  AddDocument(L"C:\\work\\plan.doc",
              {L"C:\\data\\one.doc", L"E:\\other\\two.doc", L"C:\\data\\three.doc"});

  ProcessFile(L"C:\\work\\plan.doc");

  EXPECT_EQ(log_, (std::vector<std::string>{
                      "Open(ref C:\\work\\plan.doc)",
                      "LinkedDocuments",
                      "AbsolutePath",
                      "SetPath(val D:\\data\\one.doc)",
                      "FullName",
                      "AbsolutePath",
                      "AbsolutePath",
                      "SetPath(val D:\\data\\three.doc)",
                      "FullName",
                  }));
  EXPECT_EQ(results_.rows, (std::vector<std::string>{
                               "C:\\data\\one.doc | D:\\data\\one.doc | C:\\work\\plan.doc",
                               "C:\\data\\three.doc | D:\\data\\three.doc | C:\\work\\plan.doc",
                           }));
}

class LinksThatAreNone : public DocumentServerObject,
                         public ::testing::WithParamInterface<VARTYPE> {};

// An empty collection handed over as a plain object, or nothing in each of its forms.
TEST_P(LinksThatAreNone, EndTheFileAfterLinkedDocuments) {
  const Ref<TestObject> empty = TestObject::Make();
  empty->SetElements({});
  AddDocumentGiving(L"C:\\lonely.doc", GetParam(),
                    Ref<IDispatch>(GetParam() == VT_UNKNOWN ? empty.Share() : nullptr));

  ProcessFile(L"C:\\lonely.doc");

  EXPECT_EQ(log_, (std::vector<std::string>{"Open(ref C:\\lonely.doc)", "LinkedDocuments"}));
  EXPECT_TRUE(results_.rows.empty());
}

INSTANTIATE_TEST_SUITE_P(DocumentServerObject, LinksThatAreNone,
                         ::testing::Values(VARTYPE{VT_UNKNOWN}, VARTYPE{VT_EMPTY}, VARTYPE{VT_NULL},
                                           VARTYPE{VT_DISPATCH}),
                         [](const ::testing::TestParamInfo<VARTYPE>& info) {
                           return info.param == VT_UNKNOWN ? "EmptyCollection"
                                  : info.param == VT_EMPTY ? "Empty"
                                  : info.param == VT_NULL  ? "Null"
                                                           : "NullObject";
                         });

TEST_F(DocumentServerObject, AnOpenThatGivesNothingFailsAtTheNextMemberWithObjectNotSet) {
  try {
    ProcessFile(L"C:\\unknown.doc");
    FAIL() << "expected a ServiceError";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), error_number::kObjectNotSet);
  }
  EXPECT_EQ(log_, std::vector<std::string>{"Open(ref C:\\unknown.doc)"});
}

TEST(DocumentServerFactory, AnIdentifierNobodyRegisteredCannotBeCreated) {
  try {
    CreateObjectAs<DocumentServer>(u"Quavelle.NobodyRegisteredThis");
    FAIL() << "expected a ServiceError";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), error_number::kCannotCreateObject);
  }
}

class ErrorRaisedHalfWay : public DocumentServerObject,
                           public ::testing::WithParamInterface<Failure> {};

TEST_P(ErrorRaisedHalfWay, ReachesTheCallerWithItsNumberAndDescription) {
  AddDocument(L"C:\\w.doc", {L"C:\\first.doc", L"C:\\second.doc", L"C:\\third.doc"});
  failingLink_ = L"C:\\second.doc";
  failure_ = GetParam();
  const std::wstring given = failure_.deferred ? kLateDescription : failure_.description;

  try {
    ProcessFile(L"C:\\w.doc");
    FAIL() << "expected a ServiceError";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), failure_.number);
    EXPECT_EQ(e.description(), given.empty() ? SystemMessage(failure_.code)
                                             : std::u16string(given.begin(), given.end()));
  }
  EXPECT_EQ(log_,
            (std::vector<std::string>{"Open(ref C:\\w.doc)", "LinkedDocuments", "AbsolutePath",
                                      "SetPath(val D:\\first.doc)", "FullName", "AbsolutePath",
                                      "SetPath(val D:\\second.doc)"}));
  EXPECT_EQ(results_.rows, std::vector<std::string>{"C:\\first.doc | D:\\first.doc | C:\\w.doc"});
}

INSTANTIATE_TEST_SUITE_P(
    DocumentServerObject, ErrorRaisedHalfWay,
    ::testing::Values(Failure{"Described", static_cast<HRESULT>(0x800A0046),
                              L"Permission denied: second.doc", false, 70},
                      Failure{"DescribedLate", static_cast<HRESULT>(0x800A0046), L"", true, 70},
                      Failure{"UndescribedOutsideTheScriptingRange", E_ACCESSDENIED, L"", false,
                              static_cast<std::int32_t>(E_ACCESSDENIED)}),
    [](const ::testing::TestParamInfo<Failure>& info) { return info.param.name; });

}  // namespace
}  // namespace quavelle::testing
