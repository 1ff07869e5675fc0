#include "services/docserver/ZipExtraFields.h"

#include <algorithm>

#include "services/docserver/LittleEndian.h"

namespace quavelle::docserver {

ExtraFields WalkExtraFields(std::string_view extra) {
  ExtraFields walk;
  std::size_t at = 0;
  while (at < extra.size()) {
    if (extra.size() - at < 4) {
      walk.wellFormed = false;
      break;
    }
    const auto tag = static_cast<std::uint16_t>(LoadLe(extra, at, 2));
    const auto length = static_cast<std::size_t>(LoadLe(extra, at + 2, 2));
    if (extra.size() - at - 4 < length) {
      walk.wellFormed = false;
      break;
    }
    if (tag == kZip64Tag && !walk.zip64) walk.zip64 = ExtraBlock{at, length};
    at += 4 + length;
  }
  return walk;
}

std::size_t Zip64Values::Length() const {
  return (uncompressed ? 8 : 0) + (compressed ? 8 : 0) + (offset ? 8 : 0) + (disk ? 4 : 0);
}

std::optional<Zip64Values> ReadZip64Values(std::string_view data, bool uncompressed,
                                           bool compressed, bool offset, bool disk) {
  Zip64Values values;
  std::size_t at = 0;
  auto take = [&](std::optional<std::uint64_t>& value, bool wanted) {
    if (!wanted) return true;
    if (data.size() - at < 8) return false;
    value = LoadLe(data, at, 8);
    at += 8;
    return true;
  };
  if (!take(values.uncompressed, uncompressed) || !take(values.compressed, compressed) ||
      !take(values.offset, offset)) {
    return std::nullopt;
  }
  if (disk) {
    if (data.size() - at < 4) return std::nullopt;
    values.disk = static_cast<std::uint32_t>(LoadLe(data, at, 4));
  }
  return values;
}

std::string WithZip64Values(std::string_view extra, const ExtraFields& walk,
                            const Zip64Values& values, std::size_t oldLength) {
  std::string block;
  AppendLe(block, kZip64Tag, 2);
  AppendLe(block, 0, 2);  // its length, once known
  if (values.uncompressed) AppendLe(block, *values.uncompressed, 8);
  if (values.compressed) AppendLe(block, *values.compressed, 8);
  if (values.offset) AppendLe(block, *values.offset, 8);
  if (values.disk) AppendLe(block, *values.disk, 4);
  std::string out;
  if (walk.zip64) {
    const ExtraBlock& old = *walk.zip64;
    block.append(extra.substr(old.at + 4 + oldLength, old.length - oldLength));
    out.append(extra.substr(0, old.at));
    out.append(block);
    out.append(extra.substr(old.at + 4 + old.length));
  } else {
    out.append(extra);
    out.append(block);
  }
  // A block longer than its 16-bit length can say makes the whole too long
  // for a header as well, which the caller refuses.
  StoreLe(out, walk.zip64 ? walk.zip64->at + 2 : extra.size() + 2,
          std::min<std::size_t>(block.size() - 4, 0xFFFF), 2);
  return out;
}

}  // namespace quavelle::docserver
