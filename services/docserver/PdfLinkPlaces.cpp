#include "services/docserver/PdfLinkPlaces.h"

#include <set>
#include <utility>

namespace quavelle::docserver {
namespace {

using Handle = QPDFObjectHandle;

bool IsName(Handle object, const char* name) { return object.isName() && object.getName() == name; }

Handle Key(Handle dict, const char* key) {
  return dict.isDictionary() ? dict.getKey(key) : Handle::newNull();
}

// Walks every path to a link once; every object is visited at most once, with
// explicit stacks, so that loops and deep trees in a damaged file stay cheap.
class Survey {
 public:
  explicit Survey(QPDF& pdf) : pdf_(pdf) {}

  PdfLinkSurvey Run() {
    Handle root = pdf_.getRoot();
    const QPDFObjGen rootTop = root.getObjGen();
    if (Key(root, "/Perms").isDictionary()) result_.signedDocument = true;
    if (Key(Key(root, "/URI"), "/Base").isString()) result_.uriBase = true;
    Handle open = Key(root, "/OpenAction");
    if (open.isDictionary()) Actions(open, rootTop);
    AdditionalActions(Key(root, "/AA"), rootTop);
    Pages(Key(root, "/Pages"));
    Outlines(Key(Key(root, "/Outlines"), "/First"));
    Fields(Key(Key(root, "/AcroForm"), "/Fields"));
    return std::move(result_);
  }

 private:
  // False when object is indirect and was seen before.
  bool FirstVisit(Handle object) {
    return !object.isIndirect() || seen_.insert(object.getObjGen()).second;
  }

  static QPDFObjGen TopOf(Handle object, QPDFObjGen parentTop) {
    return object.isIndirect() ? object.getObjGen() : parentTop;
  }

  static void AddString(PdfLinkPlaces& link, Handle holder, const char* key, QPDFObjGen top,
                        PdfNameSyntax syntax) {
    if (Key(holder, key).isString()) link.places.push_back({holder, key, top, syntax});
  }

  // The strings of a file dictionary: a string, or a dictionary whose
  // forms name one file. An embedded file names no file outside.
  void FileName(PdfLinkPlaces& link, Handle holder, const char* key, QPDFObjGen top) {
    Handle named = Key(holder, key);
    if (named.isString()) {
      link.places.push_back({holder, key, top, PdfNameSyntax::FileName});
      return;
    }
    if (!named.isDictionary() || !FirstVisit(named) || named.hasKey("/EF")) return;
    const QPDFObjGen namedTop = TopOf(named, top);
    const PdfNameSyntax syntax =
        IsName(named.getKey("/FS"), "/URL") ? PdfNameSyntax::Uri : PdfNameSyntax::FileName;
    for (const char* form : {"/UF", "/F"}) AddString(link, named, form, namedTop, syntax);
    pendingPlatformForms_.push_back({named, namedTop});
  }

  void PlatformForms(PdfLinkPlaces& link) {
    for (const auto& [named, top] : pendingPlatformForms_) {
      for (const char* form : {"/DOS", "/Unix"}) {
        AddString(link, named, form, top, PdfNameSyntax::FileName);
      }
    }
    pendingPlatformForms_.clear();
  }

  void Action(Handle action, QPDFObjGen top) {
    Handle type = action.getKey("/S");
    PdfLinkPlaces link;
    if (IsName(type, "/URI")) {
      AddString(link, action, "/URI", top, PdfNameSyntax::Uri);
    } else if (IsName(type, "/GoToR") || IsName(type, "/Launch")) {
      FileName(link, action, "/F", top);
      Handle windows = action.getKey("/Win");
      if (windows.isDictionary() && FirstVisit(windows)) {
        AddString(link, windows, "/F", TopOf(windows, top), PdfNameSyntax::FileName);
      }
      PlatformForms(link);
    }
    if (!link.places.empty()) result_.links.push_back(std::move(link));
  }

