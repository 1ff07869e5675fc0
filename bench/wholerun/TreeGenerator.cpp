#include "bench/wholerun/TreeGenerator.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/docserver/BenchPackages.h"

namespace quavelle::bench {
namespace {

namespace fs = std::filesystem;

const std::string kRels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const std::string kPackageRels = "http://schemas.openxmlformats.org/package/2006/relationships";
const std::string kXml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

// Targets as the suites write them: a share path, a file URL of a share
// path, and links elsewhere that a run leaves alone.
std::string OfficeTarget(std::mt19937_64& random, bool matching, int n) {
  const std::string name = "doc" + std::to_string(n) + (n % 2 ? ".xlsx" : ".docx");
  if (!matching) return "file:///C:\\Data\\" + name;
  return random() % 2 ? "file:///\\\\srv1\\proj\\" + name : "\\\\srv1\\proj\\Team%20A\\" + name;
}

std::string OpenDocumentTarget(bool matching, int n) {
  const std::string name = "doc" + std::to_string(n) + ".ods";
  return matching ? "file://srv1/proj/" + name : "file:///C:/Data/" + name;
}

std::string Relationships(const std::vector<std::string>& targets, const std::string& type) {
  std::string xml = kXml + "<Relationships xmlns=\"" + kPackageRels + "\">";
  for (std::size_t i = 0; i < targets.size(); ++i) {
    xml += "<Relationship Id=\"rIdL" + std::to_string(i) + "\" Type=\"" + kRels + "/" + type +
           "\" Target=\"" + targets[i] + "\" TargetMode=\"External\"/>";
  }
  return xml + "</Relationships>";
}

std::vector<Entry> OfficePackage(const std::string& kind, const std::vector<std::string>& targets,
                                 std::size_t bytes, std::mt19937_64& random) {
  const std::string folder = kind == "docx" ? "word" : kind == "xlsx" ? "xl" : "ppt";
  const std::string main = kind == "docx"   ? "word/document.xml"
                           : kind == "xlsx" ? "xl/worksheets/sheet1.xml"
                                            : "ppt/slides/slide1.xml";
  std::vector<Entry> entries = {
      {"[Content_Types].xml",
       kXml + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
              "<Default Extension=\"rels\" "
              "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
              "<Default Extension=\"xml\" ContentType=\"application/xml\"/></Types>"},
      {"_rels/.rels", kXml + "<Relationships xmlns=\"" + kPackageRels +
                          "\"><Relationship Id=\"rId1\" Type=\"" + kRels +
                          "/officeDocument\" Target=\"" + main + "\"/></Relationships>"},
      {main, kXml + "<root>" + Prose(random, bytes, false) + "</root>"},
      {folder + "/media/image1.jpeg", Noise(random, bytes), true},
      {folder + "/media/image2.png", Noise(random, bytes / 4), false}};
  if (kind == "xlsx" && !targets.empty()) {
    for (std::size_t i = 0; i < targets.size(); ++i) {
      const std::string n = std::to_string(i + 1);
      entries.push_back({"xl/externalLinks/externalLink" + n + ".xml",
                         kXml +
                             "<externalLink xmlns=\"http://schemas.openxmlformats.org/"
                             "spreadsheetml/2006/main\"><externalBook r:id=\"rId1\" "
                             "xmlns:r=\"" +
                             kRels + "\"/></externalLink>"});
      entries.push_back({"xl/externalLinks/_rels/externalLink" + n + ".xml.rels",
                         Relationships({targets[i]}, "externalLinkPath")});
    }
  } else if (!targets.empty()) {
    const std::string rels =
        folder + (kind == "docx" ? "/_rels/document.xml.rels" : "/slides/_rels/slide1.xml.rels");
    entries.push_back({rels, Relationships(targets, "hyperlink")});
  }
  return entries;
}

std::vector<Entry> OpenDocumentPackage(const std::string& kind,
                                       const std::vector<std::string>& targets, std::size_t bytes,
                                       std::mt19937_64& random) {
  const std::string ns =
      "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
      "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
      "xmlns:xlink=\"http://www.w3.org/1999/xlink\"";
  std::string body;
  for (const std::string& target : targets) {
    if (kind == "ods") {
      body += "<table:table table:name=\"'" + target +
              "'#Sheet1\"><table:table-source xlink:href=\"" + target +
              "\" table:table-name=\"Sheet1\"/></table:table>";
    } else {
      body += "<text:p><text:a xlink:href=\"" + target + "\">link</text:a></text:p>";
    }
  }
  return {{"mimetype",
           kind == "ods" ? "application/vnd.oasis.opendocument.spreadsheet"
                         : "application/vnd.oasis.opendocument.text",
           true},
          {"content.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content " +
                              ns + "><office:body>" + body + Prose(random, bytes, true) +
                              "</office:body></office:document-content>"},
          {"styles.xml",
           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-styles " + ns + "/>"},
          {"meta.xml",
           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-meta " + ns + "/>"},
          {"Pictures/1.jpeg", Noise(random, bytes), true},
          {"META-INF/manifest.xml",
           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest:manifest "
           "xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\"/>"}};
}

// A small valid PDF without file links: one page whose content stream fills
// it to about bytes.
std::string PlainPdf(std::size_t bytes, std::mt19937_64& random) {
  std::string content = "BT /F1 12 Tf 72 720 Td (";
  while (content.size() < bytes) content += static_cast<char>('a' + random() % 26);
  content += ") Tj ET";
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream"};
  std::string pdf = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t offset : offsets) {
    char line[21];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

}  // namespace

void MakeTree(const fs::path& root, const TreeShape& shape) {
  const fs::path marker =
      root / (".complete-" + std::to_string(shape.packages) + "-" +
              std::to_string(shape.otherFiles) + "-" + std::to_string(shape.seed));
  if (fs::exists(marker)) return;
  std::printf("writing %d packages and %d other files under %s ...\n", shape.packages,
              shape.otherFiles, root.c_str());
  std::fflush(stdout);
  fs::remove_all(root);
  std::mt19937_64 random(shape.seed);
  const char* const kKinds[] = {"docx", "xlsx", "pptx", "odt", "ods"};
  const int total = shape.packages + shape.otherFiles;
  for (int i = 0; i < total; ++i) {
    const fs::path folder =
        root / ("dept" + std::to_string(i % 20)) / ("f" + std::to_string(i % 97));
    fs::create_directories(folder);
    // Sizes spread like a share's: mostly small, a few large.
    const std::size_t bytes = 4096 + random() % (random() % 8 == 0 ? 600000 : 60000);
    if (i % 3 == 0 && i / 3 < shape.packages) {
      const int n = i / 3;
      const std::string kind = kKinds[n % 5];
      std::vector<std::string> targets;
      const bool linked = static_cast<int>(random() % 100) < shape.linkedPercent;
      const int count =
          linked ? 1 + static_cast<int>(random() % 5) : static_cast<int>(random() % 2);
      for (int k = 0; k < count; ++k) {
        targets.push_back(kind[0] == 'o' ? OpenDocumentTarget(linked, n * 5 + k)
                                         : OfficeTarget(random, linked, n * 5 + k));
      }
      WritePackage(folder / ("file" + std::to_string(n) + "." + kind),
                   kind[0] == 'o' ? OpenDocumentPackage(kind, targets, bytes / 2, random)
                                  : OfficePackage(kind, targets, bytes / 2, random));
    } else {
      const char* const kOther[] = {".pdf", ".jpg", ".txt", ".dwg"};
      std::ofstream(folder / ("other" + std::to_string(i) + kOther[i % 4]), std::ios::binary)
          << (i % 4 == 0 ? PlainPdf(bytes, random) : Noise(random, bytes));
    }
  }
  std::ofstream(marker) << "done\n";
}

}  // namespace quavelle::bench
