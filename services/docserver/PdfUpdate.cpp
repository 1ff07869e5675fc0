#include "services/docserver/PdfUpdate.h"

#include <algorithm>
#include <cstdio>

namespace quavelle::docserver {
namespace {

bool IsPdfSpace(char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

struct Entry {
  int number;
  int generation;
  std::uint64_t offset;
};

// Runs of consecutive object numbers, as (first, count) pairs.
std::vector<std::pair<int, int>> Subsections(const std::vector<Entry>& entries) {
  std::vector<std::pair<int, int>> runs;
  for (const Entry& e : entries) {
    if (!runs.empty() && runs.back().first + runs.back().second == e.number) {
      ++runs.back().second;
    } else {
      runs.emplace_back(e.number, 1);
    }
  }
  return runs;
}

std::string TrailerKeys(const PdfUpdateTrailer& trailer, std::int64_t size) {
  std::string out = "/Size " + std::to_string(size) + " /Root " + trailer.root;
  if (!trailer.info.empty()) out += " /Info " + trailer.info;
  if (!trailer.id.empty()) out += " /ID " + trailer.id;
  out += " /Prev " + std::to_string(trailer.previous);
  return out;
}

std::string XrefTable(const std::vector<Entry>& entries, const PdfUpdateTrailer& trailer) {
  std::string out = "xref\n";
  std::size_t next = 0;
  for (const auto& [first, count] : Subsections(entries)) {
    out += std::to_string(first) + " " + std::to_string(count) + "\n";
    for (int i = 0; i < count; ++i, ++next) {
      char line[32];
      std::snprintf(line, sizeof line, "%010llu %05d n\r\n",
                    static_cast<unsigned long long>(entries[next].offset),
                    entries[next].generation);
      out += line;
    }
  }
  out += "trailer\n<< " + TrailerKeys(trailer, trailer.size) + " >>\n";
  return out;
}

void AppendBigEndian(std::string& out, std::uint64_t value, int width) {
  for (int shift = (width - 1) * 8; shift >= 0; shift -= 8) {
    out.push_back(static_cast<char>((value >> shift) & 0xFF));
  }
}

// The stream lists itself too, as the object after the file's highest.
std::string XrefStream(std::vector<Entry> entries, const PdfUpdateTrailer& trailer,
                       std::uint64_t offset) {
  const int number = static_cast<int>(trailer.size);
  entries.push_back({number, 0, offset});
  int offsetWidth = 1;
  while (offsetWidth < 8 && (offset >> (8 * offsetWidth)) != 0) ++offsetWidth;
  std::string data;
  for (const Entry& e : entries) {
    data.push_back('\x01');
    AppendBigEndian(data, e.offset, offsetWidth);
    AppendBigEndian(data, static_cast<std::uint64_t>(e.generation), 2);
  }
  std::string index;
  for (const auto& [first, count] : Subsections(entries)) {
    if (!index.empty()) index += ' ';
    index += std::to_string(first) + " " + std::to_string(count);
  }
  return std::to_string(number) + " 0 obj\n<< /Type /XRef " + TrailerKeys(trailer, number + 1) +
         " /Index [" + index + "] /W [1 " + std::to_string(offsetWidth) + " 2] /Length " +
         std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream\nendobj\n";
}

}  // namespace

std::optional<std::uint64_t> LastStartXref(std::string_view tail) {
  const std::size_t at = tail.rfind("startxref");
  if (at == std::string_view::npos) return std::nullopt;
  std::size_t i = at + 9;
  while (i < tail.size() && IsPdfSpace(tail[i])) ++i;
  std::uint64_t value = 0;
  const std::size_t digits = i;
  for (; i < tail.size() && tail[i] >= '0' && tail[i] <= '9'; ++i) {
    if (value > (UINT64_MAX - 9) / 10) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(tail[i] - '0');
  }
  if (i == digits) return std::nullopt;
  return value;
}

std::string BuildPdfUpdate(std::vector<PdfUpdatedObject> objects, const PdfUpdateTrailer& trailer,
                           PdfXrefStyle style, std::uint64_t fileSize, bool fileEndsWithEol) {
  std::sort(
      objects.begin(), objects.end(),
      [](const PdfUpdatedObject& a, const PdfUpdatedObject& b) { return a.number < b.number; });
  std::string out = fileEndsWithEol ? "" : "\n";
  std::vector<Entry> entries;
  for (const PdfUpdatedObject& o : objects) {
    entries.push_back({o.number, o.generation, fileSize + out.size()});
    out += std::to_string(o.number) + " " + std::to_string(o.generation) + " obj\n" + o.body +
           "\nendobj\n";
  }
  const std::uint64_t xrefOffset = fileSize + out.size();
  out += style == PdfXrefStyle::Table ? XrefTable(entries, trailer)
                                      : XrefStream(std::move(entries), trailer, xrefOffset);
  out += "startxref\n" + std::to_string(xrefOffset) + "\n%%EOF\n";
  return out;
}

}  // namespace quavelle::docserver
