#include "services/docserver/XmlPart.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "services/Text.h"
#include "services/docserver/DocServerErrors.h"

namespace quavelle::docserver {
namespace {

// Keeps the declaration, comments, processing instructions and whitespace-only
// text; parses a DOCTYPE only to refuse it.
constexpr unsigned kRewriteFlags = pugi::parse_full | pugi::parse_ws_pcdata;
// Reading needs the elements and their attribute values, read exactly as
// above; text goes into its element instead of a node of its own, and the
// rest is checked but not kept.
constexpr unsigned kReadFlags = pugi::parse_doctype | pugi::parse_escapes |
                                pugi::parse_wconv_attribute | pugi::parse_eol |
                                pugi::parse_embed_pcdata | pugi::parse_ws_pcdata_single;

constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";

std::u16string Where(std::u16string_view documentPath, std::string_view partName) {
  return u"'" + std::u16string(documentPath) + u"': part '" + FromUtf8(partName) + u"'";
}

// Whether a DOCTYPE's text ("name PUBLIC 'id' 'uri' [...]") declares anything
// itself: an internal subset can define entities, which would give text a
// meaning this reader does not see. Without one it only names a DTD, which is
// never loaded.
bool HasInternalSubset(std::string_view doctype) {
  char quote = 0;
  for (char c : doctype) {
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '[') {
      return true;
    }
  }
  return false;
}

// Reading parses in place: pugixml decodes into text itself, which must then
// outlive doc. Rewriting keeps the text as read and parses a copy.
void Parse(pugi::xml_document& doc, std::string& text, bool inPlace, pugi::xml_encoding& encoding,
           std::u16string_view documentPath, std::string_view partName) {
  pugi::xml_parse_result result =
      inPlace ? doc.load_buffer_inplace(text.data(), text.size(), kReadFlags, pugi::encoding_auto)
              : doc.load_buffer(text.data(), text.size(), kRewriteFlags, pugi::encoding_auto);
  if (!result) {
    throw ServiceError(error_number::kMalformedPart,
                       u"Cannot read " + Where(documentPath, partName) +
                           u" is not well-formed XML (" +
                           FromUtf8(std::string_view(result.description())) + u" at byte " +
                           FromUtf8(std::string_view(std::to_string(result.offset))) + u")");
  }
  for (pugi::xml_node node : doc.children()) {
    if (node.type() == pugi::node_doctype && HasInternalSubset(node.value())) {
      throw ServiceError(
          error_number::kDocTypeInPart,
          u"Cannot read " + Where(documentPath, partName) + u" declares entities of its own");
    }
  }
  encoding = result.encoding;
}

std::string_view Prefix(std::string_view qname) {
  std::size_t colon = qname.find(':');
  return colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon);
}

std::string_view Local(std::string_view qname) {
  std::size_t colon = qname.find(':');
  return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

// Walks elements in document order with their in-scope namespace bindings.
class ElementWalker : public pugi::xml_tree_walker {
 public:
  explicit ElementWalker(const std::function<void(const XmlElement&)>& visit) : visit_(visit) {}

  bool for_each(pugi::xml_node& node) override {
    if (node.type() != pugi::node_element) return true;
    const std::size_t d = static_cast<std::size_t>(depth());
    while (!bindings_.empty() && bindings_.back().depth >= d) bindings_.pop_back();
    attributes_.clear();
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
      std::string_view name = a.name();
      std::string_view value = a.value();
      if (name == "xmlns") bindings_.push_back({d, "", value});
      if (name.starts_with("xmlns:")) bindings_.push_back({d, name.substr(6), value});
      attributes_.push_back({name, Local(name), {}, value});
    }
    // Once the element's own declarations are known.
    for (XmlAttribute& attribute : attributes_) {
      std::string_view prefix = Prefix(attribute.qualifiedName);
      if (!prefix.empty()) attribute.namespaceUri = Resolve(prefix);
    }
    XmlElement element;
    element.ordinal = ordinal_++;
    element.depth = d;
    element.localName = Local(node.name());
    element.namespaceUri = Resolve(Prefix(node.name()));
    element.attributes = &attributes_;
    element.text = node.text().get();
    visit_(element);
    return true;
  }

 private:
  struct Binding {
    std::size_t depth;
    std::string_view prefix;
    std::string_view uri;
  };

  std::string_view Resolve(std::string_view prefix) const {
    if (prefix == "xml") return kXmlNamespace;
    for (auto it = bindings_.rbegin(); it != bindings_.rend(); ++it) {
      if (it->prefix == prefix) return it->uri;
    }
    return {};
  }

  const std::function<void(const XmlElement&)>& visit_;
  std::vector<Binding> bindings_;
  std::vector<XmlAttribute> attributes_;
  std::size_t ordinal_ = 0;
};

