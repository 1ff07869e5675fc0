#include "TestServices.h"

#include <QProcess>

#include <gtest/gtest.h>

#include "services/ServiceFactory.h"

namespace quavelle::test {

std::unique_ptr<Document> HookedDocumentServer::Open(const std::u16string& path) {
  opened.push_back(path);
  if (onOpen) onOpen(path);
  return real_->Open(path);
}

std::unique_ptr<Folder> HookedFileSystem::GetFolder(const std::u16string& path) {
  folders.push_back(path);
  if (onFolder) onFolder(path);
  return real_->GetFolder(path);
}

bool HookedFileSystem::DriveExists(const std::u16string& drive) {
  drivesAsked.push_back(drive);
  return real_->DriveExists(drive);
}

TestServices MakeTestServices() {
  const ServiceSource real = FactoryServices();
  auto server = std::make_shared<std::unique_ptr<HookedDocumentServer>>(
      std::make_unique<HookedDocumentServer>(real.createDocumentServer(kDocumentServerProgId)));
  auto fileSystem = std::make_shared<std::unique_ptr<HookedFileSystem>>(
      std::make_unique<HookedFileSystem>(real.createFileSystem(kFileSystemProgId)));
  TestServices made{{}, server->get(), fileSystem->get()};
  // Each object is handed over once, as the factory creates each once.
  made.source =
      ServiceSource{[server](const std::u16string&) -> std::unique_ptr<DocumentServer> {
                      return std::move(*server);
                    },
                    [fileSystem](const std::u16string&) -> std::unique_ptr<FileSystemService> {
                      return std::move(*fileSystem);
                    },
                    real.createWalkGuard};
  return made;
}

QString MakeSampleTree(const QString& folder) {
  QProcess make;
  make.start("bash", {QStringLiteral(QUAVELLE_SOURCE_DIR "/samples/make-samples.sh"), folder});
  make.waitForFinished(60000);
  EXPECT_EQ(make.exitCode(), 0) << make.readAllStandardError().toStdString();
  return QString::fromLocal8Bit(make.readAllStandardOutput()).trimmed();
}

}  // namespace quavelle::test
