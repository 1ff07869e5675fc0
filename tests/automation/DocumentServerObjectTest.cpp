#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "ProgIdRegistration.h"
#include "ScriptableObject.h"
#include "core/LinkRetargeting.h"
#include "services/ServiceError.h"
#include "services/ServiceFactory.h"
#include "services/Text.h"

// The document server reached through automation, against an in-process object
// registered under its own identifier: what arrives at the object, in which
// order, and how its failures come back.
namespace quavelle::testing {
namespace {

// Test programs run side by side in one registry: each maps identifiers of its own.
std::u16string ProgIdFor(const char* name) {
  const std::string text = "Quavelle." + std::string(name) + std::to_string(GetCurrentProcessId());
  return std::u16string(text.begin(), text.end());
}
const std::u16string kProgId = ProgIdFor("TestDocumentServer");
// {6C1E2A53-0F7B-4B7E-9C55-3D4A1E2B7F10}
constexpr CLSID kClsid = {
    0x6c1e2a53, 0x0f7b, 0x4b7e, {0x9c, 0x55, 0x3d, 0x4a, 0x1e, 0x2b, 0x7f, 0x10}};

// What a member received: its one string argument and how it was passed.
std::string ArgumentOf(const Invocation& call) {
  if (call.params->cArgs != 1) return "(" + std::to_string(call.params->cArgs) + " arguments)";
  const VARIANT& arg = call.params->rgvarg[0];
  if (arg.vt == (VT_BYREF | VT_BSTR)) {
    return "ref " + ToUtf8(ToText(*arg.pbstrVal, SysStringLen(*arg.pbstrVal)));
  }
  if (arg.vt == VT_BSTR) return "val " + ToUtf8(ToText(arg.bstrVal, SysStringLen(arg.bstrVal)));
  return "(type " + std::to_string(arg.vt) + ")";
}

enum class NoLinks { kEmpty, kNull, kNullObject };
void PrintTo(NoLinks form, std::ostream* out) {
  *out << (form == NoLinks::kEmpty ? "Empty" : form == NoLinks::kNull ? "Null" : "NullObject");
}

struct Failure {
  HRESULT code;
  std::u16string description;
  bool deferred = false;
};

// The server, its documents and their links, all recording into one log as
// "Member(how argument)".
class ServerModel {
 public:
  struct Call {
    std::string text;
    WORD flags;
  };

  ServerModel() : server_(ScriptableObject::Make()) {
    server_->Define(u"Open", [this](Invocation& call) {
      Record(call, "Open(" + ArgumentOf(call) + ")");
      std::u16string path;
      if (call.params->cArgs == 1 && call.params->rgvarg[0].vt == (VT_BYREF | VT_BSTR)) {
        BSTR* slot = call.params->rgvarg[0].pbstrVal;
        path = ToText(*slot, SysStringLen(*slot));
        if (overwriteOpenArgument_) {
          SysFreeString(*slot);
          *slot = SysAllocString(L"overwritten by the server");
        }
      }
      const auto found = documents_.find(path);
      if (found == documents_.end()) return ReturnObject(call, Ref<IDispatch>());
      return ReturnObject(call, found->second);
    });
  }

  // A document for path, linking to the given absolute paths in this order.
  void AddDocument(const std::u16string& path, const std::u16string& fullName,
                   const std::vector<std::u16string>& links) {
    std::vector<Ref<IDispatch>> elements;
    for (const std::u16string& link : links) elements.push_back(MakeLink(link));
    const Ref<ScriptableObject> collection = ScriptableObject::Make();
    collection->DefineElements(std::move(elements));
    AddDocumentGiving(path, fullName, [this, collection](Invocation& call) {
      Record(call, "LinkedDocuments");
      return ReturnObject(call, collection->AsDispatch());
    });
  }

  // A document whose LinkedDocuments gives no object, in one of its forms.
  void AddDocumentWithoutLinks(const std::u16string& path, NoLinks form) {
    AddDocumentGiving(path, path, [this, form](Invocation& call) {
      Record(call, "LinkedDocuments");
      VariantInit(call.result);
      if (form == NoLinks::kNull) call.result->vt = VT_NULL;
      if (form == NoLinks::kNullObject) {
        call.result->vt = VT_DISPATCH;
        call.result->pdispVal = nullptr;
      }
      return S_OK;
    });
  }

  void FailSetPathOf(const std::u16string& absolutePath, Failure failure) {
    failures_[absolutePath] = std::move(failure);
  }
  void OverwriteOpenArgument() { overwriteOpenArgument_ = true; }