// The elements at the wanted ordinals (sorted, distinct), found in one walk.
class ElementCollector : public pugi::xml_tree_walker {
 public:
  explicit ElementCollector(const std::vector<std::size_t>& wanted)
      : found(wanted.size()), wanted_(wanted) {}
  bool for_each(pugi::xml_node& node) override {
    if (node.type() != pugi::node_element) return true;
    if (next_ < wanted_.size() && seen_ == wanted_[next_]) found[next_++] = node;
    ++seen_;
    return next_ < wanted_.size();
  }
  std::vector<pugi::xml_node> found;

 private:
  const std::vector<std::size_t>& wanted_;
  std::size_t seen_ = 0;
  std::size_t next_ = 0;
};

struct Located {
  pugi::xml_node element;
  pugi::xml_attribute attribute;  // null when the element lacks it
  bool text = false;              // the change is to the element's text
  bool hasText = false;           // the element holds text only (or nothing)

  std::string Value() const {
    if (text) return element.first_child() ? element.first_child().value() : "";
    return attribute.value();
  }
  bool Exists() const { return text ? hasText : static_cast<bool>(attribute); }
};

// Whether an element's content is one run of text or nothing, as a text change needs.
bool HoldsTextOnly(pugi::xml_node element) {
  pugi::xml_node child = element.first_child();
  return !child || (child.type() == pugi::node_pcdata && !child.next_sibling());
}

// Each change's element and attribute in doc, in the order of changes.
std::vector<Located> Locate(pugi::xml_document& doc, const std::vector<AttributeChange>& changes) {
  std::vector<std::size_t> ordinals;
  for (const AttributeChange& change : changes) ordinals.push_back(change.ordinal);
  std::ranges::sort(ordinals);
  ordinals.erase(std::unique(ordinals.begin(), ordinals.end()), ordinals.end());
  ElementCollector collector(ordinals);
  doc.traverse(collector);
  std::vector<Located> out;
  out.reserve(changes.size());
  for (const AttributeChange& change : changes) {
    auto at = static_cast<std::size_t>(std::ranges::lower_bound(ordinals, change.ordinal) -
                                       ordinals.begin());
    Located located{collector.found[at], {}};
    if (change.qualifiedName.empty()) {
      located.text = true;
      located.hasText = located.element && HoldsTextOnly(located.element);
      out.push_back(located);
      continue;
    }
    for (pugi::xml_attribute a : located.element.attributes()) {
      if (change.qualifiedName == a.name()) {
        located.attribute = a;
        break;
      }
    }
    out.push_back(located);
  }
  return out;
}

