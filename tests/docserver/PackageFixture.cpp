#include "PackageFixture.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <zip.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/docserver/BuiltinDocumentServer.h"

namespace quavelle::docserver::testing {

void WritePackage(const fs::path& file, const std::vector<Entry>& entries) {
  int error = 0;
  zip_t* za = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(za, nullptr) << "zip_open " << error;
  for (const Entry& entry : entries) {
    zip_source_t* src = zip_source_buffer(za, entry.data.data(), entry.data.size(), 0);
    zip_int64_t index = zip_file_add(za, entry.name.c_str(), src, ZIP_FL_ENC_UTF_8);
    zip_set_file_compression(za, static_cast<zip_uint64_t>(index),
                             entry.stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 9);
  }
  ASSERT_EQ(zip_close(za), 0) << zip_strerror(za);
}

std::vector<RawEntry> ReadEntries(const fs::path& file, bool raw) {
  const zip_flags_t flags = raw ? ZIP_FL_COMPRESSED : 0;
  std::vector<RawEntry> out;
  int error = 0;
  zip_t* za = zip_open(file.c_str(), ZIP_RDONLY, &error);
  EXPECT_NE(za, nullptr) << "zip_open " << error;
  for (zip_int64_t i = 0, n = za ? zip_get_num_entries(za, 0) : 0; i < n; ++i) {
    zip_stat_t st;
    zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &st);
    RawEntry entry{st.name, static_cast<std::int32_t>(st.comp_method), {}};
    zip_file_t* f = zip_fopen_index(za, static_cast<zip_uint64_t>(i), flags);
    char buffer[4096];
    for (zip_int64_t got; f != nullptr && (got = zip_fread(f, buffer, sizeof buffer)) > 0;) {
      entry.bytes.append(buffer, static_cast<std::size_t>(got));
    }
    if (f != nullptr) zip_fclose(f);
    out.push_back(std::move(entry));
  }
  if (za != nullptr) zip_discard(za);
  return out;
}

std::string ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> FolderListing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(folder)) names.push_back(item.path().filename());
  std::ranges::sort(names);
  return names;
}

std::string Rels(const std::string& relationships) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<Relationships "
         "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
         relationships + "</Relationships>";
}

std::string Hyperlink(const std::string& id, const std::string& target) {
  return "<Relationship Id=\"" + id +
         "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
         "hyperlink\" Target=\"" +
         target + "\" TargetMode=\"External\"/>";
}

std::string OdfContent(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content "
         "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
         "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
         "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
         "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
         "xmlns:xlink=\"http://www.w3.org/1999/xlink\" office:version=\"1.3\">\n"
         "<office:body><office:text>" +
         body + "</office:text></office:body></office:document-content>\n";
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
      {"word/document.xml", "<w:document xmlns:w=\"urn:w\"><w:body/></w:document>"},
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
  return DocxWith(
      {{"word/_rels/document.xml.rels", Rels(Hyperlink("rId1", "C:\\Data\\plan.xlsx"))}});
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

std::vector<std::u16string> LinkPaths(const fs::path& file) {
  return LinkPaths(*CreateBuiltinDocumentServer()->Open(U16(file.string())));
}

EnumeratedLinks::EnumeratedLinks(Document& document)
    : collection_(document.LinkedDocuments()), each_(collection_->NewEnum()) {
  for (std::size_t i = 0, n = LinkPaths(document).size(); i < n; ++i) {
    links_.push_back(each_->Next());
  }
}

void EnumeratedLinks::Finish() { EXPECT_EQ(each_->Next(), nullptr); }

void SetPathAt(Document& document, std::size_t index, const std::u16string& path) {
  EnumeratedLinks links(document);
  links[index].SetPath(path);
  links.Finish();
}

std::int32_t SetFirstLink(const fs::path& file, const std::u16string& path) {
  auto server = CreateBuiltinDocumentServer();
  return ErrorNumber([&] {
    auto document = server->Open(U16(file.string()));
    SetPathAt(*document, 0, path);
  });
}

std::string Edited(std::string text, const Edits& edits) {
  for (const auto& [from, with] : edits) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + with.size())) {
      text.replace(at, from.size(), with);
    }
  }
  return text;
}

}  // namespace quavelle::docserver::testing