  Ref<IDispatch> server() { return server_->AsDispatch(); }
  std::vector<std::string> log() const {
    std::vector<std::string> texts;
    for (const Call& call : calls_) texts.push_back(call.text);
    return texts;
  }
  const std::vector<Call>& calls() const { return calls_; }

 private:
  void Record(const Invocation& call, std::string text) {
    calls_.push_back({std::move(text), call.flags});
  }

  Ref<IDispatch> MakeLink(const std::u16string& absolutePath) {
    const Ref<ScriptableObject> link = ScriptableObject::Make();
    link->Define(u"AbsolutePath", [this, absolutePath](Invocation& call) {
      Record(call, "AbsolutePath");
      return ReturnString(call, absolutePath);
    });
    link->Define(u"SetPath", [this, absolutePath](Invocation& call) {
      Record(call, "SetPath(" + ArgumentOf(call) + ")");
      const auto failure = failures_.find(absolutePath);
      if (failure == failures_.end()) return S_OK;
      return Raise(call, failure->second.code, failure->second.description,
                   failure->second.deferred);
    });
    return link->AsDispatch();
  }

  void AddDocumentGiving(const std::u16string& path, const std::u16string& fullName,
                         Member linkedDocuments) {
    const Ref<ScriptableObject> document = ScriptableObject::Make();
    document->Define(u"LinkedDocuments", std::move(linkedDocuments));
    document->Define(u"FullName", [this, fullName](Invocation& call) {
      Record(call, "FullName");
      return ReturnString(call, fullName);
    });
    documents_[path] = document->AsDispatch();
  }

  Ref<ScriptableObject> server_;
  std::map<std::u16string, Ref<IDispatch>> documents_;
  std::map<std::u16string, Failure> failures_;
  std::vector<Call> calls_;
  bool overwriteOpenArgument_ = false;
};

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

class DocumentServerObject : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  }

  void TearDown() override {
    registration_.reset();
    model_.reset();
    EXPECT_EQ(LiveObjects(), 0) << "an automation object was not released";
    CoUninitialize();
  }

  ServerModel& model() { return *model_; }

  // The server as the program reaches it: created by identifier through the factory.
  std::unique_ptr<DocumentServer> CreateServer(Ref<IDispatch> object = {}) {
    if (object.get() == nullptr) object = model_->server();
    registration_ = std::make_unique<ProgIdRegistration>(kProgId, kClsid, std::move(object));
    return CreateObjectAs<DocumentServer>(kProgId);
  }

  // ProcessFile with the real file-system object for the drive names.
  void ProcessFile(const std::u16string& path, const std::u16string& oldDrive,
                   const std::u16string& newDrive) {
    const std::unique_ptr<DocumentServer> server = CreateServer();
    const std::unique_ptr<FileSystemService> fso =
        CreateObjectAs<FileSystemService>(kFileSystemProgId);
    NoWalkGuard guard;
    RunContext ctx{oldDrive, newDrive, *server, *fso, results_, guard};
    quavelle::ProcessFile(ctx, path);
  }

  RecordingResults results_;

 private:
  std::unique_ptr<ServerModel> model_ = std::make_unique<ServerModel>();
  std::unique_ptr<ProgIdRegistration> registration_;
};

