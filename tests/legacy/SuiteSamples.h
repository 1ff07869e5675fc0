#pragma once

#include <filesystem>
#include <string>

// Binary office files the office suite writes for the whole test program,
// each kind when first asked for (a test run alone converts only its kind).
namespace quavelle::testing {

class SuiteSamples {
 public:
  // Workbooks. Small: the workbook stream sits in the mini stream.
  const std::filesystem::path& links() const;
  // The same links and a long second sheet: a regular stream.
  const std::filesystem::path& big() const;
  // The long sheet first, the links on the sheet after it.
  const std::filesystem::path& later() const;
  const std::filesystem::path& noLinks() const;  // numbers only
  // Hyperlinks (one target twice, one web address), a linked picture.
  const std::filesystem::path& doc() const;
  // A hyperlink in each story: main text, header, footer, footnote,
  // endnote, text box.
  const std::filesystem::path& stories() const;
  // Hyperlinks on two slides (one target on both), one web address.
  const std::filesystem::path& ppt() const;
  // A folder for the office suite's profile.
  const std::filesystem::path& work() const;
};

const SuiteSamples& Samples();

}  // namespace quavelle::testing
