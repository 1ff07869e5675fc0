#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "services/DocumentServer.h"

// Test helpers: real zip packages built from a few XML strings, a temporary
// folder removed with everything in it, and calls through the server contract.
namespace quavelle::docserver::testing {

namespace fs = std::filesystem;

struct Entry {
  std::string name;
  std::string data;
  bool stored = false;  // written without compression
};

// One entry as it sits in a package: name, method and raw (compressed) bytes.
struct RawEntry {
  std::string name;
  std::int32_t method = 0;
  std::string compressed;
  bool operator==(const RawEntry&) const = default;
};

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

void WritePackage(const fs::path& file, const std::vector<Entry>& entries);
std::vector<RawEntry> ReadRawEntries(const fs::path& file);
// The inflated data of one entry; fails the test when it is missing.
std::string ReadEntry(const fs::path& file, const std::string& name);

std::string ReadBytes(const fs::path& file);
void WriteBytes(const fs::path& file, const std::string& bytes);
// Names in the folder, sorted.
std::vector<std::string> FolderListing(const fs::path& folder);

// Office Open XML relationships part with the given <Relationship> elements.
std::string Rels(const std::string& relationships);
// An OpenDocument text content part with the given body.
std::string OdfContent(const std::string& body);
// A minimal package: content types or mimetype and manifest, plus extra entries.
std::vector<Entry> DocxWith(std::vector<Entry> extra);
std::vector<Entry> OdtWith(std::vector<Entry> extra);
// A word-processing package whose document links to C:\\Data\\plan.xlsx.
std::vector<Entry> LinkedWord();
// The bytes WritePackage gives for these entries.
std::string PackageBytes(const std::vector<Entry>& entries);

std::u16string U16(const std::string& utf8);
// Every link's AbsolutePath, first to last.
std::vector<std::u16string> LinkPaths(Document& document);
std::vector<std::u16string> LinkPaths(DocumentServer& server, const fs::path& file);
// The link at position index (0-based) of a fresh enumeration.
std::unique_ptr<LinkedDocument> LinkAt(Document& document, std::size_t index);
// The ServiceError number that call throws, or 0 when it does not throw.
std::int32_t ErrorNumber(const std::function<void()>& call);
// Open followed by LinkedDocuments: the number either one fails with, or 0.
std::int32_t OpenAndListError(DocumentServer& server, const fs::path& file);
// Opens the file and re-points its first link; the error number or 0.
std::int32_t SetFirstLink(const fs::path& file, const std::u16string& path);

}  // namespace quavelle::docserver::testing