TEST_F(DocumentServerObject, ProcessFileCallsTheServerInOrderPassingArgumentsAsAgreed) {
  model().AddDocument(u"C:\\work\\plan.doc", u"C:\\work\\plan.doc",
                      {u"C:\\data\\one.doc", u"E:\\other\\two.doc", u"C:\\data\\three.doc"});

  ProcessFile(u"C:\\work\\plan.doc", u"C:", u"D:");

  EXPECT_EQ(model().log(), (std::vector<std::string>{
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
  for (const ServerModel::Call& call : model().calls()) {
    const WORD expected =
        call.text.starts_with("SetPath") ? DISPATCH_METHOD : DISPATCH_METHOD | DISPATCH_PROPERTYGET;
    EXPECT_EQ(call.flags, expected) << call.text;
  }
  EXPECT_EQ(results_.rows, (std::vector<std::string>{
                               "C:\\data\\one.doc | D:\\data\\one.doc | C:\\work\\plan.doc",
                               "C:\\data\\three.doc | D:\\data\\three.doc | C:\\work\\plan.doc",
                           }));
}

class DocumentWithoutLinks : public DocumentServerObject,
                             public ::testing::WithParamInterface<NoLinks> {};

TEST_P(DocumentWithoutLinks, EndsTheFileAfterLinkedDocuments) {
  model().AddDocumentWithoutLinks(u"C:\\lonely.doc", GetParam());

  ProcessFile(u"C:\\lonely.doc", u"C:", u"D:");

  EXPECT_EQ(model().log(),
            (std::vector<std::string>{"Open(ref C:\\lonely.doc)", "LinkedDocuments"}));
  EXPECT_TRUE(results_.rows.empty());
}

INSTANTIATE_TEST_SUITE_P(EveryFormOfNothing, DocumentWithoutLinks,
                         ::testing::Values(NoLinks::kEmpty, NoLinks::kNull, NoLinks::kNullObject));

TEST_F(DocumentServerObject, AnEmptyCollectionIsEnumeratedAndGivesNoRows) {
  model().AddDocument(u"C:\\empty.doc", u"C:\\empty.doc", {});

  ProcessFile(u"C:\\empty.doc", u"C:", u"D:");

  EXPECT_EQ(model().log(),
            (std::vector<std::string>{"Open(ref C:\\empty.doc)", "LinkedDocuments"}));
  EXPECT_TRUE(results_.rows.empty());
}

TEST_F(DocumentServerObject, AnErrorRaisedHalfWayReachesTheCallerWithItsNumberAndDescription) {
  model().AddDocument(u"C:\\w.doc", u"C:\\w.doc",
                      {u"C:\\first.doc", u"C:\\second.doc", u"C:\\third.doc"});
  model().FailSetPathOf(u"C:\\second.doc",
                        {static_cast<HRESULT>(0x800A0046), u"Permission denied: second.doc"});

  try {
    ProcessFile(u"C:\\w.doc", u"C:", u"D:");
    FAIL() << "expected a ServiceError";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), 70);
    EXPECT_EQ(e.description(), u"Permission denied: second.doc");
  }
  EXPECT_EQ(model().log(), (std::vector<std::string>{
                               "Open(ref C:\\w.doc)",
                               "LinkedDocuments",
                               "AbsolutePath",
                               "SetPath(val D:\\first.doc)",
                               "FullName",
                               "AbsolutePath",
                               "SetPath(val D:\\second.doc)",
                           }));
  EXPECT_EQ(results_.rows, (std::vector<std::string>{"C:\\first.doc | D:\\first.doc | C:\\w.doc"}));
}

TEST_F(DocumentServerObject, ADeferredDescriptionIsFilledInBeforeItIsReported) {
  model().AddDocument(u"C:\\w.doc", u"C:\\w.doc", {u"C:\\locked.doc"});
  model().FailSetPathOf(u"C:\\locked.doc",
                        {static_cast<HRESULT>(0x800A0046), u"Filled in late", /*deferred=*/true});

  try {
    ProcessFile(u"C:\\w.doc", u"C:", u"D:");
    FAIL() << "expected a ServiceError";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), 70);
    EXPECT_EQ(e.description(), u"Filled in late");
  }
}

TEST_F(DocumentServerObject, AFailureOutsideTheScriptingRangeKeepsItsHresult) {
  model().AddDocument(u"C:\\w.doc", u"C:\\w.doc", {u"C:\\x.doc"});
  model().FailSetPathOf(u"C:\\x.doc", {E_ACCESSDENIED, u""});

  try {
    ProcessFile(u"C:\\w.doc", u"C:", u"D:");
    FAIL() << "expected a ServiceError";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), static_cast<std::int32_t>(E_ACCESSDENIED));
    EXPECT_FALSE(e.description().empty()) << "the system's text stands in for a missing one";
  }
}

TEST_F(DocumentServerObject, AnOpenThatGivesNothingFailsAtTheNextMemberWithObjectNotSet) {
  try {
    ProcessFile(u"C:\\unknown.doc", u"C:", u"D:");
    FAIL() << "expected a ServiceError";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), error_number::kObjectNotSet);
  }
  EXPECT_EQ(model().log(), (std::vector<std::string>{"Open(ref C:\\unknown.doc)"}));
}

TEST_F(DocumentServerObject, AMemberTheObjectLacksFailsNamingTheMember) {
  const Ref<ScriptableObject> bare = ScriptableObject::Make();
  const std::unique_ptr<DocumentServer> server = CreateServer(bare->AsDispatch());
  try {
    server->Open(u"C:\\w.doc");
    FAIL() << "expected a ServiceError";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), static_cast<std::int32_t>(DISP_E_UNKNOWNNAME));
    EXPECT_NE(e.description().find(u"'Open'"), std::u16string::npos) << ToUtf8(e.description());
  }
}

