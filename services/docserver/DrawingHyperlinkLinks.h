#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "services/docserver/PackageFormat.h"

namespace quavelle::docserver {

class XmlPart;

// Whether a part holds a drawing's page or master sheets.
bool IsDrawingSheetPart(std::string_view entryName);

// Appends the files named by the Address cells of the shapes' Hyperlink
// sections: the value V, and the formula F too when it is a literal string
// ("\"C:\\Data\\a.docx\""), which then moves with it. A cell whose formula is
// inherited (its master's cell is listed) or computed is no link.
void FindDrawingHyperlinkLinks(const XmlPart& part,
                               const std::shared_ptr<const TargetContext>& context,
                               std::vector<FoundLink>& out);

// The text of a formula that is one string literal ("\"a\"\"b\"" -> a"b), or
// nullopt for any other formula.
std::optional<std::string> FormulaStringLiteral(std::string_view formula);

}  // namespace quavelle::docserver
