#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quavelle::testing {

// An office suite run headless, with a throw-away profile (which saves file
// references as absolute URLs) and home under a work folder.
class OfficeSuite {
 public:
  explicit OfficeSuite(std::filesystem::path work);
  static bool Installed();

  // Converts the inputs in one start of the suite to outDir/<stem>.<extension>,
  // format as --convert-to takes it ("pdf:writer_pdf_Export:{...}"); the
  // converted files. Throws with the suite's output when one is missing.
  std::vector<std::filesystem::path> Convert(const std::vector<std::filesystem::path>& inputs,
                                             const std::string& format,
                                             const std::filesystem::path& outDir) const;

 private:
  std::filesystem::path work_;
};

// The text of a flat file the suite wrote, with %XX escapes undone, so that
// references read the same however the suite escaped them.
std::string ReadDecoded(const std::filesystem::path& path);

}  // namespace quavelle::testing
