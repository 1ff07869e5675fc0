#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/LinkRetargeting.h"
#include "services/ServiceError.h"
#include "services/ServiceFactory.h"
#include "services/automation/AutomationError.h"

// The file system against the system's own scripting object; the document server
// against in-process objects created by identifier through the factory.
namespace quavelle::testing {
namespace {

// A fresh folder under the system's temporary folder, removed with all it holds.
struct TempTree {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() /
      ("quavelle-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  TempTree() { std::filesystem::create_directory(root); }
  std::error_code leftover;  // a folder left behind must not fail the test run
  ~TempTree() { std::filesystem::remove_all(root, leftover); }
  // An empty file, with the folders above it.
  std::filesystem::path AddFile(const std::filesystem::path& relative) const {
    std::filesystem::create_directories((root / relative).parent_path());
    std::ofstream{root / relative};
    return root / relative;
  }
};

std::u16string Text(const std::filesystem::path& path) {
  return std::u16string(path.native().begin(), path.native().end());
}

TEST(FileSystemObject, AMissingFolderFailsWithPathNotFound) {
  const TempTree tree;
  try {
    CreateObjectAs<FileSystemService>(kFileSystemProgId)->GetFolder(Text(tree.root / L"missing"));
    FAIL() << "expected a ServiceError";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), error_number::kPathNotFound);
    EXPECT_EQ(e.description(), u"Path not found");
  }
}

TEST(FileSystemObject, GivesTheDriveNameOfALetteredPathAndKnowsTheMachinesDrives) {
  const auto fso = CreateObjectAs<FileSystemService>(kFileSystemProgId);
  EXPECT_EQ(fso->GetDriveName(u"C:\\Data\\plan.doc"), u"C:");
  EXPECT_TRUE(fso->DriveExists(u"C:"));
  char16_t unmapped = u'D';
  while ((GetLogicalDrives() >> (unmapped - u'A') & 1) != 0) ++unmapped;
  EXPECT_FALSE(fso->DriveExists(std::u16string{unmapped, u':'})) << static_cast<char>(unmapped);
}

TEST(VolumeFileWalkGuard, MeetsAFolderOrFileOnceHoweverItsPathIsSpeltOrLinked) {
  const TempTree tree;
  const std::filesystem::path file = tree.AddFile(L"Docs\\a.doc");
  CreateHardLinkW((tree.root / L"second.doc").c_str(), file.c_str(), nullptr);
  const auto guard = CreateWalkGuard();
  EXPECT_TRUE(guard->FirstVisit(Text(file.parent_path())));
  EXPECT_TRUE(guard->FirstVisit(Text(file)));
  EXPECT_FALSE(guard->FirstVisit(Text(file.parent_path() / L"..\\DOCS\\")));
  EXPECT_FALSE(guard->FirstVisit(Text(tree.root / L"second.doc")));
  // What has no identity is left for the service to report, however often it comes.
  EXPECT_TRUE(guard->FirstVisit(Text(tree.root / L"missing")));
  EXPECT_TRUE(guard->FirstVisit(Text(tree.root / L"missing")));
}

int liveObjects = 0;
std::vector<std::wstring> calls;  // every call to a test object, as "Member(how argument)"

// HRESULT, description (empty: left to the caller), number.
using Failure = std::tuple<HRESULT, const char16_t*, std::int32_t>;

// Server, document, link or links: FullName and AbsolutePath give its name, Open and
// LinkedDocuments its answer, SetPath its failure. Its own enumerator and class factory.
class TestObject final : public IDispatch, public IEnumVARIANT, public IClassFactory {
 public:
  explicit TestObject(std::wstring name) : name(std::move(name)) { ++liveObjects; }
  const std::wstring name;
  TestObject* answer = nullptr;  // the fixture holds the references to these
  VARTYPE answerType = VT_DISPATCH;
  std::vector<TestObject*> elements;
  const Failure* failure = nullptr;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch) *out = static_cast<IDispatch*>(this);
    if (iid == IID_IEnumVARIANT) *out = static_cast<IEnumVARIANT*>(this);
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
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID,
                                          DISPID* id) override {
    *id = static_cast<DISPID>(std::ranges::find(kMembers, std::wstring(names[0])) - kMembers);
    return *id < 5 ? S_OK : DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT*) override {
    if (id == DISPID_NEWENUM) {
      next_ = 0;
      result->vt = VT_UNKNOWN;
      return QueryInterface(IID_IEnumVARIANT, &result->byref);
    }
    const std::wstring member = kMembers[id];
    const VARIANT* given = params->cArgs == 1 ? &params->rgvarg[0] : nullptr;
    calls.push_back(given == nullptr       ? member
                    : given->vt == VT_BSTR ? member + L"(val " + given->bstrVal + L")"
                                           : member + L"(ref " + *given->pbstrVal + L")");
    if (member == L"FullName" || member == L"AbsolutePath") {
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocString(name.c_str());
    } else if (member != L"SetPath") {
      result->vt = answerType;
      if (answer != nullptr) answer->QueryInterface(IID_IDispatch, &result->byref);
    } else if (failure != nullptr) {
      exception->scode = std::get<0>(*failure);
      exception->bstrDescription =
          SysAllocString(reinterpret_cast<const wchar_t*>(std::get<1>(*failure)));
      return DISP_E_EXCEPTION;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG, VARIANT* out, ULONG* fetched) override {
    *fetched = next_ < elements.size() ? 1 : 0;
    if (*fetched == 0) return S_FALSE;
    out->vt = VT_DISPATCH;
    return elements[next_++]->QueryInterface(IID_IDispatch, &out->byref);
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** out) override {
    return QueryInterface(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  static constexpr const wchar_t* kMembers[] = {L"Open", L"LinkedDocuments", L"FullName",
                                                L"AbsolutePath", L"SetPath"};
  ~TestObject() { --liveObjects; }
  ULONG references_ = 1;
  std::size_t next_ = 0;
};

// Test programs run side by side in one registry: each maps an identifier of its own.
const std::wstring kProgId = L"Quavelle.TestServer" + std::to_wstring(GetCurrentProcessId());
constexpr wchar_t kClsid[] = L"{6C1E2A53-0F7B-4B7E-9C55-3D4A1E2B7F10}";

// Also the results list, as its rows.
class DocumentServerObject : public ::testing::Test, public ResultsList {
 protected:
  void Clear() override { rows_.clear(); }
  void AppendRow(const std::u16string& oldPath, const std::u16string& newPath,
                 const std::u16string& containerName) override {
    rows_ += oldPath + u" -> " + newPath + u" in " + containerName + u"; ";
  }
  // Until TearDown, creating kProgId gives server_.
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    calls.clear();
    RegSetKeyValueW(HKEY_CLASSES_ROOT, (kProgId + L"\\CLSID").c_str(), nullptr, REG_SZ, kClsid,
                    sizeof kClsid);
    CLSID clsid{};
    CLSIDFromString(kClsid, &clsid);
    CoRegisterClassObject(clsid, static_cast<IClassFactory*>(server_), CLSCTX_INPROC_SERVER,
                          REGCLS_MULTIPLEUSE, &cookie_);
  }
  void TearDown() override {
    CoRevokeClassObject(cookie_);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId.c_str());
    for (TestObject* object : objects_) object->Release();
    EXPECT_EQ(liveObjects, 0) << "an automation object was not released";
  }

  TestObject* New(std::wstring name = L"") {
    return objects_.emplace_back(new TestObject(std::move(name)));
  }
  // The server's Open gives it, a document named path whose LinkedDocuments gives links.
  TestObject* AddDocument(std::wstring path, const std::vector<TestObject*>& links) {
    TestObject* document = server_->answer = New(std::move(path));
    document->answer = New();
    document->answer->elements = links;
    return document;
  }

  // The server created by identifier and the system's file-system object.
  void Run(void (*walk)(RunContext&, const std::u16string&), const std::wstring& path) {
    const auto server =
        CreateObjectAs<DocumentServer>(std::u16string(kProgId.begin(), kProgId.end()));
    const auto fso = CreateObjectAs<FileSystemService>(kFileSystemProgId);
    const auto guard = CreateWalkGuard();
    RunContext ctx{u"C:", u"D:", *server, *fso, *this, *guard};
    walk(ctx, std::u16string(path.begin(), path.end()));
  }

  std::u16string rows_;
  std::vector<TestObject*> objects_;  // the test's one reference to each
  TestObject* server_ = New();
  DWORD cookie_ = 0;
};

