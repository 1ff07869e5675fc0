#pragma once

#include <string>

#include "core/RunContext.h"

// Re-pointing the links of one document and walking a folder tree. Nothing here
// catches a ServiceError: it reaches the caller with the service's number and
// description. Documents finished before it stay re-pointed and listed; the
// rows of the document it stops are not listed.
namespace quavelle {

// Opens the file through the document server and re-points every link whose
// drive name contains ctx.OldDrive; lists them once the enumeration has ended.
void ProcessFile(RunContext& ctx, const std::u16string& path);

// ProcessFile for each file of the folder, then ProcessFolder for each subfolder,
// in the service's order; a folder or file already met in this run is passed over.
void ProcessFolder(RunContext& ctx, const std::u16string& path);

}  // namespace quavelle
