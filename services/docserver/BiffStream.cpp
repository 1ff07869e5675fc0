#include "services/docserver/BiffStream.h"

#include <algorithm>

#include "services/ServiceError.h"
#include "services/docserver/DocServerErrors.h"

namespace quavelle::docserver {
namespace {

[[noreturn]] void Damaged(const std::u16string& path, std::u16string_view reason) {
  DamagedBiffStream(path, reason);
}

void Set32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

// Old stream positions to new ones: each edited record before a position
// moves it by its change of length.
class PositionMap {
 public:
  void Add(std::size_t oldOffset, std::ptrdiff_t delta) {
    if (delta != 0) shifts_.emplace_back(oldOffset, delta);
  }
  std::uint32_t operator()(std::uint32_t old) const {
    std::ptrdiff_t moved = 0;
    for (const auto& [at, delta] : shifts_) {
      if (at < old) moved += delta;
    }
    return static_cast<std::uint32_t>(static_cast<std::ptrdiff_t>(old) + moved);
  }
  bool empty() const { return shifts_.empty(); }

 private:
  std::vector<std::pair<std::size_t, std::ptrdiff_t>> shifts_;
};

void CheckLandsOn(const std::vector<BiffRecord>& records, std::uint32_t position,
                  std::uint16_t type, const std::u16string& path, std::u16string_view what) {
  auto it = std::lower_bound(records.begin(), records.end(), position,
                             [](const BiffRecord& r, std::size_t p) { return r.offset < p; });
  if (it == records.end() || it->offset != position || it->type != type)
    Damaged(path, std::u16string(what) + u" does not point at its record after the change");
}

}  // namespace

void DamagedBiffStream(const std::u16string& path, std::u16string_view reason) {
  throw ServiceError(
      error_number::kDamagedPackage,
      u"Cannot read '" + path + u"': damaged workbook stream (" + std::u16string(reason) + u")");
}

std::uint16_t BiffU16(std::string_view d, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(d[at]) |
                                    static_cast<unsigned char>(d[at + 1]) << 8);
}

std::uint32_t BiffU32(std::string_view d, std::size_t at) {
  return static_cast<std::uint32_t>(BiffU16(d, at)) | static_cast<std::uint32_t>(BiffU16(d, at + 2))
                                                          << 16;
}

std::vector<BiffRecord> WalkBiffRecords(std::string_view stream,
                                        const std::u16string& displayPath) {
  std::vector<BiffRecord> records;
  ForEachBiffRecord(stream, displayPath, [&records](const BiffRecord& r) {
    records.push_back(r);
    return true;
  });
  return records;
}

std::string RewriteBiffStream(std::string_view stream, const std::vector<BiffRecord>& records,
                              const std::map<std::size_t, std::string>& edits,
                              const std::u16string& displayPath) {
  PositionMap map;
  for (const auto& [index, data] : edits) {
    map.Add(records[index].offset, static_cast<std::ptrdiff_t>(data.size()) -
                                       static_cast<std::ptrdiff_t>(records[index].data.size()));
  }
  std::string out;
  out.reserve(stream.size() + 1024);
  std::size_t copiedTo = 0;
  auto append = [&](const BiffRecord& r, std::string data) {
    out.append(stream.substr(copiedTo, r.offset - copiedTo));
    out.push_back(static_cast<char>(r.type));
    out.push_back(static_cast<char>(r.type >> 8));
    out.push_back(static_cast<char>(data.size()));
    out.push_back(static_cast<char>(data.size() >> 8));
    out += data;
    copiedTo = r.offset + 4 + r.data.size();
  };
  for (std::size_t i = 0; i < records.size(); ++i) {
    const BiffRecord& r = records[i];
    if (auto edit = edits.find(i); edit != edits.end()) {
      append(r, edit->second);
      continue;
    }
    if (map.empty()) continue;
    std::string data;
    if (r.type == biff::kBoundSheet && r.data.size() >= 4) {
      data = std::string(r.data);
      Set32(data, 0, map(BiffU32(data, 0)));
    } else if (r.type == biff::kIndex && r.data.size() >= 16) {
      data = std::string(r.data);
      if (BiffU32(data, 12) != 0) Set32(data, 12, map(BiffU32(data, 12)));
      for (std::size_t at = 16; at + 4 <= data.size(); at += 4)
        Set32(data, at, map(BiffU32(data, at)));
    } else if (r.type == biff::kExtSst && r.data.size() >= 2) {
      data = std::string(r.data);
      for (std::size_t at = 2; at + 8 <= data.size(); at += 8)
        Set32(data, at, map(BiffU32(data, at)));
    } else {
      continue;
    }
    if (data != r.data) append(r, std::move(data));
  }
  out.append(stream.substr(copiedTo));

  const std::vector<BiffRecord> walked = WalkBiffRecords(out, displayPath);
  if (walked.size() != records.size()) Damaged(displayPath, u"record count changed");
  for (const BiffRecord& r : walked) {
    if (r.type == biff::kBoundSheet && r.data.size() >= 4) {
      CheckLandsOn(walked, BiffU32(r.data, 0), biff::kBof, displayPath, u"a sheet offset");
    } else if (r.type == biff::kIndex && r.data.size() >= 16) {
      for (std::size_t at = 16; at + 4 <= r.data.size(); at += 4)
        CheckLandsOn(walked, BiffU32(r.data, at), biff::kDbCell, displayPath,
                     u"a cell block index");
    }
  }
  return out;
}

}  // namespace quavelle::docserver
