#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "services/docserver/LinkTarget.h"

namespace quavelle::docserver {

class XmlPart;
class ZipArchive;
struct AttributeChange;

// One stored value of a part: an attribute, or with no attribute name the
// element's text.
struct ValueSlot {
  std::size_t ordinal = 0;
  std::string attributeName;  // qualified, as written; empty for the element's text
  std::string found;          // the value when the part was read
};

// The new values of a place's slots that store oldReference, so that they
// store newReference, worked out from the values they hold now (another link
// may have changed them before); nullopt when they no longer hold oldReference.
using PlaceWriter = std::function<std::optional<std::vector<std::string>>(
    const std::vector<std::string>& current, std::string_view oldReference,
    std::string_view newReference)>;

// Another place of the package that stores a link's file, in its own form, and
// must move with it: the same file in a field code and in a relationship.
struct LinkPlace {
  std::string entryName;  // the part that holds it
  std::vector<ValueSlot> slots;
  PlaceWriter write;                             // empty: one slot that holds the reference
  std::string storedValue;                       // the reference as found, UTF-8
  std::shared_ptr<const TargetContext> context;  // how the reference is read
  LinkTarget target;
};

// A link found in a part: where it sits and what it says. Its own place is
// the attribute named, or, when write is set, the slots.
struct FoundLink {
  std::size_t elementOrdinal = 0;
  std::string attributeName;                     // qualified, as written in the part
  std::string storedValue;                       // unescaped UTF-8, as found
  std::shared_ptr<const TargetContext> context;  // one per part
  LinkTarget target;
  std::vector<ValueSlot> slots;       // with write: the values that hold the reference
  PlaceWriter write;                  // how the reference is written into them
  std::vector<LinkPlace> companions;  // other places that store the same file
  // Links with one join key that name one file are one link: the ones marked
  // as companions join the first that is not (or the first of them).
  std::string joinKey;
  bool joinsAsCompanion = false;
};

// A link whose place is slots written by write.
FoundLink SlotLink(std::vector<ValueSlot> slots, PlaceWriter write, std::string_view stored,
                   std::shared_ptr<const TargetContext> context, LinkTarget target);

// Joins, in place, the links of one join key that name one file (see
// FoundLink::joinKey); entryNames holds each link's part and is kept in step.
void JoinLinksByKey(std::vector<FoundLink>& links, std::vector<std::string>& entryNames);

// A link whose one place is an attribute that holds the reference as it is.
inline FoundLink AttributeLink(std::size_t ordinal, std::string_view attributeName,
                               std::string_view value, std::shared_ptr<const TargetContext> context,
                               LinkTarget target) {
  FoundLink link;
  link.elementOrdinal = ordinal;
  link.attributeName = attributeName;
  link.storedValue = value;
  link.context = std::move(context);
  link.target = std::move(target);
  return link;
}

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
  // Whether a link part's text is worth parsing: false only when it surely
  // holds no link (a large worksheet whose formulas name no workbook by path).
  virtual bool MayHoldLinks(std::string_view /*entryName*/, std::string_view /*text*/) const {
    return true;
  }
  // Appends the part's links to other files, in document order.
  virtual void FindLinks(const XmlPart& part, std::string_view entryName,
                         const std::u16string& documentPath, std::vector<FoundLink>& out) const = 0;
  // Joins links that are one file stored in several places (a field code and
  // its object's relationship) into the first of them, as companions; called
  // once all parts are read, with each link's part.
  virtual void JoinCompanions(std::vector<FoundLink>& /*links*/,
                              std::vector<std::string>& /*entryNames*/) const {}
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
