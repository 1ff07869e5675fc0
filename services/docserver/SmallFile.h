#pragma once

#include <cstdint>
#include <string>

namespace quavelle::docserver {

class DocumentFile;

// The whole content of a file that is read at once; a file over maxSize bytes
// fails with 1003, as no such file of its kind is that large.
std::string ReadSmallFile(const DocumentFile& file, std::uint64_t maxSize,
                          const std::u16string& document);

}  // namespace quavelle::docserver
