#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "services/docserver/DocumentContent.h"

// The binary office formats kept in compound files, chosen by name or content.
namespace quavelle::docserver {

// Whether fd starts with the compound file signature (also for a compound
// file saved under an Office Open XML name); declared with the reader.
bool IsCompoundFile(int fd);

// The content for a legacy binary file named with ext (".xls", ".XLT", ...);
// nullptr when the extension is no binary office format.
std::unique_ptr<DocumentContent> LegacyContentForExtension(std::u16string_view ext,
                                                           const std::u16string& path);

// The content for a compound file, chosen by the streams it holds; a compound
// file of no known kind is a document without links. Reads fd's directory;
// a damaged one fails with 1003 naming path.
std::unique_ptr<DocumentContent> LegacyContentForBytes(int fd, const std::u16string& path);

}  // namespace quavelle::docserver
