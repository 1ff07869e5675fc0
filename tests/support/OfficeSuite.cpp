#include "OfficeSuite.h"

#include <sys/wait.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace quavelle::testing {
namespace fs = std::filesystem;
namespace {

const char kProfile[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Save/URL"><prop oor:name="FileSystem" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Save/URL"><prop oor:name="Internet" oor:op="fuse"><value>false</value></prop></item>
</oor:items>
)";

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

}  // namespace

OfficeSuite::OfficeSuite(fs::path work) : work_(std::move(work)) {
  fs::create_directories(work_ / "profile/user");
  fs::create_directories(work_ / "home");
  std::ofstream(work_ / "profile/user/registrymodifications.xcu") << kProfile;
}

bool OfficeSuite::Installed() { return std::system("command -v soffice >/dev/null 2>&1") == 0; }

std::vector<fs::path> OfficeSuite::Convert(const std::vector<fs::path>& inputs,
                                           const std::string& format,
                                           const fs::path& outDir) const {
  fs::create_directories(outDir);
  const fs::path log = work_ / "convert.log";
  std::string command = "HOME=" + Quoted(work_ / "home") +
                        " soffice --headless --norestore --nolockcheck -env:UserInstallation=" +
                        Quoted("file://" + (work_ / "profile").string()) + " --convert-to " +
                        Quoted(format) + " --outdir " + Quoted(outDir);
  for (const fs::path& input : inputs) command += " " + Quoted(input);
  const int status = std::system((command + " </dev/null >" + Quoted(log) + " 2>&1").c_str());
  std::vector<fs::path> out;
  for (const fs::path& input : inputs) {
    out.push_back(outDir / input.stem().concat("." + format.substr(0, format.find(':'))));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !fs::exists(out.back())) {
      std::ifstream in(log);
      throw std::runtime_error("the office suite wrote no " + out.back().string() + ":\n" +
                               std::string(std::istreambuf_iterator<char>(in), {}));
    }
  }
  return out;
}

std::string ReadDecoded(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace quavelle::testing
