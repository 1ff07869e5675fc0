// The reader's view of a real file: reads and line ends across its window.
#include <fcntl.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "PdfFixture.h"
#include "services/Text.h"
#include "services/UniqueFd.h"
#include "services/docserver/PdfInputSource.h"

namespace quavelle::docserver::testing {
namespace {

struct EolCase {
  qpdf_offset_t from;
  qpdf_offset_t eol;    // what findAndSkipNextEOL gives
  qpdf_offset_t after;  // where it leaves the reader
};

TEST(PdfInputSource, ReadsAndFindsLineEndsAcrossItsWindow) {
  // Line ends at 10 ("\n"), across the first window's end (16383 "\r", 16384
  // "\n", 16385 "\r"), and none after 40000.
  std::string bytes(40001, 'x');
  bytes[10] = '\n';
  bytes[16383] = '\r';
  bytes[16384] = '\n';
  bytes[16385] = '\r';
  for (std::size_t i = 0; i < bytes.size(); i += 97) bytes[i] = static_cast<char>('a' + i % 26);
  TempFolder folder;
  const fs::path file = folder / "bytes.bin";
  WriteBytes(file, bytes);
  UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(fd);
  PdfInputSource source(fd.get(), bytes.size(), NativePathToText(file.string()));

  const EolCase cases[] = {
      {0, 10, 11}, {11, 16383, 16386}, {16384, 16384, 16386}, {30000, 40001, 40001}};
  for (const EolCase& c : cases) {
    SCOPED_TRACE(c.from);
    source.seek(c.from, SEEK_SET);
    EXPECT_EQ(source.findAndSkipNextEOL(), c.eol);
    EXPECT_EQ(source.tell(), c.after);
  }

  // One read across every window gives the file; a read at the end gives nothing.
  std::string whole(bytes.size() + 10, '\0');
  source.rewind();
  EXPECT_EQ(source.read(whole.data(), whole.size()), bytes.size());
  whole.resize(bytes.size());
  EXPECT_EQ(whole, bytes);
  EXPECT_EQ(source.read(whole.data(), 1), 0u);
  source.seek(-5, SEEK_END);
  char tail[5];
  ASSERT_EQ(source.read(tail, 5), 5u);
  EXPECT_EQ(std::string(tail, 5), bytes.substr(bytes.size() - 5));
  EXPECT_EQ(source.getLastOffset(), static_cast<qpdf_offset_t>(bytes.size() - 5));
  source.unreadCh(tail[4]);
  EXPECT_EQ(source.tell(), static_cast<qpdf_offset_t>(bytes.size() - 1));
}

}  // namespace
}  // namespace quavelle::docserver::testing
