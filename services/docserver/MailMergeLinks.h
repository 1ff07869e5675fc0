#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "services/docserver/PackageFormat.h"

namespace quavelle::docserver {

class XmlPart;

bool IsWordSettingsPart(std::string_view entryName);

// Appends the data files a mail merge reads, as its settings name them: the
// connection string (w:connectString, w:udl) and the query (w:query). They
// join the data source and header source relationships that name the same file.
void FindMailMergeLinks(const XmlPart& part, std::string_view entryName,
                        const std::shared_ptr<const TargetContext>& context,
                        std::vector<FoundLink>& out);

// Where each full path (drive, share) starts and ends in a query's text: in
// quotes, back quotes or brackets up to the closing one, otherwise up to
// white space. Pairs of byte offsets.
std::vector<std::pair<std::size_t, std::size_t>> PathsInQuery(std::string_view query);

}  // namespace quavelle::docserver
