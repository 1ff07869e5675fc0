#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "services/docserver/PackageFormat.h"

namespace quavelle::docserver {

class XmlPart;

bool IsSpreadsheetConnectionsPart(std::string_view entryName);

// Appends the files a workbook's data connections read: a connection's
// sourceFile and the files its OLE DB or ODBC connection string names (one
// link when they are one file, the rest of the string kept byte for byte),
// the .odc file it was made from, a text import's file and a web query whose
// address is a file. Queries kept as data mashups are left alone.
void FindSpreadsheetConnectionLinks(const XmlPart& part,
                                    const std::shared_ptr<const TargetContext>& context,
                                    std::vector<FoundLink>& out);

}  // namespace quavelle::docserver