TEST_F(DocumentServerObject, ProcessFileOpensByReferenceAndSetsMatchingLinksByValueInOrder) {
  AddDocument(L"C:\\work\\plan.doc",
              {New(L"C:\\data\\one.doc"), New(L"E:\\other\\two.doc"), New(L"C:\\data\\three.doc")});
  Run(&ProcessFile, L"C:\\work\\plan.doc");
  EXPECT_EQ(calls, (std::vector<std::wstring>{L"Open(ref C:\\work\\plan.doc)", L"LinkedDocuments",
                                              L"AbsolutePath", L"SetPath(val D:\\data\\one.doc)",
                                              L"FullName", L"AbsolutePath", L"AbsolutePath",
                                              L"SetPath(val D:\\data\\three.doc)", L"FullName"}));
  EXPECT_EQ(rows_,
            u"C:\\data\\one.doc -> D:\\data\\one.doc in C:\\work\\plan.doc; "
            u"C:\\data\\three.doc -> D:\\data\\three.doc in C:\\work\\plan.doc; ");
}

// The walk through the system's file-system object: GetFolder, Files, subfolders, Path.
TEST_F(DocumentServerObject, ProcessFolderOpensEveryFileOfARealTreeOnceByItsFullPath) {
  const TempTree tree;
  std::vector<std::wstring> expected(4, L"LinkedDocuments");
  for (const wchar_t* name :
       {L"top.doc", L"sub\\inner.doc", L"sub\\deeper\\deepest.doc", L"side\\side.xls"}) {
    expected.push_back(L"Open(ref " + tree.AddFile(name).native() + L")");
  }
  server_->answer = New();  // a document without links
  Run(&ProcessFolder, tree.root.native());
  std::ranges::sort(calls);
  std::ranges::sort(expected);
  EXPECT_EQ(calls, expected);
}

