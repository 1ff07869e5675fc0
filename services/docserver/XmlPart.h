#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quavelle::docserver {

struct XmlAttribute {
  std::string_view qualifiedName;  // as written: "xlink:href", "Target"
  std::string_view localName;
  std::string_view namespaceUri;  // empty for unprefixed attributes
  std::string_view value;         // unescaped
};

// One element met while walking a part; valid during the visit only.
struct XmlElement {
  std::size_t ordinal = 0;  // position among the part's elements in document order
  std::size_t depth = 0;    // 0 for the root element
  std::string_view localName;
  std::string_view namespaceUri;
  const std::vector<XmlAttribute>* attributes = nullptr;
  std::string_view text;  // the element's own first run of text, unescaped
};

// One attribute value to change, and the value it must still hold. With no
// qualified name it is the element's text, which must be its only content.
struct AttributeChange {
  std::size_t ordinal = 0;
  std::string qualifiedName;  // empty: the element's text
  std::string expected;       // unescaped
  std::string value;          // unescaped
};

enum class XmlPartUse {
  Read,     // elements only: parsed in the text's own memory
  Rewrite,  // the text is kept for WithAttributeValues
};

// One XML part of a package, parsed as it is: declaration, whitespace and
// comments kept. A part that is not well-formed (1004) or whose document type
// declaration has an internal subset (1005) is refused with an error naming the
// document and the part; a declaration that only names a DTD is kept and the
// DTD is never loaded.
class XmlPart {
 public:
  XmlPart(std::string text, std::u16string_view documentPath, std::string_view partName,
          XmlPartUse use);
  ~XmlPart();
  XmlPart(const XmlPart&) = delete;
  XmlPart& operator=(const XmlPart&) = delete;

  // Every element in document order, with namespaces resolved.
  void ForEachElement(const std::function<void(const XmlElement&)>& visit) const;

  // The part's text as read (Rewrite use only).
  const std::string& Text() const;

  // The value of each (ordinal, qualified name) as the part holds it now; an
  // empty name gives the element's text. nullopt for one that is not there.
  std::vector<std::optional<std::string>> ValuesAt(
      const std::vector<std::pair<std::size_t, std::string>>& places) const;

  // The part text with those attribute values changed and every other byte
  // kept (Rewrite use only), all in one text so that they change together.
  // Fails (1008) unless each attribute still holds its expected value.
  std::string WithAttributeValues(const std::vector<AttributeChange>& changes) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quavelle::docserver
