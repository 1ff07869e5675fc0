#include "services/docserver/PdfContent.h"

#include <algorithm>
#include <set>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFLogger.hh>

#include "services/Text.h"
#include "services/docserver/DocServerErrors.h"
#include "services/docserver/DocumentFile.h"
#include "services/docserver/ErrnoError.h"
#include "services/docserver/FileWriting.h"
#include "services/docserver/PdfInputSource.h"
#include "services/docserver/PdfLinkPlaces.h"
#include "services/docserver/PdfText.h"
#include "services/docserver/PdfUpdate.h"

namespace quavelle::docserver {
namespace {

constexpr std::uint64_t kTailBytes = 1024;  // where the last startxref is looked for

std::u16string FolderOf(const std::u16string& path) {
  const std::size_t slash = path.find_last_of(u'/');
  if (slash == std::u16string::npos) return u"";
  if (slash == 0) return u"/";
  return path.substr(0, slash);
}

bool ReadsBackAs(std::u16string_view read, std::u16string_view asked) {
  auto separator = [](char16_t c) { return c == u'/' || c == u'\\'; };
  return read.size() == asked.size() &&
         std::equal(read.begin(), read.end(), asked.begin(), [&](char16_t a, char16_t b) {
           return a == b || (separator(a) && separator(b));
         });
}

// A URI is 7-bit: what is wider goes as %XX escapes of its UTF-8 bytes.
std::string UriBytes(std::u16string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char byte : ToUtf8(text)) {
    const auto b = static_cast<unsigned char>(byte);
    if (b > 0x20 && b < 0x7F) {
      out.push_back(byte);
    } else {
      out += {'%', kHex[b >> 4], kHex[b & 0xF]};
    }
  }
  return out;
}

// One string of a link, as found and as it is to be written.
struct StringState {
  PdfStringPlace place;
  PdfTextEncoding encoding = PdfTextEncoding::PdfDoc;
  PdfPath path;
  std::string original;
  std::string current;
};

struct LinkState {
  std::vector<StringState> strings;
  std::u16string absolutePath;
};

class PdfContent final : public DocumentContent {
 public:
  explicit PdfContent(std::u16string path) : path_(std::move(path)), folder_(FolderOf(path_)) {}

  void Load(const DocumentFile& file) override {
    file_ = &file;
    links_.clear();
    listed_ = false;
    const std::uint64_t size = file.identity().size;
    size_ = size;
    const std::string tail =
        ReadRange(file.fd(), size - std::min(size, kTailBytes), std::min(size, kTailBytes), path_);
    endsWithEol_ = !tail.empty() && (tail.back() == '\n' || tail.back() == '\r');
    startXref_ = LastStartXref(tail);
    if (startXref_) {
      xrefStyle_ = ReadRange(file.fd(), *startXref_, 4, path_) == "xref" ? PdfXrefStyle::Table
                                                                         : PdfXrefStyle::Stream;
    }

    pdf_ = std::make_unique<QPDF>();
    std::shared_ptr<QPDFLogger> logger = QPDFLogger::create();
    logger->setInfo(logger->discard());
    logger->setWarn(logger->discard());
    logger->setError(logger->discard());
    pdf_->setLogger(logger);
    pdf_->setSuppressWarnings(true);
    try {
      pdf_->processInputSource(std::make_shared<PdfInputSource>(file.fd(), size, path_));
    } catch (const ServiceError&) {
      throw;
    } catch (const QPDFExc& e) {
      if (e.getErrorCode() == qpdf_e_password) {
        throw ServiceError(error_number::kEncryptedPdf,
                           u"Cannot open '" + path_ + u"': the PDF is encrypted with a password");
      }
      throw Damaged(e);
    } catch (const std::exception& e) {
      throw Damaged(e);
    }
    // Repaired means the offsets the file states are not where its objects
    // are: an update pointing back to them would not read.
    repaired_ = pdf_->anyWarnings() || !startXref_;
    encrypted_ = pdf_->isEncrypted();
  }

