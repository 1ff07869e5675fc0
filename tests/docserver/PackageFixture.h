#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CaughtError.h"
#include "TempFolder.h"
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

// One entry as read back: name, method, and raw (compressed) or inflated bytes.
struct RawEntry {
  std::string name;
  std::int32_t method = 0;
  std::string bytes;
  bool operator==(const RawEntry&) const = default;
};

using quavelle::testing::ErrorNumber;
using quavelle::testing::FailsNaming;
using quavelle::testing::TempFolder;

void WritePackage(const fs::path& file, const std::vector<Entry>& entries);
std::vector<RawEntry> ReadEntries(const fs::path& file, bool raw = true);
std::string ReadBytes(const fs::path& file);
std::vector<std::string> FolderListing(const fs::path& folder);  // sorted

// An Office Open XML relationships part with the given <Relationship> elements.
std::string Rels(const std::string& relationships);
// An external hyperlink relationship.
std::string Hyperlink(const std::string& id, const std::string& target);
// An OpenDocument content part with the given body.
std::string OdfContent(const std::string& body);
// A minimal package: content types or mimetype and manifest, plus extra entries.
std::vector<Entry> DocxWith(std::vector<Entry> extra);
std::vector<Entry> OdtWith(std::vector<Entry> extra);
// A word-processing package whose document links to C:\\Data\\plan.xlsx.
std::vector<Entry> LinkedWord();

std::u16string U16(const std::string& utf8);
// Every link's AbsolutePath, first to last.
std::vector<std::u16string> LinkPaths(Document& document);
std::vector<std::u16string> LinkPaths(const fs::path& file);  // through a new server
// Every link of one fresh enumeration, taken up to just before its end.
// Finish() ends the enumeration, which writes what was re-pointed.
class EnumeratedLinks {
 public:
  explicit EnumeratedLinks(Document& document);
  LinkedDocument& operator[](std::size_t index) { return *links_.at(index); }
  void Finish();

 private:
  std::unique_ptr<Collection<LinkedDocument>> collection_;
  std::unique_ptr<Enumerator<LinkedDocument>> each_;
  std::vector<std::unique_ptr<LinkedDocument>> links_;
};
// Re-points link index of a fresh enumeration and ends it.
void SetPathAt(Document& document, std::size_t index, const std::u16string& path);
// Opens the file and re-points its first link; the error number or 0.
std::int32_t SetFirstLink(const fs::path& file, const std::u16string& path);

using Edits = std::vector<std::pair<std::string, std::string>>;
// text with every occurrence of each edit's first string replaced by its second.
std::string Edited(std::string text, const Edits& edits);

// A package whose first link is re-pointed: the links it lists before, and
// every part afterwards is as it was but for the edits (each must apply).
struct PackageCase {
  std::string name;
  std::string fileName;  // its extension picks the format
  std::vector<Entry> package;
  std::vector<std::u16string> links;  // none: nothing to re-point
  std::u16string newPath;
  Edits edits;
  std::vector<std::u16string> after = {};  // empty: links with the first one moved
};
void PrintTo(const PackageCase& c, std::ostream* os);
class RepointedPackage : public ::testing::TestWithParam<PackageCase> {};
std::string CaseName(const ::testing::TestParamInfo<PackageCase>& info);

}  // namespace quavelle::docserver::testing
