#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "TempTree.h"
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
std::string calls;  // every call to a test object, as "Member(how argument)"

std::string Utf8(const std::wstring& text) {
  return ToUtf8(std::u16string(text.begin(), text.end()));
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

HRESULT Raise(const Failure& failure, EXCEPINFO& exception) {
  exception.scode = failure.code;
  if (failure.deferred) {
    exception.pfnDeferredFillIn = [](EXCEPINFO* info) -> HRESULT {
      info->bstrDescription = SysAllocString(kLateDescription);
      return S_OK;
    };
  } else if (*failure.description != L'\0') {
    exception.bstrDescription = SysAllocString(failure.description);
  }
  return DISP_E_EXCEPTION;
}

// An object whose members give set values. Given elements, it is also their
// enumerator, restarted by each _NewEnum; it is its own class factory.
class TestObject final : public IDispatch, public IEnumVARIANT, public IClassFactory {
 public:
  TestObject() { ++liveObjects; }
  // What member gives when called with this argument, or with any when it is
  // empty; a later reply overrides an earlier one. The object takes value.
  void Reply(std::wstring member, VARIANT value, std::wstring argument = L"") {
    replies_.push_back({std::move(member), std::move(argument), value, nullptr});
  }
  void Fail(std::wstring member, const Failure& failure) {
    replies_.push_back({std::move(member), L"", VARIANT{}, &failure});
  }
  void SetElements(std::vector<VARIANT> elements) {
    elements_ = std::move(elements);
    enumerable_ = true;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch) *out = static_cast<IDispatch*>(this);
    if (iid == IID_IEnumVARIANT && enumerable_) *out = static_cast<IEnumVARIANT*>(this);
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
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    for (std::size_t i = 0; count == 1 && i < replies_.size(); ++i) {
      if (replies_[i].member == names[0]) {
        ids[0] = static_cast<DISPID>(i + 1);
        return S_OK;
      }
    }
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT*) override {
    if (id == DISPID_NEWENUM && enumerable_) {
      next_ = 0;
      AddRef();
      result->vt = VT_UNKNOWN;
      result->punkVal = static_cast<IEnumVARIANT*>(this);
      return S_OK;
    }
    if (id < 1 || static_cast<std::size_t>(id) > replies_.size()) return DISP_E_MEMBERNOTFOUND;
    const std::wstring member = replies_[static_cast<std::size_t>(id) - 1].member;
    calls += (calls.empty() ? "" : ", ") + Utf8(member);
    std::wstring argument;
    VARIANT* given = params->cArgs == 1 ? &params->rgvarg[0] : nullptr;
    if (given != nullptr && (given->vt == VT_BSTR || given->vt == (VT_BYREF | VT_BSTR))) {
      BSTR* slot = given->vt == VT_BSTR ? &given->bstrVal : given->pbstrVal;
      argument.assign(*slot, SysStringLen(*slot));
      calls += (given->vt == VT_BSTR ? "(val " : "(ref ") + Utf8(argument) + ")";
      if (given->vt != VT_BSTR) {
        SysFreeString(*slot);  // a by-reference argument is the callee's to change
        *slot = SysAllocString(L"changed by the callee");
      }
    }
    for (auto reply = replies_.rbegin(); reply != replies_.rend(); ++reply) {
      if (reply->member != member || (!reply->argument.empty() && reply->argument != argument)) {
        continue;
      }
      if (reply->failure != nullptr) return Raise(*reply->failure, *exception);
      return VariantCopy(result, &reply->value);
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG wanted, VARIANT* out, ULONG* fetched) override {
    ULONG given = 0;
    for (; given < wanted && next_ < elements_.size(); ++given, ++next_) {
      VariantCopy(&out[given], &elements_[next_]);
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
  struct Entry {
    std::wstring member;
    std::wstring argument;
    VARIANT value;
    const Failure* failure;
  };
  ~TestObject() {
    for (Entry& reply : replies_) VariantClear(&reply.value);
    for (VARIANT& element : elements_) VariantClear(&element);
    --liveObjects;
  }

  ULONG references_ = 1;
  std::vector<Entry> replies_;  // DISPID = index + 1 of a member's first reply
  bool enumerable_ = false;
  std::vector<VARIANT> elements_;
  std::size_t next_ = 0;
};

VARIANT Bstr(const std::wstring& text) {
  VARIANT value{};
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(text.c_str());
  return value;
}

VARIANT Object(TestObject* object, VARTYPE type = VT_DISPATCH) {
  VARIANT value{};
  value.vt = type;
  value.pdispVal = object;
  if (object != nullptr) object->AddRef();
  return value;
}

// Test programs run side by side in one registry: each maps an identifier of its own.
const std::wstring kProgId = L"Quavelle.TestServer" + std::to_wstring(GetCurrentProcessId());
constexpr CLSID kClsid = {
    0x6c1e2a53, 0x0f7b, 0x4b7e, {0x9c, 0x55, 0x3d, 0x4a, 0x1e, 0x2b, 0x7f, 0x10}};

// While it lives, creating kProgId gives the object: the identifier is mapped
// to kClsid among the user's classes, and the object serves that class.
class Registration {
 public:
  explicit Registration(TestObject* object) {
    wchar_t clsid[64] = {};
    const auto bytes = static_cast<DWORD>(StringFromGUID2(kClsid, clsid, 64) * sizeof(wchar_t));
    RegSetKeyValueW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + kProgId + L"\\CLSID").c_str(),
                    nullptr, REG_SZ, clsid, bytes);
    // A registry that reads only its merged view takes the mapping there.
    CLSID found{};
    if (FAILED(CLSIDFromProgID(kProgId.c_str(), &found))) {
      RegSetKeyValueW(HKEY_CLASSES_ROOT, (kProgId + L"\\CLSID").c_str(), nullptr, REG_SZ, clsid,
                      bytes);
    }
    EXPECT_EQ(CoRegisterClassObject(kClsid, static_cast<IClassFactory*>(object),
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

class RecordingResults final : public ResultsList {
 public:
  void Clear() override { rows.clear(); }
  void AppendRow(const std::u16string& oldPath, const std::u16string& newPath,
                 const std::u16string& containerName) override {
    rows += ToUtf8(oldPath) + " -> " + ToUtf8(newPath) + " in " + ToUtf8(containerName) + "; ";
  }
  std::string rows;
};

// The server, its documents and their links.
class DocumentServerObject : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    calls.clear();
    server_->Reply(L"Open", VARIANT{});  // nothing, for a path without a document
  }
  void TearDown() override {
    for (TestObject* object : objects_) object->Release();
    EXPECT_EQ(liveObjects, 0) << "an automation object was not released";
    CoUninitialize();
  }

  TestObject* New() { return objects_.emplace_back(new TestObject); }

  TestObject* Link(const std::wstring& absolutePath) {
    TestObject* link = New();
    link->Reply(L"AbsolutePath", Bstr(absolutePath));
    link->Reply(L"SetPath", VARIANT{});
    return link;
  }
  TestObject* Collection(const std::vector<TestObject*>& links) {
    TestObject* collection = New();
    std::vector<VARIANT> elements;
    for (TestObject* link : links) elements.push_back(Object(link));
    collection->SetElements(std::move(elements));
    return collection;
  }
  // A document that Open gives for path; its LinkedDocuments gives links.
  void AddDocument(const std::wstring& path, VARIANT links) {
    TestObject* document = New();
    document->Reply(L"LinkedDocuments", links);
    document->Reply(L"FullName", Bstr(path));
    server_->Reply(L"Open", Object(document), path);
  }

  // The run with the server created by identifier and the real file-system object.
  void Run(void (*walk)(RunContext&, const std::u16string&), const std::wstring& path) {
    const Registration registration(server_);
    const std::unique_ptr<DocumentServer> server =
        CreateObjectAs<DocumentServer>(std::u16string(kProgId.begin(), kProgId.end()));
    const std::unique_ptr<FileSystemService> fso =
        CreateObjectAs<FileSystemService>(kFileSystemProgId);
    const std::unique_ptr<WalkGuard> guard = CreateWalkGuard();
    RunContext ctx{u"C:", u"D:", *server, *fso, results_, *guard};
    walk(ctx, std::u16string(path.begin(), path.end()));
  }
  void ProcessFile(const std::wstring& path) { Run(&quavelle::ProcessFile, path); }

  RecordingResults results_;
  std::vector<TestObject*> objects_;  // the test's one reference to each
  TestObject* server_ = New();
};

TEST_F(DocumentServerObject, ProcessFileCallsTheServerInOrderPassingArgumentsAsAgreed) {
  AddDocument(L"C:\\work\\plan.doc",
              Object(Collection({Link(L"C:\\data\\one.doc"), Link(L"E:\\other\\two.doc"),
                                 Link(L"C:\\data\\three.doc")})));

  ProcessFile(L"C:\\work\\plan.doc");

  EXPECT_EQ(calls,
            "Open(ref C:\\work\\plan.doc), LinkedDocuments, "
            "AbsolutePath, SetPath(val D:\\data\\one.doc), FullName, AbsolutePath, "
            "AbsolutePath, SetPath(val D:\\data\\three.doc), FullName");
  EXPECT_EQ(results_.rows,
            "C:\\data\\one.doc -> D:\\data\\one.doc in C:\\work\\plan.doc; "
            "C:\\data\\three.doc -> D:\\data\\three.doc in C:\\work\\plan.doc; ");
}

// The walk through the system's file-system object: GetFolder, Files, subfolders, Path.
TEST_F(DocumentServerObject, ProcessFolderOpensEveryFileOfARealTreeOnceByItsFullPath) {
  const TempTree tree;
  std::vector<std::string> opens;
  for (const wchar_t* name :
       {L"top.doc", L"sub\\inner.doc", L"sub\\deeper\\deepest.doc", L"side\\side.xls"}) {
    opens.push_back("Open(ref " + Utf8(tree.AddFile(name).native()) + ")");
  }
  tree.AddFolder(L"side\\empty");
  TestObject* unlinked = New();
  unlinked->Reply(L"LinkedDocuments", VARIANT{});
  server_->Reply(L"Open", Object(unlinked));

  Run(&ProcessFolder, tree.root().native());

  std::size_t count = 0;
  for (auto at = calls.find("Open("); at != std::string::npos; at = calls.find("Open(", at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, opens.size()) << calls;
  for (const std::string& open : opens) EXPECT_NE(calls.find(open), std::string::npos) << calls;
}

class LinksThatAreNone : public DocumentServerObject,
                         public ::testing::WithParamInterface<VARTYPE> {};

// An empty collection handed over as a plain object (VT_UNKNOWN), or nothing
// in each of its forms: empty, null, a null object.
TEST_P(LinksThatAreNone, EndTheFileAfterLinkedDocuments) {
  AddDocument(L"C:\\lonely.doc",
              Object(GetParam() == VT_UNKNOWN ? Collection({}) : nullptr, GetParam()));

  ProcessFile(L"C:\\lonely.doc");

  EXPECT_EQ(calls, "Open(ref C:\\lonely.doc), LinkedDocuments");
  EXPECT_EQ(results_.rows, "");
}

INSTANTIATE_TEST_SUITE_P(DocumentServerObject, LinksThatAreNone,
                         ::testing::Values(VARTYPE{VT_UNKNOWN}, VARTYPE{VT_EMPTY}, VARTYPE{VT_NULL},
                                           VARTYPE{VT_DISPATCH}));

TEST_F(DocumentServerObject, AnOpenThatGivesNothingFailsAtTheNextMemberWithObjectNotSet) {
  try {
    ProcessFile(L"C:\\unknown.doc");
    FAIL() << "expected a ServiceError";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), error_number::kObjectNotSet);
  }
  EXPECT_EQ(calls, "Open(ref C:\\unknown.doc)");
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
  TestObject* second = Link(L"C:\\second.doc");
  second->Fail(L"SetPath", GetParam());
  AddDocument(L"C:\\w.doc",
              Object(Collection({Link(L"C:\\first.doc"), second, Link(L"C:\\third.doc")})));
  const std::wstring given = GetParam().deferred ? kLateDescription : GetParam().description;

  try {
    ProcessFile(L"C:\\w.doc");
    FAIL() << "expected a ServiceError";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), GetParam().number);
    EXPECT_EQ(e.description(), given.empty() ? SystemMessage(GetParam().code)
                                             : std::u16string(given.begin(), given.end()));
  }
  EXPECT_EQ(calls,
            "Open(ref C:\\w.doc), LinkedDocuments, AbsolutePath, SetPath(val D:\\first.doc), "
            "FullName, AbsolutePath, SetPath(val D:\\second.doc)");
  EXPECT_EQ(results_.rows, "C:\\first.doc -> D:\\first.doc in C:\\w.doc; ");
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