// The value as markup: in an attribute delimited by quote, or, with no quote,
// as element text, where tabs and line feeds stand as they are.
std::string Escape(std::string_view value, char quote) {
  const bool attribute = quote != '\0';
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += quote == '"' ? "&quot;" : "\"";
        break;
      case '\'':
        out += quote == '\'' ? "&apos;" : "'";
        break;
      case '\t':
        out += attribute ? "&#9;" : "\t";
        break;
      case '\n':
        out += attribute ? "&#10;" : "\n";
        break;
      case '\r':
        out += "&#13;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The byte range of an attribute's value (between its quotes) in the start tag
// whose name begins at nameOffset; npos when the text is not as expected.
std::pair<std::size_t, std::size_t> ValueRange(const std::string& text, std::size_t nameOffset,
                                               std::string_view elementName,
                                               std::string_view qualifiedName) {
  constexpr auto kNone = std::pair{std::string::npos, std::string::npos};
  if (text.compare(nameOffset, elementName.size(), elementName) != 0) return kNone;
  std::size_t p = nameOffset + elementName.size();
  while (p < text.size()) {
    while (p < text.size() && IsSpace(text[p])) ++p;
    if (p >= text.size() || text[p] == '>' || text[p] == '/') return kNone;
    std::size_t nameStart = p;
    while (p < text.size() && !IsSpace(text[p]) && text[p] != '=') ++p;
    std::string_view name(text.data() + nameStart, p - nameStart);
    while (p < text.size() && IsSpace(text[p])) ++p;
    if (p >= text.size() || text[p] != '=') return kNone;
    ++p;
    while (p < text.size() && IsSpace(text[p])) ++p;
    if (p >= text.size() || (text[p] != '"' && text[p] != '\'')) return kNone;
    char quote = text[p++];
    std::size_t end = text.find(quote, p);
    if (end == std::string::npos) return kNone;
    if (name == qualifiedName) return {p, end};
    p = end + 1;
  }
  return kNone;
}

// The byte range of the text of the element whose name begins at nameOffset,
// between its start and end tags; npos when the text is not as expected.
std::pair<std::size_t, std::size_t> TextRange(const std::string& text, std::size_t nameOffset,
                                              std::string_view elementName) {
  constexpr auto kNone = std::pair{std::string::npos, std::string::npos};
  if (text.compare(nameOffset, elementName.size(), elementName) != 0) return kNone;
  std::size_t p = nameOffset + elementName.size();
  char quote = 0;
  for (; p < text.size(); ++p) {
    if (quote != 0) {
      if (text[p] == quote) quote = 0;
    } else if (text[p] == '"' || text[p] == '\'') {
      quote = text[p];
    } else if (text[p] == '>') {
      break;
    }
  }
  if (p >= text.size() || text[p - 1] == '/') return kNone;
  const std::size_t begin = p + 1;
  const std::size_t end = text.find('<', begin);
  if (end == std::string::npos || text.compare(end, 2, "</") != 0) return kNone;
  return {begin, end};
}

struct StringWriter : pugi::xml_writer {
  std::string out;
  void write(const void* data, size_t size) override {
    out.append(static_cast<const char*>(data), size);
  }
};

}  // namespace

struct XmlPart::Impl {
  std::string text;  // as read, unless parsed in place
  bool keepsText = false;
  std::u16string documentPath;
  std::string partName;
  pugi::xml_document doc;
  pugi::xml_encoding encoding = pugi::encoding_auto;
};

XmlPart::XmlPart(std::string text, std::u16string_view documentPath, std::string_view partName,
                 XmlPartUse use)
    : impl_(std::make_unique<Impl>()) {
  impl_->text = std::move(text);
  impl_->keepsText = use == XmlPartUse::Rewrite;
  impl_->documentPath = documentPath;
  impl_->partName = partName;
  Parse(impl_->doc, impl_->text, !impl_->keepsText, impl_->encoding, documentPath, partName);
}

XmlPart::~XmlPart() = default;

void XmlPart::ForEachElement(const std::function<void(const XmlElement&)>& visit) const {
  ElementWalker walker(visit);
  impl_->doc.traverse(walker);
}

const std::string& XmlPart::Text() const {
  if (!impl_->keepsText) throw std::logic_error("XmlPart: parsed for reading only");
  return impl_->text;
}

std::vector<std::optional<std::string>> XmlPart::ValuesAt(
    const std::vector<std::pair<std::size_t, std::string>>& places) const {
  std::vector<AttributeChange> asked;
  asked.reserve(places.size());
  for (const auto& [ordinal, name] : places) asked.push_back({ordinal, name, {}, {}});
  std::vector<std::optional<std::string>> out;
  for (const Located& located : Locate(impl_->doc, asked)) {
    if (located.element && located.Exists()) {
      out.emplace_back(located.Value());
    } else {
      out.emplace_back();
    }
  }
  return out;
}

