#pragma once

#include <string>
#include <string_view>

// The bytes of a PDF string as text, and back, in the encoding they were found in.
namespace quavelle::docserver {

enum class PdfTextEncoding {
  PdfDoc,   // the PDF's own single-byte encoding (ASCII in the printable range)
  Utf16,    // FE FF, then UTF-16BE
  Utf8Bom,  // EF BB BF, then UTF-8
  Utf8,     // no mark, but well-formed UTF-8 with bytes over 0x7F, as some producers write
};

struct PdfText {
  std::u16string text;
  PdfTextEncoding encoding = PdfTextEncoding::PdfDoc;
};

PdfText DecodePdfText(std::string_view bytes);

// The bytes for text in encoding, or, where those would not read back as text
// (a character the PDF encoding lacks), in UTF-16BE with its mark.
std::string EncodePdfText(std::u16string_view text, PdfTextEncoding encoding);

}  // namespace quavelle::docserver
