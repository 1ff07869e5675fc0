#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "services/DocumentServer.h"

// Calls through the document server contract, as the folder walk makes them.
namespace quavelle::docserver::testing {

std::u16string U16(const std::string& utf8);
std::string U8(const std::u16string& text);

// Every link's AbsolutePath, first to last.
std::vector<std::u16string> LinkPaths(Document& document);
std::vector<std::u16string> LinkPaths(DocumentServer& server, const std::string& path);
// The link at position index (0-based) of a fresh enumeration.
std::unique_ptr<LinkedDocument> LinkAt(Document& document, std::size_t index);

// The ServiceError number that call throws, or 0 when it does not throw.
std::int32_t ErrorNumber(const std::function<void()>& call);
// Open followed by LinkedDocuments: the number either one fails with, or 0.
std::int32_t OpenAndListError(DocumentServer& server, const std::string& path);

}  // namespace quavelle::docserver::testing
