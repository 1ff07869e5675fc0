// The compound file reader on damaged files, and the writer: every stream it
// does not replace reads back byte for byte with an independent reader.
#include "services/docserver/CompoundFile.h"

#include <fcntl.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "LegacyFixture.h"
#include "SuiteSamples.h"
#include "TempFolder.h"
#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/UniqueFd.h"
#include "services/docserver/DocumentFile.h"
#include "services/docserver/LegacyContent.h"

namespace quavelle {
namespace {

namespace fs = std::filesystem;
using docserver::CompoundFile;
using testing::ReadFile;
using testing::Samples;

std::uint32_t Get32(const std::string& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}

void Set32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

// Offset of the directory entry named name (512-byte sectors).
std::size_t EntryOffset(const std::string& file, std::u16string_view name) {
  std::string wide;
  for (char16_t c : name) wide += {static_cast<char>(c), '\0'};
  const std::size_t dir = (std::size_t{Get32(file, 48)} + 1) * 512;
  for (std::size_t at = dir; at + 128 <= file.size(); at += 128) {
    if (file.compare(at, wide.size(), wide) == 0) return at;
  }
  throw std::runtime_error("no entry");
}

std::size_t FatEntryOffset(const std::string& file, std::uint32_t sector) {
  return (std::size_t{Get32(file, 76)} + 1) * 512 + 4 * sector;
}

struct Damage {
  const char* name;
  std::function<void(std::string&)> apply;
};

const Damage kDamages[] = {
    {"directory chain loops",
     [](std::string& f) {
       const std::uint32_t dir = Get32(f, 48);
       Set32(f, FatEntryOffset(f, dir), dir);
     }},
    {"directory sector out of range", [](std::string& f) { Set32(f, 48, 0x00FFFFF0); }},
    {"FAT sector out of range", [](std::string& f) { Set32(f, 76, 0x0000FFF0); }},
    {"stream size past its sectors",
     [](std::string& f) { Set32(f, EntryOffset(f, u"Workbook") + 120, 4000); }},
    {"stream larger than the file",
     [](std::string& f) { Set32(f, EntryOffset(f, u"Workbook") + 120, 0x7FFFFF00); }},
    {"directory tree loops",
     [](std::string& f) {
       const std::size_t root = EntryOffset(f, u"Root Entry");
       const std::uint32_t child = Get32(f, root + 76);
       const std::size_t dir = (std::size_t{Get32(f, 48)} + 1) * 512;
       Set32(f, dir + 128 * child + 68, child);
     }},
    {"mini stream chain loops",
     [](std::string& f) {
       const std::uint32_t start = Get32(f, EntryOffset(f, u"Workbook") + 116);
       Set32(f, (std::size_t{Get32(f, 60)} + 1) * 512 + 4 * start, start);
     }},
    {"cut short", [](std::string& f) { f.resize(1500); }},
    {"header only", [](std::string& f) { f.resize(512); }},
};

TEST(CompoundFile, DamagedFilesFailNamingTheFile) {
  testing::TempFolder dir;
  const std::string original = ReadFile(Samples().links());
  for (const Damage& damage : kDamages) {
    std::string bytes = original;
    damage.apply(bytes);
    const fs::path path = dir / "damaged.xls";
    testing::WriteFile(path, bytes);
    const std::u16string name = NativePathToText(path.string());
    try {
      docserver::DocumentFile file = docserver::DocumentFile::Open(name);
      auto content = docserver::LegacyContentForExtension(u".xls", name);
      content->Load(file);
      ADD_FAILURE() << damage.name << ": loaded";
    } catch (const ServiceError& e) {
      EXPECT_EQ(e.number(), 1003) << damage.name << ": " << ToUtf8(e.description());
      EXPECT_NE(e.description().find(u"damaged.xls"), std::u16string::npos) << damage.name;
    }
  }
}

TEST(CompoundFile, OtherBytesUnderABinaryNameAreNoCompoundFile) {
  testing::TempFolder dir;
  const fs::path path = dir / "saved-as-web-page.xls";
  testing::WriteFile(path, "<html><body><table><tr><td>1</td></tr></table></body></html>");
  const std::u16string name = NativePathToText(path.string());
  docserver::DocumentFile file = docserver::DocumentFile::Open(name);
  EXPECT_FALSE(docserver::IsCompoundFile(file.fd()));
  EXPECT_EQ(docserver::LegacyContentForBytes(file.fd(), name), nullptr);
  try {
    docserver::LegacyContentForExtension(u".xls", name)->Load(file);
    ADD_FAILURE() << "loaded";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), 1001);
  }
}

TEST(CompoundFile, EncryptedWorkbookIsRefused) {
  // The suite saves no encrypted binary workbook headless; mark the record
  // after the first BOF as the encryption header instead.
  testing::TempFolder dir;
  std::string bytes = ReadFile(Samples().links());
  const std::string bof("\x09\x08\x10\x00\x00\x06\x05\x00", 8);
  const std::size_t at = bytes.find(bof);
  ASSERT_NE(at, std::string::npos);
  bytes[at + 20] = 0x2F;
  bytes[at + 21] = 0x00;
  const fs::path path = dir / "locked.xls";
  testing::WriteFile(path, bytes);
  const std::u16string name = NativePathToText(path.string());
  docserver::DocumentFile file = docserver::DocumentFile::Open(name);
  auto content = docserver::LegacyContentForExtension(u".xls", name);
  try {
    content->Load(file);
    ADD_FAILURE() << "loaded";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), 1002);
    EXPECT_NE(e.description().find(u"encrypted"), std::u16string::npos);
    EXPECT_NE(e.description().find(u"locked.xls"), std::u16string::npos);
  }
}

