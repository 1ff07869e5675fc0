#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// An update appended to a PDF: the new versions of changed objects, a
// cross-reference section in the style the file's last one uses, and a trailer
// that points back to that section. The file's own bytes stay as they are.
namespace quavelle::docserver {

enum class PdfXrefStyle {
  Table,   // "xref" and fixed-width lines
  Stream,  // an object of /Type /XRef
};

struct PdfUpdatedObject {
  int number = 0;
  int generation = 0;
  std::string body;  // the object's value, as PDF syntax
};

struct PdfUpdateTrailer {
  std::int64_t size = 0;       // the file's /Size: one past its highest object number
  std::uint64_t previous = 0;  // where the file's last cross-reference section starts
  std::string root;            // "/Root", "/Info" and "/ID" values as PDF syntax;
  std::string info;            // empty when the file has none
  std::string id;
};

// The offset after the last "startxref" of a file's tail, or nullopt.
std::optional<std::uint64_t> LastStartXref(std::string_view tail);

// The bytes to append to a file of fileSize bytes. objects must be non-empty,
// each number at most once.
std::string BuildPdfUpdate(std::vector<PdfUpdatedObject> objects, const PdfUpdateTrailer& trailer,
                           PdfXrefStyle style, std::uint64_t fileSize, bool fileEndsWithEol);

}  // namespace quavelle::docserver
