#pragma once

#include <memory>
#include <string>

#include "services/docserver/DocumentContent.h"

namespace quavelle::docserver {

// A PDF file seen as the files its actions name (see PdfLinkPlaces.h for where
// and PdfFileName.h for how). Re-pointings are written as an update appended
// to the file, so every byte of the original stays the prefix of the new file.
// Signed and encrypted files are listed but refused on Repoint.
std::unique_ptr<DocumentContent> CreatePdfContent(std::u16string documentPath);

}  // namespace quavelle::docserver
