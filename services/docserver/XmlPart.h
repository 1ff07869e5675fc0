#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
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
  std::string_view localName;
  std::string_view namespaceUri;
  const std::vector<XmlAttribute>* attributes = nullptr;
};

enum class XmlPartUse {
  Read,     // elements only: parsed in the text's own memory
  Rewrite,  // the text is kept for WithAttributeValue
};

// One XML part of a package, parsed as it is: declaration, whitespace and
// comments kept. A part that is not well-formed (1004) or declares a document
// type (1005) is refused with an error naming the document and the part.
class XmlPart {
 public:
  XmlPart(std::string text, std::u16string_view documentPath, std::string_view partName,
          XmlPartUse use);
  ~XmlPart();
  XmlPart(const XmlPart&) = delete;
  XmlPart& operator=(const XmlPart&) = delete;

  // Every element in document order, with namespaces resolved.
  void ForEachElement(const std::function<void(const XmlElement&)>& visit) const;

  // The part text with one attribute value changed and every other byte kept
  // (Rewrite use only).
  // Fails (1008) unless that attribute still holds expected.
  std::string WithAttributeValue(std::size_t ordinal, std::string_view qualifiedName,
                                 std::string_view expected, std::string_view value) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quavelle::docserver
