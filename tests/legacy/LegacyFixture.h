#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "OfficeSuite.h"
#include "services/docserver/DocumentContent.h"
#include "services/docserver/DocumentFile.h"

// Files an office suite writes, and an independent reader of compound files,
// for the legacy-format tests.
namespace quavelle::testing {

void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& path);

// The office suite, headless, converts each input to outDir/<stem>.<format>
// ("xls", "fods"). work holds its throw-away profile.
void Convert(const std::filesystem::path& work, const std::string& format,
             const std::filesystem::path& outDir, const std::vector<std::filesystem::path>& inputs);

// Every stream of the compound file at path, by its full name ("Workbook",
// "ObjectPool/_1/\x01Ole"), as an independent reader sees it.
std::map<std::string, std::string> ReadStreams(const std::filesystem::path& path);

// A loaded content and the file it keeps reading from.
struct Opened {
  docserver::DocumentFile file;
  std::unique_ptr<docserver::DocumentContent> content;
};

// Loads path as the server would for its extension.
std::unique_ptr<Opened> Load(const std::filesystem::path& path);

std::multiset<std::u16string> Links(docserver::DocumentContent& content);

// Re-points every link to from in source and writes the result to target.
void Rewrite(const std::filesystem::path& source, const std::filesystem::path& target,
             const std::u16string& from, const std::u16string& to);

// How the office suite writes a Windows path as a URL.
std::string AsUrl(const std::u16string& path);

}  // namespace quavelle::testing