TEST_F(DocumentServerObject, LinkedDocumentsThatAreNothingEndTheFile) {
  TestObject* document = AddDocument(L"C:\\lonely.doc", {});
  document->answer = nullptr;  // an object reference that is null, then null itself
  Run(&ProcessFile, L"C:\\lonely.doc");
  document->answerType = VT_NULL;
  Run(&ProcessFile, L"C:\\lonely.doc");
  EXPECT_EQ(calls, (std::vector<std::wstring>{L"Open(ref C:\\lonely.doc)", L"LinkedDocuments",
                                              L"Open(ref C:\\lonely.doc)", L"LinkedDocuments"}));
}

class ErrorRaisedHalfWay : public DocumentServerObject,
                           public ::testing::WithParamInterface<Failure> {};

TEST_P(ErrorRaisedHalfWay, ReachesTheCallerWithItsNumberAndDescription) {
  const auto& [code, description, number] = GetParam();
  TestObject* second = New(L"C:\\second.doc");
  second->failure = &GetParam();
  AddDocument(L"C:\\w.doc", {New(L"C:\\first.doc"), second, New(L"C:\\third.doc")});
  try {
    Run(&ProcessFile, L"C:\\w.doc");
    FAIL() << "expected a ServiceError";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), number);
    EXPECT_EQ(e.description(), *description == u'\0' ? SystemMessage(code) : description);
  }
  EXPECT_EQ(calls,
            (std::vector<std::wstring>{L"Open(ref C:\\w.doc)", L"LinkedDocuments", L"AbsolutePath",
                                       L"SetPath(val D:\\first.doc)", L"FullName", L"AbsolutePath",
                                       L"SetPath(val D:\\second.doc)"}));
  EXPECT_EQ(rows_, u"") << "a document's rows are listed once its links are enumerated to the end";
}

INSTANTIATE_TEST_SUITE_P(DocumentServerObject, ErrorRaisedHalfWay,
                         ::testing::Values(Failure{0x800A0046, u"Permission denied: w.doc", 70},
                                           Failure{E_ACCESSDENIED, u"", E_ACCESSDENIED}));

}  // namespace
}  // namespace quavelle::testing
