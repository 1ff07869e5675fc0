#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "services/docserver/ServerOptions.h"
#include "services/docserver/ZipDirectory.h"

namespace quavelle::docserver {

// Writes to outFd (empty, at offset 0) the package read from inFd (size
// bytes), with the data of the entries in replacements (by directory index)
// replaced by the given uncompressed data. Everything else is copied as byte
// ranges in the kernel: the bytes before the first entry, every other entry's
// header, data and data descriptor, and the archive comment; the directory
// records change only where an entry moved. Entries are written in the order
// their data lies in the file, whatever the directory's order.
//
// A replaced entry keeps its name, extra fields and timestamp; a stored one
// stays stored, any other is deflated. Encrypted entries, and entries in
// another method, cannot be replaced (1003). Every write goes through
// faultHook as one ReplaceStep::Write; failures name displayPath.
void WritePackageReplacing(int inFd, std::uint64_t size,
                           const std::map<std::uint64_t, std::string>& replacements, int outFd,
                           const FaultHook& faultHook, const std::u16string& displayPath);

// The same over a directory already read from inFd.
void WritePackageReplacing(const ZipDirectory& directory, int inFd, std::uint64_t size,
                           const std::map<std::uint64_t, std::string>& replacements, int outFd,
                           const FaultHook& faultHook, const std::u16string& displayPath);

}  // namespace quavelle::docserver
