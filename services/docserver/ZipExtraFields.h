#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The extra fields of a zip header, and the zip64 block among them that holds
// the sizes and offset too large for the header's 32-bit fields.
namespace quavelle::docserver {

inline constexpr std::uint16_t kZip64Tag = 0x0001;

struct ExtraBlock {
  std::size_t at = 0;      // of its tag, from the start of the extra fields
  std::size_t length = 0;  // of its data, after tag and length
};

struct ExtraFields {
  std::optional<ExtraBlock> zip64;  // the first one, when there are several
  bool wellFormed = true;           // every block lies within the fields
};

ExtraFields WalkExtraFields(std::string_view extra);

// The values a zip64 block holds, in the order it holds them. In a central
// record a value is there only when its header field is all ones.
struct Zip64Values {
  std::optional<std::uint64_t> uncompressed;
  std::optional<std::uint64_t> compressed;
  std::optional<std::uint64_t> offset;
  std::optional<std::uint32_t> disk;

  std::size_t Length() const;
};

// Reads the values that are said to be there from a block's data; nullopt
// when the data is too short for them.
std::optional<Zip64Values> ReadZip64Values(std::string_view data, bool uncompressed,
                                           bool compressed, bool offset, bool disk);

// The extra fields with the zip64 block's first oldLength bytes replaced by
// values (any bytes after them kept), or, when there is no such block, with
// one appended. The result may be too long for a header; the caller checks.
std::string WithZip64Values(std::string_view extra, const ExtraFields& walk,
                            const Zip64Values& values, std::size_t oldLength);

}  // namespace quavelle::docserver
