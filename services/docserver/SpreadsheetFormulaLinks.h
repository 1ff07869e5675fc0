#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "services/docserver/PackageFormat.h"

namespace quavelle::docserver {

class XmlPart;

bool IsWorksheetPart(std::string_view entryName);

// Appends the workbooks that cell formulas (<f>) name by path rather than
// through an external-link part: "'C:\Data\[plan.xlsx]Sheet1'!A1" or
// "'file:///C:/Data/[plan.xlsx]Sheet1'!A1". One place per formula; they join
// when they name one file. "[1]Sheet1!A1" names an external-link part, whose
// relationship is the link.
void FindSpreadsheetFormulaLinks(const XmlPart& part,
                                 const std::shared_ptr<const TargetContext>& context,
                                 std::vector<FoundLink>& out);

}  // namespace quavelle::docserver
