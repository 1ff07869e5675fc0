#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <qpdf/InputSource.hh>

namespace quavelle::docserver {

// What the PDF reader reads through: positioned reads of an open descriptor
// through one small window, so that its many seeks cost no system calls and
// the descriptor's own offset is left alone. Read failures throw ServiceError.
class PdfInputSource final : public InputSource {
 public:
  PdfInputSource(int fd, std::uint64_t size, std::u16string displayPath);

  qpdf_offset_t findAndSkipNextEOL() override;
  const std::string& getName() const override { return name_; }
  qpdf_offset_t tell() override { return offset_; }
  void seek(qpdf_offset_t offset, int whence) override;
  void rewind() override { offset_ = 0; }
  size_t read(char* buffer, size_t length) override;
  void unreadCh(char) override {
    if (offset_ > 0) --offset_;
  }

 private:
  // Makes the window hold the byte at offset; false past the end.
  bool Fill(qpdf_offset_t offset);

  int fd_;
  qpdf_offset_t size_;
  std::u16string displayPath_;
  std::string name_;
  qpdf_offset_t offset_ = 0;
  std::vector<char> window_;
  qpdf_offset_t windowStart_ = 0;
  std::size_t windowLength_ = 0;
};

}  // namespace quavelle::docserver
