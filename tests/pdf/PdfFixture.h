#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PdfObjects.h"
#include "TempFolder.h"
#include "services/docserver/DocumentContent.h"
#include "services/docserver/DocumentFile.h"

// Test helpers: the content loaded from a real file, and the independent
// tools that read the results.
namespace quavelle::docserver::testing {

namespace fs = std::filesystem;
using quavelle::testing::TempFolder;

void WriteBytes(const fs::path& file, const std::string& bytes);
std::string ReadBytes(const fs::path& file);

// A document's file and its content, loaded and listed.
struct LoadedPdf {
  std::unique_ptr<DocumentFile> file;
  std::unique_ptr<DocumentContent> content;
  std::vector<std::u16string> links;
};
LoadedPdf LoadPdf(const fs::path& file);
// Writes content's changes to out, a new file.
void WriteChangedTo(DocumentContent& content, const fs::path& out);

// A command's exit status and standard output (standard error to the output too).
struct CommandResult {
  int status = 0;
  std::string output;
};
CommandResult RunCommand(const std::string& command);
bool HaveCommand(const std::string& name);
std::string Quoted(const fs::path& file);

// What an independent reader sees: qpdf's JSON dump of every object.
std::string QpdfJson(const fs::path& file);
// The JSON spelling of a decoded PDF text string: "u:" and the text, JSON-escaped.
std::string JsonText(const std::string& utf8);

// What every re-pointed file must be: the original as its prefix and a clean
// check by qpdf (adds test failures).
void ExpectSoundUpdate(const fs::path& original, const fs::path& updated);

// Runs body with standard error sent to a file; returns what was written there.
std::string CaptureStderr(const std::function<void()>& body);

}  // namespace quavelle::docserver::testing