std::string XmlPart::WithAttributeValues(const std::vector<AttributeChange>& changes) const {
  Impl& m = *impl_;
  if (!m.keepsText) throw std::logic_error("XmlPart: parsed for reading only");
  if (changes.empty()) throw std::logic_error("XmlPart: no change asked for");
  for (std::size_t i = 0; i < changes.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (changes[i].ordinal == changes[j].ordinal &&
          changes[i].qualifiedName == changes[j].qualifiedName) {
        throw std::logic_error("XmlPart: one attribute changed twice");
      }
    }
  }
  const std::vector<Located> located = Locate(m.doc, changes);
  for (std::size_t i = 0; i < changes.size(); ++i) {
    if (!located[i].Exists() || changes[i].expected != located[i].Value()) {
      throw ServiceError(error_number::kDocumentChanged,
                         u"Cannot change " + Where(m.documentPath, m.partName) +
                             u": the link is no longer as it was when the document was opened");
    }
  }

  struct Splice {
    std::size_t begin;
    std::size_t end;
    const std::string* value;
    bool text;
  };
  std::vector<Splice> splices;
  bool spliceable = m.encoding == pugi::encoding_utf8;
  for (std::size_t i = 0; spliceable && i < changes.size(); ++i) {
    std::ptrdiff_t offset = located[i].element.offset_debug();
    if (offset < 0) {
      spliceable = false;
      break;
    }
    auto [begin, end] =
        located[i].text
            ? TextRange(m.text, static_cast<std::size_t>(offset), located[i].element.name())
            : ValueRange(m.text, static_cast<std::size_t>(offset), located[i].element.name(),
                         changes[i].qualifiedName);
    spliceable = begin != std::string::npos;
    splices.push_back({begin, end, &changes[i].value, located[i].text});
  }

  std::string result;
  if (spliceable) {
    // Splice only the values' bytes: every other byte of the part stays.
    std::ranges::sort(splices, {}, &Splice::begin);
    std::size_t size = m.text.size();
    for (const Splice& splice : splices) size += splice.value->size();
    result.reserve(size);
    std::size_t at = 0;
    for (const Splice& splice : splices) {
      result.append(m.text, at, splice.begin - at);
      result += Escape(*splice.value, splice.text ? '\0' : m.text[splice.begin - 1]);
      at = splice.end;
    }
    result.append(m.text, at, std::string::npos);
  } else {
    // Another encoding: an equivalent serialisation of the whole part.
    pugi::xml_document copy;
    pugi::xml_encoding encoding;
    Parse(copy, m.text, false, encoding, m.documentPath, m.partName);
    std::vector<Located> inCopy = Locate(copy, changes);
    for (std::size_t i = 0; i < changes.size(); ++i) {
      if (!inCopy[i].text) {
        inCopy[i].attribute.set_value(changes[i].value.c_str());
      } else if (pugi::xml_node child = inCopy[i].element.first_child()) {
        child.set_value(changes[i].value.c_str());
      } else {
        inCopy[i].element.append_child(pugi::node_pcdata).set_value(changes[i].value.c_str());
      }
    }
    StringWriter writer;
    unsigned flags = pugi::format_raw | pugi::format_no_declaration;
    if (encoding != pugi::encoding_utf8) flags |= pugi::format_write_bom;
    copy.save(writer, "", flags, encoding);
    result = std::move(writer.out);
  }

  // The new text must read back with exactly those values changed.
  pugi::xml_document check;
  pugi::xml_encoding checkEncoding;
  Parse(check, result, false, checkEncoding, m.documentPath, m.partName);
  const std::vector<Located> readBack = Locate(check, changes);
  for (std::size_t i = 0; i < changes.size(); ++i) {
    if (!readBack[i].Exists() || changes[i].value != readBack[i].Value()) {
      throw ServiceError(error_number::kMalformedPart,
                         u"Cannot change " + Where(m.documentPath, m.partName) +
                             u": the rewritten part does not read back as written");
    }
  }
  return result;
}

}  // namespace quavelle::docserver
