// Rewriting real packages, written by the zip tool, by libzip and by an office
// suite, with some parts replaced: everything else must come through byte for
// byte, and the result must read back in other readers.
#include "services/docserver/ZipRewriter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>

#include "OfficeSuite.h"
#include "PackageFixture.h"
#include "ZipLayout.h"
#include "services/ServiceError.h"
#include "services/UniqueFd.h"

namespace quavelle::docserver::testing {
namespace {

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

void WriteFile(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

std::string Lines(const std::string& word, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += "<p n=\"" + std::to_string(i) + "\">" + word + "</p>\n";
  return text;
}

// The files the zip tool packs, in folder/src.
fs::path WriteSources(const TempFolder& folder) {
  const fs::path src = folder / "src";
  WriteFile(src / "mimetype", "application/vnd.oasis.opendocument.text");
  WriteFile(src / "META-INF/manifest.xml", "<manifest/>\n");
  WriteFile(src / "content.xml", Lines("content", 400));
  WriteFile(src / "styles.xml", Lines("style", 50));
  WriteFile(src / "Übersicht.xml", "<overview/>\n");
  return src;
}

// The sources packed by the zip tool into folder/name: commands run in the
// sources' folder, OUT standing for the package.
fs::path Zipped(const TempFolder& folder, const std::string& name, std::string commands) {
  const fs::path src = WriteSources(folder), out = folder / name;
  for (std::size_t at; (at = commands.find("OUT")) != std::string::npos;)
    commands.replace(at, 3, Quoted(out));
  EXPECT_EQ(Shell("cd " + Quoted(src) + " && " + commands), 0) << commands;
  return out;
}

// An OpenDocument-like package: mimetype first and stored without extra
// fields, then the rest deflated with the tool's extra fields.
fs::path ZipToolPackage(const TempFolder& folder) {
  return Zipped(folder, "zip.odt",
                "zip -q -X -0 OUT mimetype && zip -q -r OUT META-INF content.xml styles.xml "
                "Übersicht.xml");
}

// Written to a pipe: every entry has a data descriptor.
fs::path StreamedPackage(const TempFolder& folder) {
  const fs::path out = Zipped(folder, "streamed.zip",
                              "zip -q - mimetype content.xml styles.xml Übersicht.xml | cat > OUT");
  EXPECT_EQ(Le(ReadLayout(ReadBytes(out)).Record("content.xml").bytes, 8, 2) & 0x8, 0x8);
  return out;
}

// An entry read from standard input gets a zip64 field in its local header.
fs::path StdinPackage(const TempFolder& folder) {
  return Zipped(folder, "stdin.zip", "seq 1 3000 | zip -q OUT - && zip -q OUT content.xml");
}

fs::path LibzipPackage(const TempFolder& folder) {
  const fs::path out = folder / "libzip.odt";
  WritePackage(out, OdtWith({{"content.xml", OdfContent(Lines("content", 300))},
                             {"styles.xml", Lines("style", 20)}}));
  return out;
}

// libzip marks a name that is not ASCII as UTF-8.
fs::path NamedPackage(const TempFolder& folder) {
  const fs::path out = folder / "named.zip";
  WritePackage(out, {{"Übersicht.xml", Lines("overview", 30)}, {"plain.xml", "<plain/>"}});
  EXPECT_EQ(Le(ReadLayout(ReadBytes(out)).Record("Übersicht.xml").bytes, 8, 2) & 0x800, 0x800);
  return out;
}

// Bytes before the first entry, offsets adjusted to them, and an archive comment.
fs::path PrefixedPackage(const TempFolder& folder) {
  const fs::path plain = ZipToolPackage(folder);
  const fs::path out = folder / "prefixed.zip";
  WriteFile(out, std::string(1000, '#') + "stub\n" + ReadBytes(plain));
  EXPECT_EQ(Shell("zip -q -A " + Quoted(out) + " && echo 'a comment' | zip -q -z " + Quoted(out)),
            0);
  return out;
}

fs::path Transformed(const TempFolder& folder, const fs::path& from, const std::string& name,
                     const std::function<std::string(const std::string&)>& change) {
  const fs::path out = folder / name;
  WriteFile(out, change(ReadBytes(from)));
  // The input itself must be a package other readers accept.
  EXPECT_EQ(Shell("unzip -tq " + Quoted(out) + " >/dev/null"), 0) << name;
  return out;
}

fs::path OfficeSuitePackage(const TempFolder& folder) {
  if (!quavelle::testing::OfficeSuite::Installed()) return {};
  WriteFile(folder / "letter.txt", "Dear reader,\n\nsee the plan.\n");
  return quavelle::testing::OfficeSuite(folder / "suite")
      .Convert({folder / "letter.txt"}, "docx", folder.path())
      .at(0);
}

std::uint64_t IndexOf(const fs::path& package, const std::string& name) {
  int error = 0;
  zip_t* za = zip_open(package.c_str(), ZIP_RDONLY, &error);
  if (za == nullptr) throw std::runtime_error("zip_open failed");
  const zip_int64_t index = zip_name_locate(za, name.c_str(), ZIP_FL_ENC_RAW);
  zip_discard(za);
  if (index < 0) throw std::runtime_error("no entry " + name);
  return static_cast<std::uint64_t>(index);
}

void Rewrite(const fs::path& in, const std::map<std::uint64_t, std::string>& replacements,
             const fs::path& out, const FaultHook& faultHook = {}) {
  UniqueFd inFd(::open(in.c_str(), O_RDONLY | O_CLOEXEC));
  UniqueFd outFd(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  ASSERT_TRUE(inFd && outFd);
  struct stat st {};
  ASSERT_EQ(::fstat(inFd.get(), &st), 0);
  WritePackageReplacing(inFd.get(), static_cast<std::uint64_t>(st.st_size), replacements,
                        outFd.get(), faultHook, U16(in.string()));
}

std::map<std::uint64_t, std::string> NewParts(const fs::path& package,
                                              const std::vector<std::string>& names) {
  std::map<std::uint64_t, std::string> parts;
  for (const std::string& name : names)
    parts[IndexOf(package, name)] = "<replaced name=\"" + name + "\">" + Lines("new", 120);
  return parts;
}

std::vector<std::string> NamesByOffset(const Layout& layout) {
  std::vector<LayoutRecord> records = layout.records;
  std::ranges::sort(records, {}, &LayoutRecord::local);
  std::vector<std::string> names;
  for (const LayoutRecord& r : records) names.push_back(r.name);
  return names;
}

std::string Inflate(const std::string& raw, std::size_t size) {
  std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> d(
      libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
  std::string out(size, '\0');
  std::size_t got = 0;
  if (libdeflate_deflate_decompress(d.get(), raw.data(), raw.size(), out.data(), out.size(),
                                    &got) != LIBDEFLATE_SUCCESS) {
    return "(does not inflate)";
  }
  out.resize(got);
  return out;
}

// A directory record's size field, from its zip64 field when it is there.
std::uint64_t RecordSize(const std::string& record, bool compressed) {
  const std::size_t at = compressed ? 20 : 24;
  if (Le(record, at, 4) != 0xFFFFFFFF) return Le(record, at, 4);
  const std::string field = Zip64Field(record, 46 + Le(record, 28, 2), Le(record, 30, 2));
  const bool afterUncompressed = compressed && Le(record, 24, 4) == 0xFFFFFFFF;
  return Le(field, afterUncompressed ? 8 : 0, 8);
}

std::uint64_t ExpectedFlags(std::uint64_t flags, std::uint64_t method) {
  flags &= ~std::uint64_t{8};
  return method == 8 ? flags & ~std::uint64_t{6} : flags;
}

// A replaced entry's directory record and local header against the old ones.
void ExpectReplaced(const std::string& in, const LayoutRecord& was, const std::string& out,
                    const LayoutRecord& now, const std::string& data) {
  SCOPED_TRACE(now.name);
  const std::uint32_t crc = libdeflate_crc32(0, data.data(), data.size());
  const std::string& a = was.bytes;
  const std::string& b = now.bytes;
  EXPECT_EQ(Le(b, 6, 2), Le(a, 6, 2)) << "version needed";
  EXPECT_EQ(Le(b, 8, 2), ExpectedFlags(Le(a, 8, 2), Le(a, 10, 2))) << "flags";
  EXPECT_EQ(Le(b, 10, 2), Le(a, 10, 2)) << "method";
  EXPECT_EQ(Le(b, 12, 4), Le(a, 12, 4)) << "timestamp";
  EXPECT_EQ(Le(b, 16, 4), crc);
  EXPECT_EQ(RecordSize(b, false), data.size());
  EXPECT_EQ(WithoutZip64(b).substr(46), WithoutZip64(a).substr(46))
      << "name, extra fields, comment";
  EXPECT_EQ(Le(b, 30, 2), Le(a, 30, 2)) << "no zip64 field added or dropped";

  const std::size_t wasAt = was.local, nowAt = now.local;
  ASSERT_EQ(out.compare(nowAt, 4, "PK\3\4"), 0);
  EXPECT_EQ(Le(out, nowAt + 4, 2), Le(in, wasAt + 4, 2)) << "local version needed";
  EXPECT_EQ(Le(out, nowAt + 6, 2), ExpectedFlags(Le(in, wasAt + 6, 2), Le(in, wasAt + 8, 2)));
  EXPECT_EQ(Le(out, nowAt + 8, 6), Le(in, wasAt + 8, 6)) << "local method and timestamp";
  EXPECT_EQ(Le(out, nowAt + 14, 4), crc);
  const std::size_t nameLength = Le(out, nowAt + 26, 2), extraLength = Le(out, nowAt + 28, 2);
  const std::string wasHeaderTail =
      in.substr(wasAt + 30, Le(in, wasAt + 26, 2) + Le(in, wasAt + 28, 2));
  const std::string headerTail = out.substr(nowAt + 30, nameLength + extraLength);
  const std::uint64_t compressed = RecordSize(b, true);
  if (!Zip64Field(wasHeaderTail, nameLength, wasHeaderTail.size() - nameLength).empty()) {
    EXPECT_EQ(headerTail.size(), wasHeaderTail.size());
    EXPECT_EQ(Le(out, nowAt + 18, 8), 0xFFFFFFFFFFFFFFFF) << "sizes are in the zip64 field";
    EXPECT_EQ(Le(headerTail, nameLength + 4, 8), data.size());
    EXPECT_EQ(Le(headerTail, nameLength + 12, 8), compressed);
  } else {
    EXPECT_EQ(headerTail, wasHeaderTail) << "local name and extra fields";
    EXPECT_EQ(Le(out, nowAt + 18, 4), compressed);
    EXPECT_EQ(Le(out, nowAt + 22, 4), data.size());
  }
  const std::string raw = out.substr(nowAt + 30 + nameLength + extraLength, compressed);
  EXPECT_EQ(Le(b, 10, 2) == 0 ? raw : Inflate(raw, data.size()), data);
}

struct Producer {
  std::string name;
  std::function<fs::path(const TempFolder&)> make;
  std::vector<std::string> replaced;
};

void PrintTo(const Producer& producer, std::ostream* os) { *os << producer.name; }

std::vector<Producer> Producers() {
  auto zip64 = [](const TempFolder& f) {
    return Transformed(f, ZipToolPackage(f), "zip64.odt",
                       [](const std::string& b) { return AsZip64(b); });
  };
  return {
      {"ZipTool", ZipToolPackage, {"content.xml"}},
      {"ZipToolThreeParts", ZipToolPackage, {"mimetype", "content.xml", "Übersicht.xml"}},
      {"DataDescriptors", StreamedPackage, {"content.xml", "styles.xml"}},
      {"LocalZip64Field", StdinPackage, {"-"}},
      {"Libzip", LibzipPackage, {"mimetype", "content.xml"}},
      {"Utf8Name", NamedPackage, {"Übersicht.xml"}},
      {"PrefixAndComment", PrefixedPackage, {"mimetype"}},
      {"Zip64", zip64, {"content.xml", "styles.xml"}},
      {"Zip64Sizes",
       [](const TempFolder& f) {
         return Transformed(f, ZipToolPackage(f), "zip64-sizes.odt",
                            [](const std::string& b) { return AsZip64(b, true); });
       },
       {"mimetype", "styles.xml"}},
      {"DirectoryOutOfOrder",
       [](const TempFolder& f) {
         return Transformed(f, ZipToolPackage(f), "rotated.odt", WithRotatedDirectory);
       },
       {"mimetype", "styles.xml"}},
      {"Zip64OutOfOrder",
       [zip64](const TempFolder& f) {
         return Transformed(f, zip64(f), "zip64-rotated.odt", WithRotatedDirectory);
       },
       {"content.xml"}},
      {"OfficeSuite", OfficeSuitePackage, {"word/document.xml", "docProps/app.xml"}},
  };
}

class ZipRewriteProducer : public ::testing::TestWithParam<Producer> {};

TEST_P(ZipRewriteProducer, KeepsEveryOtherByteAndReadsBack) {
  TempFolder folder;
  const Producer& producer = GetParam();
  const fs::path inPath = producer.make(folder);
  if (inPath.empty()) GTEST_SKIP() << "no office suite to write the package";
  const fs::path outPath = folder / ("out-" + inPath.filename().string());
  const std::map<std::uint64_t, std::string> parts = NewParts(inPath, producer.replaced);
  ASSERT_NO_THROW(Rewrite(inPath, parts, outPath));

  const std::string in = ReadBytes(inPath), out = ReadBytes(outPath);
  const Layout was = ReadLayout(in), now = ReadLayout(out);
  ASSERT_EQ(now.records.size(), was.records.size());
  EXPECT_EQ(out.substr(0, now.FirstLocal()), in.substr(0, was.FirstLocal())) << "prefix";
  EXPECT_EQ(out.substr(now.endAt + 22), in.substr(was.endAt + 22)) << "comment";
  EXPECT_EQ(out.substr(now.endAt + 20, 2), in.substr(was.endAt + 20, 2)) << "comment length";
  EXPECT_EQ(NamesByOffset(now), NamesByOffset(was)) << "entries stay in file order";
  EXPECT_EQ(now.zip64, was.zip64);

  const auto wasRanges = was.Ranges(in), nowRanges = now.Ranges(out);
  for (std::size_t i = 0; i < was.records.size(); ++i) {
    const LayoutRecord& a = was.records[i];
    const LayoutRecord& b = now.records[i];
    ASSERT_EQ(b.name, a.name) << "directory order";
    EXPECT_EQ(b.zip64OffsetAt != 0, a.zip64OffsetAt != 0) << a.name;
    EXPECT_EQ(out.compare(b.local, 4, "PK\3\4"), 0) << a.name;
    if (const auto part = parts.find(i); part != parts.end()) {
      ExpectReplaced(in, a, out, b, part->second);
    } else {
      EXPECT_EQ(nowRanges.at(a.name), wasRanges.at(a.name)) << a.name << ": local header and data";
      EXPECT_EQ(WithoutOffset(b), WithoutOffset(a)) << a.name << ": directory record";
    }
  }

  EXPECT_EQ(Shell("unzip -tq " + Quoted(outPath) + " >/dev/null"), 0);
  EXPECT_EQ(Shell("zipinfo -v " + Quoted(outPath) + " >/dev/null"), 0);
  std::vector<RawEntry> before = ReadEntries(inPath, false), after = ReadEntries(outPath, false);
  for (const auto& [index, data] : parts) before.at(index).bytes = data;
  EXPECT_EQ(after, before) << "libzip reads every part back, checksums checked";
}

INSTANTIATE_TEST_SUITE_P(Producers, ZipRewriteProducer, ::testing::ValuesIn(Producers()),
                         [](const auto& info) { return info.param.name; });

// Entries another method wrote are copied, but cannot be replaced.
struct Refusal {
  std::string name;
  std::string zipOptions;
};

void PrintTo(const Refusal& refusal, std::ostream* os) { *os << refusal.name; }

class ZipRewriteRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(ZipRewriteRefusal, BeforeWritingAnything) {
  TempFolder folder;
  const fs::path package =
      Zipped(folder, "p.zip",
             "zip -q OUT styles.xml && zip -q " + GetParam().zipOptions + " OUT content.xml");
  const fs::path out = folder / "out.zip";
  EXPECT_EQ(ErrorNumber([&] { Rewrite(package, NewParts(package, {"content.xml"}), out); }), 1003);
  EXPECT_EQ(fs::file_size(out), 0u);

  Rewrite(package, NewParts(package, {"styles.xml"}), out);
  const std::string in = ReadBytes(package), written = ReadBytes(out);
  EXPECT_EQ(ReadLayout(written).Ranges(written).at("content.xml"),
            ReadLayout(in).Ranges(in).at("content.xml"));
  EXPECT_EQ(Shell("unzip -tq -P secret " + Quoted(out) + " >/dev/null"), 0);
}

INSTANTIATE_TEST_SUITE_P(Methods, ZipRewriteRefusal,
                         ::testing::Values(Refusal{"Encrypted", "-P secret"},
                                           Refusal{"Bzip2", "-Z bzip2"}),
                         [](const auto& info) { return info.param.name; });

// A damaged directory, made from a good package's bytes.
struct Damage {
  std::string name;
  std::function<std::string(const std::string&, const Layout&)> apply;
};

void PrintTo(const Damage& damage, std::ostream* os) { *os << damage.name; }

std::vector<Damage> Damages() {
  auto setEnd = [](std::size_t at, std::uint64_t value, int width) {
    return [=](const std::string& bytes, const Layout& layout) {
      std::string out = bytes;
      SetLe(out, layout.endAt + at, value, width);
      return out;
    };
  };
  auto setRecord = [](std::size_t record, std::size_t at, std::uint64_t value, int width) {
    return [=](const std::string& bytes, const Layout& layout) {
      std::string out = bytes;
      SetLe(out, layout.records.at(record).at + at, value, width);
      return out;
    };
  };
  auto onZip64 = [](std::size_t locatorAt, std::uint64_t value, bool inRecord) {
    return [=](const std::string& bytes, const Layout&) {
      std::string out = AsZip64(bytes);
      const std::size_t locator = out.rfind(std::string("PK\6\7", 4));
      const std::size_t at = inRecord ? Le(out, locator + 8, 8) + locatorAt : locator + locatorAt;
      SetLe(out, at, value, 8);
      return out;
    };
  };
  return {
      {"Empty", [](const std::string&, const Layout&) { return std::string(); }},
      {"EndRecordCut",
       [](const std::string& b, const Layout&) { return b.substr(0, b.size() - 10); }},
      {"NoEndRecord", [](const std::string& b, const Layout& l) { return b.substr(0, l.endAt); }},
      {"CommentPastTheEnd", setEnd(20, 200, 2)},
      {"DirectoryPastTheEnd", setEnd(16, 1 << 20, 4)},
      {"DirectorySizePastTheEnd", setEnd(12, 1 << 20, 4)},
      {"DirectoryOverTheCap", setEnd(12, 300u << 20, 4)},
      {"CountTooHigh",
       [=](const std::string& b, const Layout& l) {
         return setEnd(8, l.records.size() + 1, 2)(setEnd(10, l.records.size() + 1, 2)(b, l), l);
       }},
      {"CountTooLow",
       [=](const std::string& b, const Layout& l) {
         return setEnd(8, l.records.size() - 1, 2)(setEnd(10, l.records.size() - 1, 2)(b, l), l);
       }},
      {"CountsDisagree", setEnd(8, 1, 2)},
      {"SpansDisks", setEnd(4, 1, 2)},
      {"RecordSignature", setRecord(1, 0, 0x12345678, 4)},
      {"NameRunsPastDirectory", setRecord(3, 28, 0xFFFF, 2)},
      {"ExtraRunsPastDirectory", setRecord(3, 30, 0x8000, 2)},
      {"LocalOffsetPastDirectory",
       [](const std::string& b, const Layout& l) {
         std::string out = b;
         SetLe(out, l.records[1].at + 42, l.centralOffset + 2, 4);
         return out;
       }},
      {"LocalOffsetPastTheEnd", setRecord(2, 42, 0x7FFFFFF0, 4)},
      {"SharedData",
       [](const std::string& b, const Layout& l) {
         std::string out = b;
         SetLe(out, l.records[2].at + 42, l.records[1].local, 4);
         return out;
       }},
      {"DataRunsIntoTheNextEntry", setRecord(1, 20, 0x10000, 4)},
      {"Zip64MarkerWithoutField", setRecord(1, 42, 0xFFFFFFFF, 4)},
      {"StartsOnAnotherDisk", setRecord(1, 34, 3, 2)},
      {"LocalHeaderMissing",
       [](const std::string& b, const Layout& l) {
         std::string out = b;
         out[l.records[0].local] = 'X';
         return out;
       }},
      {"LocalNameRunsPastData",
       [](const std::string& b, const Layout& l) {
         std::string out = b;
         SetLe(out, l.records[0].local + 26, 0xFFFF, 2);
         return out;
       }},
      {"Zip64LocatorPastTheEnd", onZip64(8, 1ull << 40, false)},
      {"Zip64LocatorAtTheLocator",
       [](const std::string& b, const Layout&) {
         std::string out = AsZip64(b);
         const std::size_t locator = out.rfind(std::string("PK\6\7", 4));
         SetLe(out, locator + 8, locator, 8);
         return out;
       }},
      {"Zip64RecordHuge", onZip64(4, 1ull << 40, true)},
      {"Zip64DirectoryPastTheEnd", onZip64(48, 1ull << 33, true)},
      {"Zip64CountHuge",
       [](const std::string& b, const Layout&) {
         std::string out = AsZip64(b);
         const std::size_t record = Le(out, out.rfind(std::string("PK\6\7", 4)) + 8, 8);
         SetLe(out, record + 24, 1ull << 62, 8);
         SetLe(out, record + 32, 1ull << 62, 8);
         return out;
       }},
      {"Zip64FieldCut",
       [](const std::string& b, const Layout&) {
         std::string out = AsZip64(b);
         // The first record's zip64 field says it holds 4 bytes, not 8.
         const std::size_t record = ReadLayout(out).records[0].at;
         const std::size_t extraAt = record + 46 + Le(out, record + 28, 2);
         const std::size_t field = out.find(std::string("\1\0\x08\0", 4), extraAt);
         SetLe(out, field + 2, 4, 2);
         SetLe(out, field + 8, 0x00040001, 4);  // the rest, as a block of its own
         return out;
       }},
  };
}

class ZipRewriteDamage : public ::testing::TestWithParam<Damage> {};

TEST_P(ZipRewriteDamage, IsRefusedAsDamaged) {
  TempFolder folder;
  const fs::path good = folder / "good.docx";
  WritePackage(good, DocxWith({{"word/styles.xml", Lines("style", 40)}}));
  const std::string bytes = ReadBytes(good);
  const fs::path bad = folder / "bad.docx";
  WriteFile(bad, GetParam().apply(bytes, ReadLayout(bytes)));
  ASSERT_NE(ReadBytes(bad), bytes);
  EXPECT_TRUE(FailsNaming(1003, U16(bad.string()), [&] {
    Rewrite(bad, {{0, "<new/>"}}, folder / "out.docx");
  }));
}

INSTANTIATE_TEST_SUITE_P(Directories, ZipRewriteDamage, ::testing::ValuesIn(Damages()),
                         [](const auto& info) { return info.param.name; });

// Bytes some writers leave after the directory stay where they were: dropped,
// the directory's last bytes could be read as a zip64 locator.
TEST(ZipRewrite, KeepsTheBytesAfterTheDirectoryAndAfterTheZip64Record) {
  const std::string junk = "PK\6\7 left here";
  struct Case {
    const char* name;
    std::function<std::string(const std::string&)> make;
    std::size_t junkBeforeEnd;  // how far before the end record the junk ends
  };
  const std::vector<Case> cases = {
      {"after the directory",
       [&](const std::string& b) {
         return b.substr(0, b.size() - 22) + junk + b.substr(b.size() - 22);
       },
       0},
      {"after the zip64 record",
       [&](const std::string& b) {
         const std::string z = AsZip64(b);
         return z.substr(0, z.size() - 42) + junk + z.substr(z.size() - 42);
       },
       20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const fs::path in = folder / "in.odt";
    WriteFile(in, c.make(ReadBytes(ZipToolPackage(folder))));
    const fs::path out = folder / "out.odt";
    ASSERT_NO_THROW(Rewrite(in, NewParts(in, {"content.xml"}), out));
    const std::string bytes = ReadBytes(out);
    const std::size_t end = bytes.size() - 22;
    EXPECT_EQ(bytes.substr(end - c.junkBeforeEnd - junk.size(), junk.size()), junk);
    EXPECT_NO_THROW(ReadLayout(bytes));
    // Another reader finds no more fault in it than in the original.
    EXPECT_EQ(Shell("unzip -tq " + Quoted(out) + " >/dev/null 2>&1"),
              Shell("unzip -tq " + Quoted(in) + " >/dev/null 2>&1"));
  }
}

TEST(ZipRewrite, RefusesAPartNumberItDoesNotHave) {
  TempFolder folder;
  const fs::path package = LibzipPackage(folder);
  EXPECT_EQ(ErrorNumber([&] { Rewrite(package, {{99, "x"}}, folder / "out.odt"); }), 1003);
}

// Every write can fail, and fails with its errno's error.
TEST(ZipRewrite, FailsWithTheErrorOfAnyWrite) {
  TempFolder folder;
  const fs::path package = PrefixedPackage(folder);
  const auto parts = NewParts(package, {"content.xml", "Übersicht.xml"});
  int writes = 0;
  Rewrite(package, parts, folder / "out.zip", [&](ReplaceStep step) {
    writes += step == ReplaceStep::Write;
    return 0;
  });
  // Prefix and mimetype, two replaced parts, the range between, directory, comment.
  ASSERT_GE(writes, 6);
  for (const auto& [error, number] : {std::pair{ENOSPC, 61}, {EIO, 75}, {EACCES, 70}}) {
    for (int failing = 1; failing <= writes; ++failing) {
      int seen = 0;
      EXPECT_EQ(ErrorNumber([&] {
                  Rewrite(package, parts, folder / "out.zip", [&](ReplaceStep step) {
                    return step == ReplaceStep::Write && ++seen == failing ? error : 0;
                  });
                }),
                number)
          << "write " << failing;
    }
  }
}

}  // namespace
}  // namespace quavelle::docserver::testing
