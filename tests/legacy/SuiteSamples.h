#pragma once

#include <filesystem>
#include <string>

// Binary office files the office suite writes once for the whole test program.
namespace quavelle::testing {

struct SuiteSamples {
  std::filesystem::path links;    // small: the workbook stream sits in the mini stream
  std::filesystem::path big;      // the same links and a long second sheet: a regular stream
  std::filesystem::path noLinks;  // numbers only
  std::filesystem::path ppt;      // hyperlinks on two slides (one target on both), one web address
  std::filesystem::path doc;   // hyperlinks (one target twice, one web address), a linked picture
  std::filesystem::path work;  // a folder for the office suite's profile
};

const SuiteSamples& Samples();

}  // namespace quavelle::testing
