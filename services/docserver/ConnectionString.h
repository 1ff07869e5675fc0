#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "services/docserver/PackageFormat.h"

// OLE DB and ODBC connection strings: "key=value;" pairs whose values may be
// quoted ("Extended Properties=\"Sheet 12.0;HDR=YES\""). Only the values that
// name files are of interest; the rest is kept byte for byte.
namespace quavelle::docserver {

struct ConnectionValue {
  std::size_t begin = 0;  // the value's bytes as written, quotes included
  std::size_t end = 0;
  std::string key;    // as written, trimmed
  std::string value;  // unquoted
  char quote = 0;     // '"', '\'' or 0
};

std::vector<ConnectionValue> ParseConnectionString(std::string_view text);

// Whether the key names a file or folder: Data Source, DBQ, DefaultDir,
// Jet OLEDB:System database, Jet OLEDB:Database, AttachDbFilename (case ignored).
bool IsFileKey(std::string_view key);

// text with the value at valueIndex written as newValue, quoted as it was, or
// with '"' when it must be; nothing else changes.
std::string WithConnectionValue(std::string_view text, const ConnectionValue& value,
                                std::string_view newValue);

// Whether text names a file by a full path: a drive, a share or a file URL.
// A database server's name ("sql01") or "$Workbook$" does not.
bool NamesFileByFullPath(std::string_view text);

// Writes a file into value index of the connection string that a place's one
// slot holds.
PlaceWriter ConnectionValueWriter(std::size_t index);

// The links of a connection string held in one slot: one per value that
// names a file by a full path under a file key, each with joinKey.
void FindConnectionLinks(std::string_view text, const ValueSlot& slot,
                         const std::shared_ptr<const TargetContext>& context,
                         const std::string& joinKey, std::vector<FoundLink>& out);

}  // namespace quavelle::docserver
