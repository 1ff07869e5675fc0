#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "services/docserver/ServerOptions.h"

// A compound file (OLE2 structured storage): a FAT-linked sector file holding
// a tree of storages and streams.
namespace quavelle::docserver {

struct CompoundEntry {
  enum Type : std::uint8_t { kUnused = 0, kStorage = 1, kStream = 2, kRoot = 5 };
  std::u16string name;
  std::uint8_t type = kUnused;
  std::uint32_t start = 0;
  std::uint64_t size = 0;
  std::uint32_t parent = 0;  // the storage whose tree holds it; the root for the root
};

// Whether fd starts with the compound file signature.
bool IsCompoundFile(int fd);
bool IsCompoundFile(std::string_view bytes);

class CompoundFile {
 public:
  // Reads and checks the whole structure of bytes (the whole file): header,
  // FAT and its DIFAT, mini FAT, directory tree and every stream's chain.
  // Loops, sectors out of range, sectors two chains share and sizes past
  // their chains fail with 1003 naming displayPath; bytes without the
  // signature fail with 1001.
  CompoundFile(std::string bytes, std::u16string displayPath);
  // The same for the file fd (size bytes), read as needed: the tables when
  // constructed, streams when read. fd must stay open while this is used.
  CompoundFile(int fd, std::uint64_t size, std::u16string displayPath);
  CompoundFile(const CompoundFile&) = delete;
  CompoundFile& operator=(const CompoundFile&) = delete;

  const std::vector<CompoundEntry>& entries() const { return entries_; }
  // The stream or storage at path below the root (names compare ignoring case).
  std::optional<std::uint32_t> Find(const std::vector<std::u16string_view>& path) const;
  std::string ReadStream(std::uint32_t entry) const;
  // The sectors (mini sectors for a small stream) of a stream, for ReadStreamPart.
  std::vector<std::uint32_t> StreamChain(std::uint32_t entry) const;
  // Reads length bytes of the stream from at into out, one read per run of
  // adjacent sectors; chain is the stream's StreamChain. Fails past its end.
  void ReadStreamPart(std::uint32_t entry, const std::vector<std::uint32_t>& chain,
                      std::uint64_t at, char* out, std::size_t length) const;
  const std::u16string& displayPath() const { return displayPath_; }

  // Writes the file to outFd with the streams in replacements (entry -> new
  // bytes) changed. Every other byte is copied from inFd (holding the bytes
  // this was read from): streams, storages and directory entries keep their
  // names, class IDs, timestamps and state bits. A stream reuses its own
  // sectors; only a growing stream takes new ones (free sectors first, then
  // appended), and only sectors whose bytes change are written anew.
  void Write(const std::map<std::uint32_t, std::string>& replacements, int inFd, int outFd,
             const FaultHook& faultHook) const;

 private:
  friend class CompoundRewrite;

  [[noreturn]] void Fail(std::u16string_view reason) const;
  std::vector<std::uint32_t> Chain(std::uint32_t start, const std::vector<std::uint32_t>& table,
                                   std::uint64_t limit, std::u16string_view what) const;
  std::string Sector(std::uint32_t sector) const;
  void ReadInto(char* out, std::uint64_t at, std::size_t length) const;
  std::string ReadBytes(std::uint64_t at, std::size_t length) const;
  void Read();
  std::string ReadChain(const std::vector<std::uint32_t>& chain, std::uint64_t size) const;
  bool InMiniStream(const CompoundEntry& entry) const;
  void ReadHeader();
  void ReadFat();
  void ReadDirectory();
  void WalkTree(std::uint32_t node, std::uint32_t parent, std::vector<bool>& seen,
                std::size_t depth);
  void ClaimChains();

  std::string owned_;  // the whole file, when given as bytes
  int fd_ = -1;        // otherwise read from here
  std::uint64_t fileSize_ = 0;
  std::string header_;     // the first sector
  std::string directory_;  // every directory sector, in chain order
  std::string miniStream_;
  std::u16string displayPath_;
  std::uint32_t sectorSize_ = 512;
  std::uint32_t miniCutoff_ = 4096;
  std::uint32_t fileSectors_ = 0;
  std::uint32_t firstDirSector_ = 0;
  std::uint32_t firstMiniFat_ = 0;
  std::uint32_t firstDifat_ = 0;
  std::vector<std::uint32_t> fat_;
  std::vector<std::uint32_t> fatSectors_;
  std::vector<std::uint32_t> difatSectors_;
  std::vector<std::uint32_t> miniFat_;
  std::vector<std::uint32_t> miniFatChain_;
  std::vector<std::uint32_t> dirChain_;
  std::vector<std::uint32_t> miniStreamChain_;
  std::vector<CompoundEntry> entries_;
  std::vector<std::vector<std::uint32_t>> streamChains_;  // each stream's, checked when read
  std::vector<bool> ownedSectors_;
  std::vector<std::uint32_t> left_, right_, child_;
};

}  // namespace quavelle::docserver
