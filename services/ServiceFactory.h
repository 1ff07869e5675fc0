#pragma once

#include <memory>
#include <string>
#include <variant>

#include "services/DocumentServer.h"
#include "services/FileSystemService.h"
#include "services/WalkGuard.h"

namespace quavelle {

inline constexpr char16_t kDocumentServerProgId[] = u"Morvane.Application";
inline constexpr char16_t kFileSystemProgId[] = u"Scripting.FileSystemObject";

using ServiceObject =
    std::variant<std::unique_ptr<DocumentServer>, std::unique_ptr<FileSystemService>>;

// Creates a service object from its programmatic identifier: through automation
// on Windows, the built-in implementations elsewhere. Throws ServiceError (429)
// for an identifier it does not know or an object it cannot create.
ServiceObject CreateObject(const std::u16string& progId);

// CreateObject, as the contract the caller expects; 13 (type mismatch) otherwise.
template <class Contract>
std::unique_ptr<Contract> CreateObjectAs(const std::u16string& progId);

// Prepares the process for the services; call once at start, before threads.
void PrepareProcessForServices();

// A fresh record of visited folders and files for one run.
std::unique_ptr<WalkGuard> CreateWalkGuard();

}  // namespace quavelle
