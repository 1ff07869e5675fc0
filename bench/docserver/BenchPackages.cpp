#include "bench/docserver/BenchPackages.h"

#include <zip.h>

#include <memory>
#include <stdexcept>

namespace quavelle::bench {
namespace {

struct ArchiveCloser {
  void operator()(zip_t* archive) const noexcept { zip_discard(archive); }
};

const char kRels[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const char kPackageRels[] = "http://schemas.openxmlformats.org/package/2006/relationships";

std::string Relationships(const std::vector<std::string>& targets, const std::string& type) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<Relationships xmlns=\"" +
      std::string(kPackageRels) + "\"><Relationship Id=\"rId1\" Type=\"" + kRels +
      "/styles\" Target=\"styles.xml\"/><Relationship Id=\"rIdImage\" Type=\"" + kRels +
      "/image\" Target=\"media/image1.png\"/>";
  for (std::size_t i = 0; i < targets.size(); ++i) {
    xml += "<Relationship Id=\"rIdLink" + std::to_string(i) + "\" Type=\"" + kRels + "/" + type +
           "\" Target=\"" + targets[i] + "\" TargetMode=\"External\"/>";
  }
  return xml + "</Relationships>";
}

}  // namespace

void WritePackage(const std::filesystem::path& path, const std::vector<Entry>& entries) {
  int error = 0;
  std::unique_ptr<zip_t, ArchiveCloser> archive(
      zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error));
  if (!archive) throw std::runtime_error("cannot create " + path.string());
  for (const Entry& entry : entries) {
    zip_source_t* source =
        zip_source_buffer(archive.get(), entry.bytes.data(), entry.bytes.size(), 0);
    if (source == nullptr) throw std::runtime_error("zip source for " + entry.name);
    const zip_int64_t index =
        zip_file_add(archive.get(), entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(source);
      throw std::runtime_error("cannot add " + entry.name);
    }
    zip_set_file_compression(archive.get(), static_cast<zip_uint64_t>(index),
                             entry.stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 1);
  }
  // Entries refer to the caller's buffers, which live until this returns.
  if (zip_close(archive.get()) != 0)
    throw std::runtime_error("cannot write " + path.string() + ": " + zip_strerror(archive.get()));
  archive.release();
}

std::string Prose(std::mt19937_64& random, std::size_t bytes, bool openDocument) {
  const char* open = openDocument ? "<text:p>" : "<w:p><w:r><w:t xml:space=\"preserve\">";
  const char* close = openDocument ? "</text:p>" : "</w:t></w:r></w:p>";
  static const char* const kWords[] = {
      "the",      "quarterly", "budget",  "of",       "each",    "department", "shows",
      "a",        "modest",    "rise",    "in",       "travel",  "costs",      "while",
      "staff",    "numbers",   "remain",  "steady",   "across",  "regions",    "see",
      "appendix", "for",       "details", "and",      "revised", "figures",    "from",
      "finance",  "review",    "meeting", "notes",    "project", "schedule",   "delivery",
      "risks",    "were",      "agreed",  "by",       "board",   "members",    "last",
      "week",     "with",      "actions", "assigned", "to",      "owners",     "below"};
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kWords) - 1);
  std::string text;
  text.reserve(bytes + 64);
  while (text.size() < bytes) {
    text += open;
    for (int word = 0; word < 40; ++word) {
      text += kWords[pick(random)];
      text += ' ';
    }
    text += close;
  }
  return text;
}

std::string Noise(std::mt19937_64& random, std::size_t bytes) {
  std::string data(bytes, '\0');
  for (std::size_t i = 0; i < bytes; i += 8) {
    const std::uint64_t word = random();
    for (std::size_t b = 0; b < 8 && i + b < bytes; ++b)
      data[i + b] = static_cast<char>((word >> (8 * b)) & 0xFF);
  }
  return data;
}

std::vector<Entry> WordProcessingPackage(bool openDocument, std::size_t totalBytes,
                                         const std::vector<std::string>& links,
                                         std::mt19937_64& random) {
  // About half the file is a picture, half compressed text (prose deflates ~3:1).
  const std::string picture = Noise(random, totalBytes / 2);
  const std::string body = Prose(random, totalBytes * 3 / 2, openDocument);
  if (!openDocument) {
    std::string document =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<w:document "
        "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" xmlns:r=\"" +
        std::string(kRels) + "\"><w:body>";
    for (std::size_t i = 0; i < links.size(); ++i)
      document += "<w:p><w:hyperlink r:id=\"rIdLink" + std::to_string(i) +
                  "\"><w:r><w:t>link</w:t></w:r></w:hyperlink></w:p>";
    document += body + "</w:body></w:document>";
    return {
        {"[Content_Types].xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types "
         "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default "
         "Extension=\"rels\" "
         "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/><Default "
         "Extension=\"xml\" ContentType=\"application/xml\"/><Default Extension=\"png\" "
         "ContentType=\"image/png\"/><Override PartName=\"/word/document.xml\" "
         "ContentType=\"application/"
         "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/></Types>"},
        {"_rels/.rels", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships xmlns=\"" +
                            std::string(kPackageRels) + "\"><Relationship Id=\"rId1\" Type=\"" +
                            kRels +
                            "/officeDocument\" Target=\"word/document.xml\"/></Relationships>"},
        {"word/document.xml", document},
        {"word/_rels/document.xml.rels", Relationships(links, "hyperlink")},
        {"word/styles.xml",
         "<?xml version=\"1.0\"?><w:styles "
         "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"/>"},
        {"word/media/image1.png", picture, true},
    };
  }
  std::string content =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content "
      "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
      "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
      "xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
      "office:version=\"1.3\"><office:body><office:text>"
      "<text:p><draw:frame><draw:image xlink:href=\"Pictures/image1.png\" "
      "xlink:type=\"simple\"/></draw:frame></text:p>";
  for (const std::string& link : links)
    content +=
        "<text:p><text:a xlink:type=\"simple\" xlink:href=\"" + link + "\">link</text:a></text:p>";
  content += body + "</office:text></office:body></office:document-content>";
  return {
      {"mimetype", "application/vnd.oasis.opendocument.text", true},
      {"META-INF/manifest.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><manifest:manifest "
       "xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" "
       "manifest:version=\"1.3\"><manifest:file-entry manifest:full-path=\"/\" "
       "manifest:media-type=\"application/vnd.oasis.opendocument.text\"/><manifest:file-entry "
       "manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/><manifest:file-entry "
       "manifest:full-path=\"styles.xml\" manifest:media-type=\"text/xml\"/><manifest:file-entry "
       "manifest:full-path=\"Pictures/image1.png\" "
       "manifest:media-type=\"image/png\"/></manifest:manifest>"},
      {"content.xml", content},
      {"styles.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document-styles "
       "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
       "office:version=\"1.3\"/>"},
      {"Pictures/image1.png", picture, true},
  };
}

std::vector<Entry> ImagePackage(std::size_t imageCount, std::size_t imageBytes,
                                const std::string& link, std::mt19937_64& random) {
  std::vector<Entry> entries = WordProcessingPackage(false, 16 * 1024, {link}, random);
  for (std::size_t i = 0; i < imageCount; ++i)
    entries.push_back(
        {"word/media/photo" + std::to_string(i + 1) + ".jpeg", Noise(random, imageBytes), true});
  return entries;
}

}  // namespace quavelle::bench
