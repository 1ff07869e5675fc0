#include "ui/ServiceSource.h"

#include "services/ServiceFactory.h"

namespace quavelle {

ServiceSource FactoryServices() {
  return ServiceSource{
      [](const std::u16string& progId) { return CreateObjectAs<DocumentServer>(progId); },
      [](const std::u16string& progId) { return CreateObjectAs<FileSystemService>(progId); },
      [] { return CreateWalkGuard(); }};
}

}  // namespace quavelle