TEST_F(DocumentServerObject, ANothingElementOfTheCollectionFailsAtItsFirstMember) {
  const Ref<ScriptableObject> links = ScriptableObject::Make();
  links->DefineElements({Ref<IDispatch>()});
  const Ref<ScriptableObject> document = ScriptableObject::Make();
  document->Define(u"LinkedDocuments",
                   [links](Invocation& call) { return ReturnObject(call, links->AsDispatch()); });
  const Ref<ScriptableObject> server = ScriptableObject::Make();
  server->Define(
      u"Open", [document](Invocation& call) { return ReturnObject(call, document->AsDispatch()); });

  const std::unique_ptr<Enumerator<LinkedDocument>> each =
      CreateServer(server->AsDispatch())->Open(u"C:\\w.doc")->LinkedDocuments()->NewEnum();
  const std::unique_ptr<LinkedDocument> nothing = each->Next();
  ASSERT_NE(nothing, nullptr) << "a nothing element is still an element";
  try {
    nothing->AbsolutePath();
    FAIL() << "expected a ServiceError";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), error_number::kObjectNotSet);
  }
  EXPECT_EQ(each->Next(), nullptr);
}

TEST_F(DocumentServerObject, ResultsOfAnotherKindAreConvertedOrFailWithTypeMismatch) {
  const Ref<ScriptableObject> links = ScriptableObject::Make();
  links->DefineElements({});
  const Ref<ScriptableObject> document = ScriptableObject::Make();
  document->Define(u"LinkedDocuments", [links](Invocation& call) {
    VariantInit(call.result);
    call.result->vt = VT_UNKNOWN;  // an object, though not given as a dispatch interface
    call.result->punkVal = links->AsDispatch().Share();
    return S_OK;
  });
  document->Define(u"FullName", [](Invocation& call) {
    VariantInit(call.result);
    call.result->vt = VT_I4;
    call.result->lVal = 42;
    return S_OK;
  });
  const Ref<ScriptableObject> server = ScriptableObject::Make();
  server->Define(u"Open", [document](Invocation& call) {
    if (call.params->cArgs == 1 && call.params->rgvarg[0].vt == (VT_BYREF | VT_BSTR) &&
        SysStringLen(*call.params->rgvarg[0].pbstrVal) == 0) {
      return ReturnString(call, u"not a document");
    }
    return ReturnObject(call, document->AsDispatch());
  });
  const std::unique_ptr<DocumentServer> created = CreateServer(server->AsDispatch());

  const std::unique_ptr<Document> opened = created->Open(u"C:\\w.doc");
  EXPECT_EQ(opened->FullName(), u"42");
  const std::unique_ptr<Collection<LinkedDocument>> collection = opened->LinkedDocuments();
  ASSERT_NE(collection, nullptr);
  EXPECT_EQ(collection->NewEnum()->Next(), nullptr);
  try {
    created->Open(u"");
    FAIL() << "expected a ServiceError";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), error_number::kTypeMismatch);
  }
}

TEST_F(DocumentServerObject, TheServersChangesToAByReferenceArgumentStayWithTheServer) {
  model().AddDocument(u"C:\\w.doc", u"C:\\w.doc", {});
  model().OverwriteOpenArgument();
  const std::unique_ptr<DocumentServer> server = CreateServer();
  const std::u16string path = u"C:\\w.doc";

  server->Open(path);
  server->Open(path);

  EXPECT_EQ(path, u"C:\\w.doc");
  EXPECT_EQ(model().log(),
            (std::vector<std::string>{"Open(ref C:\\w.doc)", "Open(ref C:\\w.doc)"}));
}

TEST_F(DocumentServerObject, AnIdentifierWhoseClassNobodyProvidesCannotBeCreated) {
  const ProgIdRegistration orphan(
      ProgIdFor("TestOrphan"),
      {0x6c1e2a54, 0x0f7b, 0x4b7e, {0x9c, 0x55, 0x3d, 0x4a, 0x1e, 0x2b, 0x7f, 0x11}},
      Ref<IDispatch>());
  try {
    CreateObjectAs<DocumentServer>(ProgIdFor("TestOrphan"));
    FAIL() << "expected a ServiceError";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), error_number::kCannotCreateObject);
    EXPECT_NE(e.description().find(ProgIdFor("TestOrphan")), std::u16string::npos);
  }
}

}  // namespace
}  // namespace quavelle::testing
