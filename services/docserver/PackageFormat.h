#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "services/docserver/LinkTarget.h"

namespace quavelle::docserver {

class XmlPart;
class ZipArchive;
struct AttributeChange;

// A link found in a part: where it sits and what it says.
struct FoundLink {
  std::size_t elementOrdinal = 0;
  std::string attributeName;                     // qualified, as written in the part
  std::string storedValue;                       // unescaped UTF-8, as found
  std::shared_ptr<const TargetContext> context;  // one per part
  LinkTarget target;
};

// What one package format keeps where: the parts that hold links, the parts
// that sign it, and the links of a parsed part.
class PackageFormat {
 public:
  virtual ~PackageFormat() = default;
  virtual bool IsLinkPart(std::string_view entryName) const = 0;
  virtual bool IsSignaturePart(std::string_view entryName) const = 0;
  // An entry that only an encrypted package has.
  virtual bool IsEncryptionPart(std::string_view /*entryName*/) const { return false; }
  // Whether the package says its parts are encrypted; asked only once a
  // link-bearing part failed to read.
  virtual bool DeclaresEncryption(const ZipArchive& /*zip*/, std::uint64_t /*limit*/) const {
    return false;
  }
  // Appends the part's links to other files, in document order.
  virtual void FindLinks(const XmlPart& part, std::string_view entryName,
                         const std::u16string& documentPath, std::vector<FoundLink>& out) const = 0;
  // Appends the other values of the part that name link's file and must be
  // written together with it when it becomes newStored; none by default.
  virtual void DependentChanges(const XmlPart& /*part*/, const FoundLink& /*link*/,
                                std::string_view /*newStored*/,
                                std::vector<AttributeChange>& /*out*/) const {}
};

// The format a file name's extension announces (case ignored), or nullptr for
// a file that is no package. Reads nothing from disk.
std::unique_ptr<PackageFormat> PackageFormatForFileName(std::u16string_view path);

// Helpers shared by the formats.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
bool EndsWithIgnoringAsciiCase(std::string_view text, std::string_view tail);

}  // namespace quavelle::docserver
