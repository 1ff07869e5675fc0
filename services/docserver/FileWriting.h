#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "services/docserver/ServerOptions.h"

// Writing a new file's bytes: each call is one ReplaceStep::Write for the fault
// hook, and fails with a ServiceError naming displayPath.
namespace quavelle::docserver {

void WriteAll(int fd, std::string_view bytes, const FaultHook& faultHook,
              const std::u16string& displayPath);

// Copies length bytes at offset of inFd to the current end of outFd, in the
// kernel where it can.
void CopyRange(int inFd, std::uint64_t offset, std::uint64_t length, int outFd,
               const FaultHook& faultHook, const std::u16string& displayPath);

// Reads length bytes at offset; fewer only at the end of the file.
std::string ReadRange(int fd, std::uint64_t offset, std::uint64_t length,
                      const std::u16string& displayPath);

}  // namespace quavelle::docserver
