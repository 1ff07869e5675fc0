#include "ZipLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

namespace quavelle::docserver::testing {

std::uint64_t Le(const std::string& bytes, std::size_t at, int width) {
  std::uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i)
    v = (v << 8) | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
  return v;
}

void SetLe(std::string& bytes, std::size_t at, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i)
    bytes.at(at + static_cast<std::size_t>(i)) = static_cast<char>((value >> (8 * i)) & 0xFF);
}

namespace {

// Where the local-header offset sits in a record's zip64 field, or 0.
std::size_t Zip64OffsetAt(const std::string& record) {
  if (Le(record, 42, 4) != 0xFFFFFFFF) return 0;
  const std::size_t extraAt = 46 + Le(record, 28, 2);
  const std::size_t extraEnd = extraAt + Le(record, 30, 2);
  for (std::size_t at = extraAt; at + 4 <= extraEnd; at += 4 + Le(record, at + 2, 2)) {
    if (Le(record, at, 2) != 1) continue;
    std::size_t field = at + 4;
    if (Le(record, 24, 4) == 0xFFFFFFFF) field += 8;
    if (Le(record, 20, 4) == 0xFFFFFFFF) field += 8;
    return field;
  }
  throw std::runtime_error("no zip64 field");
}

}  // namespace

LayoutRecord ReadRecord(std::string bytes) {
  LayoutRecord r;
  r.bytes = std::move(bytes);
  r.name = r.bytes.substr(46, Le(r.bytes, 28, 2));
  r.zip64OffsetAt = Zip64OffsetAt(r.bytes);
  r.local = r.zip64OffsetAt ? Le(r.bytes, r.zip64OffsetAt, 8) : Le(r.bytes, 42, 4);
  return r;
}

std::string Zip64Field(const std::string& header, std::size_t extraAt, std::size_t extraLength) {
  for (std::size_t at = extraAt; at + 4 <= extraAt + extraLength; at += 4 + Le(header, at + 2, 2))
    if (Le(header, at, 2) == 1) return header.substr(at + 4, Le(header, at + 2, 2));
  return {};
}

Layout ReadLayout(const std::string& file) {
  Layout layout;
  layout.endAt = file.rfind(std::string("PK\5\6", 4));
  if (layout.endAt == std::string::npos) throw std::runtime_error("no end record");
  std::uint64_t count = Le(file, layout.endAt + 10, 2);
  layout.centralSize = Le(file, layout.endAt + 12, 4);
  layout.centralOffset = Le(file, layout.endAt + 16, 4);
  if (layout.endAt >= 20 && file.compare(layout.endAt - 20, 4, "PK\6\7") == 0) {
    layout.zip64 = true;
    const std::size_t record = Le(file, layout.endAt - 20 + 8, 8);
    count = Le(file, record + 32, 8);
    layout.centralSize = Le(file, record + 40, 8);
    layout.centralOffset = Le(file, record + 48, 8);
  }
  std::size_t at = layout.centralOffset;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (file.compare(at, 4, "PK\1\2") != 0) throw std::runtime_error("no directory record");
    const std::size_t size =
        46 + Le(file, at + 28, 2) + Le(file, at + 30, 2) + Le(file, at + 32, 2);
    LayoutRecord r = ReadRecord(file.substr(at, size));
    r.at = at;
    layout.records.push_back(std::move(r));
    at += size;
  }
  return layout;
}

std::map<std::string, std::string> Layout::Ranges(const std::string& file) const {
  std::vector<const LayoutRecord*> byOffset;
  for (const LayoutRecord& r : records) byOffset.push_back(&r);
  std::ranges::sort(byOffset, {}, &LayoutRecord::local);
  std::map<std::string, std::string> ranges;
  for (std::size_t i = 0; i < byOffset.size(); ++i) {
    const std::uint64_t end = i + 1 < byOffset.size() ? byOffset[i + 1]->local : centralOffset;
    ranges[byOffset[i]->name] = file.substr(byOffset[i]->local, end - byOffset[i]->local);
  }
  return ranges;
}

std::uint64_t Layout::FirstLocal() const {
  std::uint64_t first = centralOffset;
  for (const LayoutRecord& r : records) first = std::min(first, r.local);
  return first;
}

const LayoutRecord& Layout::Record(const std::string& name) const {
  for (const LayoutRecord& r : records)
    if (r.name == name) return r;
  throw std::runtime_error("no record " + name);
}

