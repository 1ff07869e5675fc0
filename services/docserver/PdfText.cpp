#include "services/docserver/PdfText.h"

#include <qpdf/QUtil.hh>

#include "services/Text.h"

namespace quavelle::docserver {
namespace {

constexpr std::string_view kUtf16Mark = "\xFE\xFF";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

std::u16string FromUtf16Be(std::string_view bytes) {
  std::u16string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    out.push_back(static_cast<char16_t>((static_cast<unsigned char>(bytes[i]) << 8) |
                                        static_cast<unsigned char>(bytes[i + 1])));
  }
  if (bytes.size() % 2 != 0) out.push_back(u'\uFFFD');
  return out;
}

std::string ToUtf16Be(std::u16string_view text) {
  std::string out(kUtf16Mark);
  for (char16_t unit : text) {
    out.push_back(static_cast<char>(unit >> 8));
    out.push_back(static_cast<char>(unit & 0xFF));
  }
  return out;
}

// Well-formed UTF-8 with at least one sequence over ASCII: a single-byte
// encoding rarely forms one by chance.
bool LooksLikeUtf8(std::string_view bytes) {
  bool wide = false;
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t cp = 0;
    const std::size_t length = DecodeUtf8Sequence(bytes, i, cp);
    if (length == 0) return false;
    wide = wide || length > 1;
    i += length;
  }
  return wide;
}

}  // namespace

PdfText DecodePdfText(std::string_view bytes) {
  if (bytes.starts_with(kUtf16Mark)) {
    return {FromUtf16Be(bytes.substr(kUtf16Mark.size())), PdfTextEncoding::Utf16};
  }
  if (bytes.starts_with(kUtf8Mark)) {
    return {FromUtf8(bytes.substr(kUtf8Mark.size())), PdfTextEncoding::Utf8Bom};
  }
  if (LooksLikeUtf8(bytes)) return {FromUtf8(bytes), PdfTextEncoding::Utf8};
  return {FromUtf8(QUtil::pdf_doc_to_utf8(std::string(bytes))), PdfTextEncoding::PdfDoc};
}

std::string EncodePdfText(std::u16string_view text, PdfTextEncoding encoding) {
  std::string bytes;
  switch (encoding) {
    case PdfTextEncoding::Utf16:
      return ToUtf16Be(text);
    case PdfTextEncoding::Utf8Bom:
      bytes = std::string(kUtf8Mark) + ToUtf8(text);
      break;
    case PdfTextEncoding::Utf8:
      bytes = ToUtf8(text);
      break;
    case PdfTextEncoding::PdfDoc:
      if (!QUtil::utf8_to_pdf_doc(ToUtf8(text), bytes)) return ToUtf16Be(text);
      break;
  }
  if (DecodePdfText(bytes).text != text) return ToUtf16Be(text);
  return bytes;
}

}  // namespace quavelle::docserver