  // An action and the actions chained to it by /Next, depth first.
  void Actions(Handle first, QPDFObjGen parentTop) {
    std::vector<std::pair<Handle, QPDFObjGen>> stack{{first, parentTop}};
    while (!stack.empty()) {
      auto [action, outer] = stack.back();
      stack.pop_back();
      if (!action.isDictionary() || !FirstVisit(action)) continue;
      const QPDFObjGen top = TopOf(action, outer);
      Action(action, top);
      Handle next = action.getKey("/Next");
      if (next.isDictionary()) {
        stack.emplace_back(next, top);
      } else if (next.isArray()) {
        for (int i = next.getArrayNItems() - 1; i >= 0; --i) {
          stack.emplace_back(next.getArrayItem(i), top);
        }
      }
    }
  }

  void AdditionalActions(Handle actions, QPDFObjGen parentTop) {
    if (!actions.isDictionary() || !FirstVisit(actions)) return;
    const QPDFObjGen top = TopOf(actions, parentTop);
    for (const std::string& key : actions.getKeys()) Actions(actions.getKey(key), top);
  }

  // An annotation, a form field or an outline item: its action and additional actions.
  void Trigger(Handle object) {
    if (!object.isDictionary() || !FirstVisit(object)) return;
    const QPDFObjGen top = object.getObjGen();
    Actions(object.getKey("/A"), top);
    AdditionalActions(object.getKey("/AA"), top);
  }

  void Pages(Handle tree) {
    std::set<QPDFObjGen> nodes;
    std::vector<Handle> stack{tree};
    while (!stack.empty()) {
      Handle node = stack.back();
      stack.pop_back();
      if (!node.isDictionary() || (node.isIndirect() && !nodes.insert(node.getObjGen()).second)) {
        continue;
      }
      Handle kids = node.getKey("/Kids");
      if (kids.isArray()) {
        for (int i = kids.getArrayNItems() - 1; i >= 0; --i) stack.push_back(kids.getArrayItem(i));
        continue;
      }
      AdditionalActions(node.getKey("/AA"), node.getObjGen());
      Handle annotations = node.getKey("/Annots");
      if (!annotations.isArray()) continue;
      for (int i = 0, n = annotations.getArrayNItems(); i < n; ++i) {
        Trigger(annotations.getArrayItem(i));
      }
    }
  }

  void Outlines(Handle first) {
    std::set<QPDFObjGen> items;
    std::vector<Handle> stack{first};
    while (!stack.empty()) {
      Handle item = stack.back();
      stack.pop_back();
      if (!item.isDictionary() || (item.isIndirect() && !items.insert(item.getObjGen()).second)) {
        continue;
      }
      Trigger(item);
      stack.push_back(item.getKey("/Next"));
      stack.push_back(item.getKey("/First"));
    }
  }

  void Fields(Handle fields) {
    if (!fields.isArray()) return;
    std::set<QPDFObjGen> visited;
    std::vector<Handle> stack;
    for (int i = fields.getArrayNItems() - 1; i >= 0; --i) stack.push_back(fields.getArrayItem(i));
    while (!stack.empty()) {
      Handle field = stack.back();
      stack.pop_back();
      if (!field.isDictionary() ||
          (field.isIndirect() && !visited.insert(field.getObjGen()).second)) {
        continue;
      }
      if (Key(field.getKey("/V"), "/ByteRange").isArray()) result_.signedDocument = true;
      Trigger(field);
      Handle kids = field.getKey("/Kids");
      if (!kids.isArray()) continue;
      for (int i = kids.getArrayNItems() - 1; i >= 0; --i) stack.push_back(kids.getArrayItem(i));
    }
  }

  QPDF& pdf_;
  std::set<QPDFObjGen> seen_;
  std::vector<std::pair<Handle, QPDFObjGen>> pendingPlatformForms_;
  PdfLinkSurvey result_;
};

}  // namespace

PdfLinkSurvey SurveyPdfLinks(QPDF& pdf) { return Survey(pdf).Run(); }

}  // namespace quavelle::docserver
