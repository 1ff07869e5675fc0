#include "LegacyFixture.h"

#include <fcntl.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "services/Text.h"
#include "services/UniqueFd.h"
#include "services/docserver/LegacyContent.h"

namespace quavelle::testing {
namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  if (!(out << bytes).flush()) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

namespace {

// Saves file references as absolute URLs, so links to other drives stay put.

void Run(const std::string& command, const fs::path& log) {
  const int status = std::system((command + " </dev/null >" + log.string() + " 2>&1").c_str());
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(command + " failed:\n" + ReadFile(log));
}

// Prints each stream as: name, a tab, its bytes in hex; one stream a line.
const char kStreamDump[] = R"(import olefile, sys
with olefile.OleFileIO(sys.argv[1]) as f:
    for parts in f.listdir(streams=True, storages=False):
        print('/'.join(parts) + '\t' + f.openstream(parts).read().hex())
)";

}  // namespace

void Convert(const fs::path& work, const std::string& format, const fs::path& outDir,
             const std::vector<fs::path>& inputs) {
  OfficeSuite(work).Convert(inputs, format, outDir);
}

std::map<std::string, std::string> ReadStreams(const fs::path& path) {
  const fs::path script = path.parent_path() / "dump-streams.py";
  const fs::path out = path.parent_path() / (path.filename().string() + ".streams");
  WriteFile(script, kStreamDump);
  Run("(/usr/bin/python3 " + script.string() + " " + path.string() + " >" + out.string() + ")",
      path.parent_path() / "dump.log");
  std::map<std::string, std::string> streams;
  std::ifstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) throw std::runtime_error("stream dump: " + line);
    std::string bytes;
    for (std::size_t i = tab + 1; i + 1 < line.size(); i += 2)
      bytes.push_back(static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16)));
    streams[line.substr(0, tab)] = bytes;
  }
  return streams;
}

std::unique_ptr<Opened> Load(const fs::path& path) {
  const std::u16string name = NativePathToText(path.string());
  auto o = std::make_unique<Opened>(Opened{
      docserver::DocumentFile::Open(name),
      docserver::LegacyContentForExtension(NativePathToText(path.extension().string()), name)});
  if (!o->content) throw std::runtime_error("no content for " + path.string());
  o->content->Load(o->file);
  return o;
}

std::multiset<std::u16string> Links(docserver::DocumentContent& content) {
  std::multiset<std::u16string> out;
  const std::size_t n = content.ListLinks();
  for (std::size_t i = 0; i < n; ++i) out.insert(content.AbsolutePath(i));
  return out;
}

void Rewrite(const fs::path& source, const fs::path& target, const std::u16string& from,
             const std::u16string& to) {
  auto o = Load(source);
  const std::size_t n = o->content->ListLinks();
  for (std::size_t i = 0; i < n; ++i) {
    if (o->content->AbsolutePath(i) == from) o->content->Repoint(i, to);
  }
  if (!o->content->HasChanges()) throw std::runtime_error("nothing changed in " + source.string());
  UniqueFd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!out) throw std::runtime_error("cannot create " + target.string());
  o->content->WriteChanged(out.get(), nullptr);
}

std::string AsUrl(const std::u16string& path) {
  std::string p = ToUtf8(path);
  for (char& c : p) c = c == '\\' ? '/' : c;
  return p.rfind("//", 0) == 0 ? "file:" + p : "file:///" + p;
}

}  // namespace quavelle::testing
