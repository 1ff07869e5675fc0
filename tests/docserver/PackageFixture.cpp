#include "PackageFixture.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <zip.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/docserver/BuiltinDocumentServer.h"

namespace quavelle::docserver::testing {

TempFolder::TempFolder() {
  std::string pattern = (fs::temp_directory_path() / "quavelle-docserver-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void WritePackage(const fs::path& file, const std::vector<Entry>& entries) {
  int error = 0;
  zip_t* za = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(za, nullptr) << "zip_open " << error;
  for (const Entry& entry : entries) {
    zip_source_t* src = zip_source_buffer(za, entry.data.data(), entry.data.size(), 0);
    ASSERT_NE(src, nullptr);
    zip_int64_t index = zip_file_add(za, entry.name.c_str(), src, ZIP_FL_ENC_UTF_8);
    ASSERT_GE(index, 0) << zip_strerror(za);
    ASSERT_EQ(zip_set_file_compression(za, static_cast<zip_uint64_t>(index),
                                       entry.stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 9),
              0);
  }
  ASSERT_EQ(zip_close(za), 0) << zip_strerror(za);
}

namespace {

// Every entry with its data inflated, or raw with ZIP_FL_COMPRESSED.
std::vector<RawEntry> ReadEntries(const fs::path& file, zip_flags_t flags) {
  std::vector<RawEntry> out;
  int error = 0;
  zip_t* za = zip_open(file.c_str(), ZIP_RDONLY, &error);
  EXPECT_NE(za, nullptr) << "zip_open " << error;
  if (za == nullptr) return out;
  for (zip_int64_t i = 0, n = zip_get_num_entries(za, 0); i < n; ++i) {
    zip_stat_t st;
    zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &st);
    RawEntry entry{st.name, static_cast<std::int32_t>(st.comp_method), {}};
    zip_file_t* f = zip_fopen_index(za, static_cast<zip_uint64_t>(i), flags);
    EXPECT_NE(f, nullptr) << st.name;
    char buffer[4096];
    zip_int64_t got;
    while (f != nullptr && (got = zip_fread(f, buffer, sizeof buffer)) > 0) {
      entry.compressed.append(buffer, static_cast<std::size_t>(got));
    }
    if (f != nullptr) zip_fclose(f);
    out.push_back(std::move(entry));
  }
  zip_discard(za);
  return out;
}

}  // namespace

std::vector<RawEntry> ReadRawEntries(const fs::path& file) {
  return ReadEntries(file, ZIP_FL_COMPRESSED);
}

std::string ReadEntry(const fs::path& file, const std::string& name) {
  for (RawEntry& entry : ReadEntries(file, 0)) {
    if (entry.name == name) return std::move(entry.compressed);
  }
  ADD_FAILURE() << "no entry " << name;
  return {};
}

std::string ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::vector<std::string> FolderListing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(folder)) names.push_back(item.path().filename());
  std::ranges::sort(names);
  return names;
}

std::string Rels(const std::string& relationships) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
         "<Relationships "
         "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
         relationships + "</Relationships>";
}

std::string OdfContent(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<office:document-content "
         "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
         "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
         "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
         "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
         "xmlns:meta=\"urn:oasis:names:tc:opendocument:xmlns:meta:1.0\" "
         "xmlns:xlink=\"http://www.w3.org/1999/xlink\" office:version=\"1.3\">"
         "<office:body><office:text>" +
         body + "</office:text></office:body></office:document-content>";
}

std::vector<Entry> DocxWith(std::vector<Entry> extra) {
  std::vector<Entry> entries = {
      {"[Content_Types].xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types "
       "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>"},
      {"_rels/.rels",
       Rels("<Relationship Id=\"rId1\" "
            "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
            "officeDocument\" Target=\"word/document.xml\"/>")},
      {"word/document.xml",
       "<w:document xmlns:w=\"urn:w\"><w:body><w:p><w:r><w:t "
       "xml:space=\"preserve\"> </w:t></w:r></w:p></w:body></w:document>"},
  };
  for (Entry& e : extra) entries.push_back(std::move(e));
  return entries;
}

std::vector<Entry> OdtWith(std::vector<Entry> extra) {
  std::vector<Entry> entries = {
      {"mimetype", "application/vnd.oasis.opendocument.text", true},
      {"META-INF/manifest.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><manifest:manifest "
       "xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\"/>"},
  };
  for (Entry& e : extra) entries.push_back(std::move(e));
  return entries;
}

std::vector<Entry> LinkedWord() {
  return DocxWith({{"word/_rels/document.xml.rels",
                    Rels("<Relationship Id=\"rId1\" "
                         "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                         "relationships/hyperlink\" Target=\"C:\\Data\\plan.xlsx\" "
                         "TargetMode=\"External\"/>")}});
}

std::string PackageBytes(const std::vector<Entry>& entries) {
  TempFolder scratch;
  WritePackage(scratch / "p.zip", entries);
  return ReadBytes(scratch / "p.zip");
}

std::u16string U16(const std::string& utf8) { return FromUtf8(std::string_view(utf8)); }

std::vector<std::u16string> LinkPaths(Document& document) {
  std::vector<std::u16string> paths;
  std::unique_ptr<Collection<LinkedDocument>> links = document.LinkedDocuments();
  if (!links) return paths;
  std::unique_ptr<Enumerator<LinkedDocument>> it = links->NewEnum();
  while (std::unique_ptr<LinkedDocument> link = it->Next()) paths.push_back(link->AbsolutePath());
  return paths;
}

std::vector<std::u16string> LinkPaths(DocumentServer& server, const fs::path& file) {
  std::unique_ptr<Document> document = server.Open(U16(file.string()));
  return LinkPaths(*document);
}

std::unique_ptr<LinkedDocument> LinkAt(Document& document, std::size_t index) {
  std::unique_ptr<Collection<LinkedDocument>> links = document.LinkedDocuments();
  if (!links) return nullptr;
  std::unique_ptr<Enumerator<LinkedDocument>> it = links->NewEnum();
  for (std::size_t i = 0;; ++i) {
    std::unique_ptr<LinkedDocument> link = it->Next();
    if (!link || i == index) return link;
  }
}

std::int32_t ErrorNumber(const std::function<void()>& call) {
  try {
    call();
  } catch (const ServiceError& error) {
    return error.number();
  }
  return 0;
}

std::int32_t OpenAndListError(DocumentServer& server, const fs::path& file) {
  return ErrorNumber([&] { server.Open(U16(file.string()))->LinkedDocuments(); });
}

std::int32_t SetFirstLink(const fs::path& file, const std::u16string& path) {
  auto server = CreateBuiltinDocumentServer();
  return ErrorNumber([&] {
    std::unique_ptr<Document> document = server->Open(U16(file.string()));
    LinkAt(*document, 0)->SetPath(path);
  });
}

}  // namespace quavelle::docserver::testing