TEST(CompoundFile, ContentIsChosenByStreamsWhateverTheName) {
  testing::TempFolder dir;
  const fs::path renamed = dir / "really-a-workbook.docx";
  fs::copy_file(Samples().links(), renamed);
  const std::u16string name = NativePathToText(renamed.string());
  docserver::DocumentFile file = docserver::DocumentFile::Open(name);
  ASSERT_TRUE(docserver::IsCompoundFile(file.fd()));
  auto content = docserver::LegacyContentForBytes(file.fd(), name);
  ASSERT_NE(content, nullptr);
  content->Load(file);
  EXPECT_EQ(content->ListLinks(), 4u);
}

// Parts read through a stream's chain, straight from the file, match the
// whole stream's bytes, across sector runs and in the mini stream.
TEST(CompoundFile, StreamPartsMatchTheWholeStream) {
  struct Part {
    const char* name;
    fs::path source;
    std::uint64_t at;
    std::size_t length;  // SIZE_MAX: to the end
  };
  const Part kParts[] = {
      {"regular: first bytes", Samples().big(), 0, 10},
      {"regular: across a sector", Samples().big(), 500, 30},
      {"regular: many sectors", Samples().big(), 1000, 70000},
      {"regular: the tail", Samples().big(), 3, SIZE_MAX},
      {"mini: across mini sectors", Samples().links(), 60, 10},
      {"mini: whole", Samples().links(), 0, SIZE_MAX},
      {"mini: last byte", Samples().links(), 0, 1},
  };
  for (const Part& p : kParts) {
    const std::u16string name = NativePathToText(p.source.string());
    docserver::DocumentFile file = docserver::DocumentFile::Open(name);
    CompoundFile compound(file.fd(), file.identity().size, name);
    const auto entry = compound.Find({u"Workbook"});
    ASSERT_TRUE(entry) << p.name;
    const std::string whole = compound.ReadStream(*entry);
    ASSERT_LE(p.at, whole.size()) << p.name;
    const std::size_t length = std::min(p.length, whole.size() - p.at);
    std::string part(length, '\0');
    const auto chain = compound.StreamChain(*entry);
    compound.ReadStreamPart(*entry, chain, p.at, part.data(), part.size());
    EXPECT_EQ(part, whole.substr(p.at, length)) << p.name;
    EXPECT_THROW(compound.ReadStreamPart(*entry, chain, whole.size() - 1, part.data(), 2),
                 ServiceError)
        << p.name;
  }
}

struct Replacement {
  const char* name;
  fs::path source;
  std::u16string stream;
  std::function<std::string(std::string)> change;
};

TEST(CompoundFile, WriterKeepsEveryOtherStream) {
  const Replacement kReplacements[] = {
      {"same length", Samples().big(), u"Workbook",
       [](std::string s) {
         if (s.size() > 5000) s.replace(5000, 1, 1, static_cast<char>(s.at(5000) ^ 0x55));
         return s;
       }},
      {"grows past many sectors (the FAT grows)", Samples().big(), u"Workbook",
       [](std::string s) { return s + std::string(300000, 'g'); }},
      {"shrinks into the mini stream", Samples().big(), u"Workbook",
       [](std::string s) { return s.substr(0, 100); }},
      {"grows out of the mini stream", Samples().links(), u"\x05SummaryInformation",
       [](std::string s) { return s + std::string(5000, 's'); }},
      {"grows inside the mini stream", Samples().links(), u"Workbook",
       [](std::string s) { return s + std::string(700, 'w'); }},
      {"empties", Samples().links(), u"\x01Ole", [](std::string) { return std::string(); }},
  };
  testing::TempFolder dir;
  for (const Replacement& r : kReplacements) {
    const std::string original = ReadFile(r.source);
    CompoundFile file(original, u"x");
    const auto entry = file.Find({r.stream});
    ASSERT_TRUE(entry) << r.name;
    const std::string replaced = r.change(file.ReadStream(*entry));
    const fs::path out = dir / "out.bin";
    {
      UniqueFd in(::open(r.source.c_str(), O_RDONLY | O_CLOEXEC));
      UniqueFd fd(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
      file.Write({{*entry, replaced}}, in.get(), fd.get(), nullptr);
    }
    const auto before = testing::ReadStreams(r.source), after = testing::ReadStreams(out);
    const std::string key = ToUtf8(r.stream);
    ASSERT_EQ(before.size(), after.size()) << r.name;
    for (const auto& [name, bytes] : before) {
      if (name == key) {
        EXPECT_EQ(after.at(name), replaced) << r.name;
      } else {
        EXPECT_EQ(after.at(name), bytes) << r.name << ": " << name;
      }
    }
    // Our own reader agrees, and checks the tables the other one trusts.
    CompoundFile again(ReadFile(out), u"out");
    EXPECT_EQ(again.ReadStream(*again.Find({r.stream})), replaced) << r.name;
    if (std::string(r.name) == "same length") {
      const std::string written = ReadFile(out);
      ASSERT_EQ(written.size(), original.size());
      int sectors = 0;
      for (std::size_t s = 0; s < written.size(); s += 512)
        sectors += written.compare(s, 512, original, s, 512) != 0;
      EXPECT_EQ(sectors, 1);  // only the sector holding the changed byte
    }
  }
}

}  // namespace
}  // namespace quavelle
