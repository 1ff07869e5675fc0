#pragma once

#include <string>
#include <vector>

// Small PDFs written from their objects as text.
namespace quavelle::docserver::testing {

// A PDF with objects numbered from 1 in the order given, a cross-reference
// table with their offsets and a trailer whose /Root is object 1.
std::string PdfFromObjects(const std::vector<std::string>& objects);
// A one-page PDF: catalog entries, the page's /Annots array content, and more
// objects numbered from 4 (1 catalog, 2 page tree, 3 page).
std::string OnePagePdf(const std::string& catalogExtra, const std::string& annots,
                       const std::vector<std::string>& more = {});
// A link annotation whose action is the given dictionary.
std::string LinkAnnotation(const std::string& action);

}  // namespace quavelle::docserver::testing
