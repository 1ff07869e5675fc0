#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "services/docserver/PackageFormat.h"

namespace quavelle::docserver {

class XmlPart;

// Whether a part holds a word-processing story (body, headers, footers,
// notes, comments, the glossary; text boxes sit inside these).
bool IsStoryPart(std::string_view entryName);

// Appends the files that the fields of a story part name: simple fields
// (w:fldSimple/@w:instr) and complex ones, whose instruction is the text of
// the w:instrText and w:delInstrText runs between its begin and separate or
// end characters. An argument that a nested field computes is no link. A
// LINK field joins the object relationship that names the same file; a
// VML picture's o:href is a link of its own.
void FindFieldCodeLinks(const XmlPart& part, std::string_view entryName,
                        const std::shared_ptr<const TargetContext>& context,
                        std::vector<FoundLink>& out);

// Appends the files that one field instruction, held whole in slot, names;
// for instructions kept outside a story (a converted document's field marks).
void FindInstructionLinks(const ValueSlot& slot, std::string_view instruction,
                          std::string_view entryName,
                          const std::shared_ptr<const TargetContext>& context,
                          std::vector<FoundLink>& out);

}  // namespace quavelle::docserver