  std::size_t ListLinks() override {
    if (listed_) return links_.size();
    PdfLinkSurvey survey;
    try {
      const std::size_t warned = pdf_->numWarnings();
      survey = SurveyPdfLinks(*pdf_);
      // qpdf reads a broken object as null and warns: a link would go missing unseen.
      if (pdf_->numWarnings() > warned) throw pdf_->getWarnings().back();
    } catch (const ServiceError&) {
      throw;
    } catch (const std::exception& e) {
      throw Damaged(e);
    }
    signed_ = survey.signedDocument;
    for (PdfLinkPlaces& found : survey.links) {
      LinkState link;
      for (PdfStringPlace& place : found.places) {
        std::optional<StringState> string = Read(std::move(place), survey.uriBase);
        if (string) link.strings.push_back(std::move(*string));
      }
      if (link.strings.empty()) continue;
      link.absolutePath = link.strings.front().path.absolutePath;
      links_.push_back(std::move(link));
    }
    listed_ = true;
    return links_.size();
  }

  std::u16string AbsolutePath(std::size_t index) const override { return Link(index).absolutePath; }

  void Repoint(std::size_t index, const std::u16string& newPath) override {
    LinkState& link = Link(index);
    if (newPath.empty()) {
      throw ServiceError(error_number::kInvalidArgument,
                         u"Cannot change a link of '" + path_ + u"' to an empty path");
    }
    if (newPath == link.absolutePath) return;
    if (encrypted_) {
      throw ServiceError(
          error_number::kEncryptedPdf,
          u"Cannot change '" + path_ + u"': the PDF is encrypted and its links are not rewritten");
    }
    if (signed_) {
      throw ServiceError(error_number::kSignedDocument,
                         u"Cannot change '" + path_ +
                             u"': it is digitally signed and the change would break the signature");
    }
    if (repaired_) {
      throw ServiceError(error_number::kUnchangeablePdf,
                         u"Cannot change '" + path_ +
                             u"': its cross-reference data is damaged and had to be rebuilt");
    }
    // Every string is checked before any is changed: a link moves whole or not at all.
    std::vector<std::pair<std::string, PdfPath>> written;
    for (const StringState& string : link.strings) {
      const QPDFObjGen top = string.place.top;
      if (top.getObj() == 0 || IsStream(top)) {
        throw ServiceError(error_number::kUnchangeablePdf,
                           u"Cannot change a link of '" + path_ +
                               u"': it is kept in an object that cannot be written again");
      }
      const std::u16string text = WritePdfPath(string.path, newPath, folder_);
      std::string bytes =
          string.place.key == "/URI" ? UriBytes(text) : EncodePdfText(text, string.encoding);
      std::optional<PdfPath> back = ReadBack(string, bytes);
      if (!back || !ReadsBackAs(back->absolutePath, newPath)) {
        throw ServiceError(error_number::kUnwritablePath,
                           u"Cannot change a link of '" + path_ + u"' to '" + newPath +
                               u"': it cannot be written so that it reads back as that path");
      }
      written.emplace_back(std::move(bytes), std::move(*back));
    }
    for (std::size_t i = 0; i < link.strings.size(); ++i) {
      StringState& string = link.strings[i];
      string.place.holder.replaceKey(string.place.key,
                                     QPDFObjectHandle::newString(written[i].first));
      string.current = std::move(written[i].first);
      string.path = std::move(written[i].second);
    }
    link.absolutePath = newPath;
  }

  bool HasChanges() const override {
    for (const LinkState& link : links_) {
      for (const StringState& string : link.strings) {
        if (string.current != string.original) return true;
      }
    }
    return false;
  }

  void WriteChanged(int outFd, const FaultHook& faultHook) override {
    std::set<QPDFObjGen> changed;
    for (const LinkState& link : links_) {
      for (const StringState& string : link.strings) {
        if (string.current != string.original) changed.insert(string.place.top);
      }
    }
    std::string update;
    try {
      std::vector<PdfUpdatedObject> objects;
      for (const QPDFObjGen& top : changed) {
        objects.push_back({top.getObj(), top.getGen(), pdf_->getObject(top).unparseResolved()});
      }
      if (!objects.empty())
        update = BuildPdfUpdate(std::move(objects), Trailer(), xrefStyle_, size_, endsWithEol_);
    } catch (const std::exception& e) {
      throw Damaged(e);
    }
    CopyRange(file_->fd(), 0, size_, outFd, faultHook, path_);
    if (!update.empty()) WriteAll(outFd, update, faultHook, path_);
  }

