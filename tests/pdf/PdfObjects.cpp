#include "PdfObjects.h"

#include <cstdio>

namespace quavelle::docserver::testing {

std::string PdfFromObjects(const std::vector<std::string>& objects) {
  std::string pdf = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f\r\n";
  for (std::size_t offset : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n\r\n", offset);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R /ID [<0123456789ABCDEF0123456789ABCDEF> "
         "<0123456789ABCDEF0123456789ABCDEF>] >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

std::string OnePagePdf(const std::string& catalogExtra, const std::string& annots,
                       const std::vector<std::string>& more) {
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R " + catalogExtra + " >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [" + annots + "] >>"};
  objects.insert(objects.end(), more.begin(), more.end());
  return PdfFromObjects(objects);
}

std::string LinkAnnotation(const std::string& action) {
  return "<< /Type /Annot /Subtype /Link /Rect [72 700 200 720] /Border [0 0 0] /A " + action +
         " >>";
}

}  // namespace quavelle::docserver::testing