std::string WithoutOffset(const LayoutRecord& record) {
  std::string bytes = record.bytes;
  SetLe(bytes, 42, 0, 4);
  if (record.zip64OffsetAt) SetLe(bytes, record.zip64OffsetAt, 0, 8);
  return bytes;
}

std::string WithoutZip64(const std::string& record) {
  std::string fixed = record.substr(0, 46);
  for (std::size_t at : {6, 20, 24, 30, 42}) SetLe(fixed, at, 0, at == 6 || at == 30 ? 2 : 4);
  const std::size_t extraAt = 46 + Le(record, 28, 2), extraEnd = extraAt + Le(record, 30, 2);
  std::string extra;
  for (std::size_t at = extraAt; at + 4 <= extraEnd; at += 4 + Le(record, at + 2, 2))
    if (Le(record, at, 2) != 1) extra += record.substr(at, 4 + Le(record, at + 2, 2));
  return fixed + record.substr(46, extraAt - 46) + extra + record.substr(extraEnd);
}

std::string AsZip64(const std::string& file, bool sizesToo) {
  const Layout layout = ReadLayout(file);
  std::string central;
  for (const LayoutRecord& r : layout.records) {
    std::string record = r.bytes;
    const std::size_t extraEnd = 46 + Le(record, 28, 2) + Le(record, 30, 2);
    std::string block("\1\0\0\0", 4);
    if (sizesToo) {
      block.append(16, '\0');
      SetLe(block, 4, Le(record, 24, 4), 8);
      SetLe(block, 12, Le(record, 20, 4), 8);
      SetLe(record, 20, 0xFFFFFFFF, 4);
      SetLe(record, 24, 0xFFFFFFFF, 4);
    }
    block.append(8, '\0');
    SetLe(block, block.size() - 8, r.local, 8);
    SetLe(block, 2, block.size() - 4, 2);
    record.insert(extraEnd, block);
    SetLe(record, 30, Le(record, 30, 2) + block.size(), 2);
    SetLe(record, 42, 0xFFFFFFFF, 4);
    SetLe(record, 6, std::max<std::uint64_t>(Le(record, 6, 2), 45), 2);
    central += record;
  }
  std::string out = file.substr(0, layout.centralOffset) + central;
  const std::uint64_t recordAt = out.size();
  std::string zip64("PK\6\6", 4);
  zip64.append(52, '\0');
  SetLe(zip64, 4, 44, 8);
  SetLe(zip64, 12, 45, 2);
  SetLe(zip64, 14, 45, 2);
  SetLe(zip64, 24, layout.records.size(), 8);
  SetLe(zip64, 32, layout.records.size(), 8);
  SetLe(zip64, 40, central.size(), 8);
  SetLe(zip64, 48, layout.centralOffset, 8);
  std::string locator("PK\6\7", 4);
  locator.append(16, '\0');
  SetLe(locator, 8, recordAt, 8);
  SetLe(locator, 16, 1, 4);
  std::string end = file.substr(layout.endAt);
  SetLe(end, 12, 0xFFFFFFFF, 4);
  SetLe(end, 16, 0xFFFFFFFF, 4);
  return out + zip64 + locator + end;
}

std::string WithRotatedDirectory(const std::string& file) {
  const Layout layout = ReadLayout(file);
  std::string central;
  for (std::size_t i = 1; i <= layout.records.size(); ++i)
    central += layout.records[i % layout.records.size()].bytes;
  std::string out = file;
  out.replace(layout.centralOffset, central.size(), central);
  return out;
}

std::uint32_t EntryField(const std::string& bytes, const std::string& name, std::size_t centralAt,
                         std::size_t localAt) {
  const LayoutRecord record = ReadLayout(bytes).Record(name);
  EXPECT_EQ(Le(record.bytes, centralAt, 4), Le(bytes, record.local + localAt, 4)) << name;
  return static_cast<std::uint32_t>(Le(record.bytes, centralAt, 4));
}

std::string WithEntryField(std::string bytes, const std::string& name, std::size_t centralAt,
                           std::size_t localAt, std::uint32_t value) {
  const LayoutRecord record = ReadLayout(bytes).Record(name);
  SetLe(bytes, record.at + centralAt, value, 4);
  SetLe(bytes, record.local + localAt, value, 4);
  return bytes;
}

}  // namespace quavelle::docserver::testing