  void Committed(const DocumentFile& newFile) override {
    // The new file is read afresh; its links come in the same order.
    Load(newFile);
    ListLinks();
  }

 private:
  ServiceError Damaged(const std::exception& e) const {
    return ServiceError(error_number::kDamagedPdf, u"Cannot read '" + path_ +
                                                       u"': the PDF is damaged (" +
                                                       FromUtf8(std::string_view(e.what())) + u")");
  }

  bool IsStream(QPDFObjGen top) {
    try {
      return pdf_->getObject(top).isStream();
    } catch (const std::exception& e) {
      throw Damaged(e);
    }
  }

  LinkState& Link(std::size_t index) {
    return const_cast<LinkState&>(std::as_const(*this).Link(index));
  }
  const LinkState& Link(std::size_t index) const {
    if (index >= links_.size()) {
      throw ServiceError(error_number::kInvalidArgument,
                         u"No link " + FromUtf8(std::to_string(index)) + u" in '" + path_ + u"'");
    }
    return links_[index];
  }

  static std::u16string TextOf(const PdfStringPlace& place, const std::string& bytes,
                               PdfTextEncoding& encoding) {
    if (place.key == "/URI") {
      encoding = PdfTextEncoding::PdfDoc;
      return FromUtf8(bytes);
    }
    PdfText text = DecodePdfText(bytes);
    encoding = text.encoding;
    return std::move(text.text);
  }

  std::optional<StringState> Read(PdfStringPlace place, bool uriBase) const {
    StringState string;
    string.original = place.holder.getKey(place.key).getStringValue();
    string.current = string.original;
    const std::u16string text = TextOf(place, string.original, string.encoding);
    std::optional<PdfPath> path = ReadPdfPath(text, place.syntax, folder_);
    // A relative URI counts from the base the document sets, not from its folder.
    if (!path || (uriBase && place.syntax == PdfNameSyntax::Uri && path->relative)) {
      return std::nullopt;
    }
    string.place = std::move(place);
    string.path = std::move(*path);
    return string;
  }

  std::optional<PdfPath> ReadBack(const StringState& string, const std::string& bytes) const {
    PdfTextEncoding encoding;
    return ReadPdfPath(TextOf(string.place, bytes, encoding), string.place.syntax, folder_);
  }

  PdfUpdateTrailer Trailer() {
    QPDFObjectHandle trailer = pdf_->getTrailer();
    PdfUpdateTrailer out;
    out.previous = *startXref_;
    out.root = trailer.getKey("/Root").unparse();
    if (trailer.hasKey("/Info")) out.info = trailer.getKey("/Info").unparse();
    if (trailer.hasKey("/ID")) out.id = trailer.getKey("/ID").unparseResolved();
    QPDFObjectHandle size = trailer.getKey("/Size");
    out.size = size.isInteger() ? size.getIntValue() : 0;
    for (const auto& [objGen, entry] : pdf_->getXRefTable()) {
      out.size = std::max<std::int64_t>(out.size, objGen.getObj() + 1);
    }
    return out;
  }

  std::u16string path_;
  std::u16string folder_;
  const DocumentFile* file_ = nullptr;
  std::unique_ptr<QPDF> pdf_;
  std::uint64_t size_ = 0;
  std::optional<std::uint64_t> startXref_;
  PdfXrefStyle xrefStyle_ = PdfXrefStyle::Table;
  bool endsWithEol_ = false;
  bool repaired_ = false;
  bool encrypted_ = false;
  bool signed_ = false;
  bool listed_ = false;
  std::vector<LinkState> links_;
};

}  // namespace

std::unique_ptr<DocumentContent> CreatePdfContent(std::u16string documentPath) {
  return std::make_unique<PdfContent>(std::move(documentPath));
}

}  // namespace quavelle::docserver
