#include "services/ServiceFactory.h"

#include <algorithm>

#include "services/ServiceError.h"
#include "services/Text.h"

#ifdef _WIN32
#include "services/automation/AutomationServices.h"
#else
#include "services/docserver/BuiltinDocumentServer.h"
#include "services/docserver/ProcessTuning.h"
#include "services/filesystem/LocalFileSystem.h"
#include "services/filesystem/LocalWalkGuard.h"
#endif

namespace quavelle {
namespace {

// Programmatic identifiers compare without regard to case, as the registry does.
bool SameProgId(std::u16string_view a, std::u16string_view b) {
  return std::ranges::equal(a, b,
                            [](char16_t x, char16_t y) { return FoldCase(x) == FoldCase(y); });
}

}  // namespace

ServiceObject CreateObject(const std::u16string& progId) {
#ifdef _WIN32
  if (SameProgId(progId, kFileSystemProgId)) return CreateAutomationFileSystem(progId);
  return CreateAutomationDocumentServer(progId);
#else
  if (SameProgId(progId, kDocumentServerProgId)) return CreateBuiltinDocumentServer();
  if (SameProgId(progId, kFileSystemProgId)) return CreateLocalFileSystem();
  throw ServiceError(error_number::kCannotCreateObject,
                     u"Cannot create object '" + progId + u"': no such programmatic identifier");
#endif
}

template <class Contract>
std::unique_ptr<Contract> CreateObjectAs(const std::u16string& progId) {
  ServiceObject object = CreateObject(progId);
  if (auto* wanted = std::get_if<std::unique_ptr<Contract>>(&object)) return std::move(*wanted);
  throw ServiceError(error_number::kTypeMismatch,
                     u"Type mismatch: '" + progId + u"' is not the service expected here");
}

template std::unique_ptr<DocumentServer> CreateObjectAs<DocumentServer>(const std::u16string&);
template std::unique_ptr<FileSystemService> CreateObjectAs<FileSystemService>(
    const std::u16string&);

void PrepareProcessForServices() {
#ifndef _WIN32
  docserver::TuneProcessForPackages();
#endif
}

std::unique_ptr<WalkGuard> CreateWalkGuard() {
#ifdef _WIN32
  return CreateAutomationWalkGuard();
#else
  return CreateLocalWalkGuard();
#endif
}

}  // namespace quavelle
