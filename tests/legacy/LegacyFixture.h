#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

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

}  // namespace quavelle::testing
