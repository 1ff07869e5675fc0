#include "PdfFixture.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <gtest/gtest.h>

#include "services/Text.h"
#include "services/UniqueFd.h"
#include "services/docserver/PdfContent.h"

namespace quavelle::docserver::testing {

void WriteBytes(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!(out << bytes).flush()) throw std::runtime_error("cannot write " + file.string());
}

std::string ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

LoadedPdf LoadPdf(const fs::path& file) {
  const std::u16string path = NativePathToText(file.string());
  LoadedPdf loaded;
  loaded.file = std::make_unique<DocumentFile>(DocumentFile::Open(path));
  loaded.content = CreatePdfContent(path);
  loaded.content->Load(*loaded.file);
  const std::size_t count = loaded.content->ListLinks();
  for (std::size_t i = 0; i < count; ++i) loaded.links.push_back(loaded.content->AbsolutePath(i));
  return loaded;
}

void WriteChangedTo(DocumentContent& content, const fs::path& out) {
  UniqueFd fd(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) throw std::runtime_error("cannot create " + out.string());
  content.WriteChanged(fd.get(), nullptr);
}

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen((command + " 2>&1").c_str(), "r"), ::pclose);
  if (!pipe) throw std::runtime_error("cannot run " + command);
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) {
    result.output.append(buffer, n);
  }
  const int status = ::pclose(pipe.release());
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  return result;
}

bool HaveCommand(const std::string& name) {
  return RunCommand("command -v " + name + " >/dev/null").status == 0;
}

std::string Quoted(const fs::path& file) { return "'" + file.string() + "'"; }

std::string QpdfJson(const fs::path& file) {
  CommandResult result = RunCommand("qpdf --json=2 --json-key=qpdf " + Quoted(file));
  if (result.status != 0) throw std::runtime_error("qpdf --json failed: " + result.output);
  return result.output;
}

std::string JsonText(const std::string& utf8) {
  std::string out = "\"u:";
  for (char c : utf8) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

void ExpectSoundUpdate(const fs::path& original, const fs::path& updated) {
  const std::string before = ReadBytes(original);
  const std::string after = ReadBytes(updated);
  ASSERT_GT(after.size(), before.size());
  EXPECT_EQ(after.substr(0, before.size()), before) << "the original is not the prefix";
  const CommandResult check = RunCommand("qpdf --check " + Quoted(updated));
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_EQ(check.output.find("WARNING"), std::string::npos) << check.output;
}

std::string CaptureStderr(const std::function<void()>& body) {
  char name[] = "/tmp/pdf-stderr-XXXXXX";
  UniqueFd file(::mkstemp(name));
  if (!file) throw std::runtime_error("cannot create a file for standard error");
  ::unlink(name);
  std::fflush(stderr);
  UniqueFd saved(::dup(STDERR_FILENO));
  ::dup2(file.get(), STDERR_FILENO);
  try {
    body();
  } catch (...) {
    std::fflush(stderr);
    ::dup2(saved.get(), STDERR_FILENO);
    throw;
  }
  std::fflush(stderr);
  ::dup2(saved.get(), STDERR_FILENO);
  std::string written;
  char buffer[4096];
  for (ssize_t n;
       (n = ::pread(file.get(), buffer, sizeof buffer, static_cast<off_t>(written.size()))) > 0;) {
    written.append(buffer, static_cast<std::size_t>(n));
  }
  return written;
}

}  // namespace quavelle::docserver::testing
