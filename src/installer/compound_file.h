// The container of a database: a compound file ("structured storage").
//
// Layout, all integers little-endian:
//   header (512 bytes at offset 0; a 4096-byte sector in version 4)
//     0x00 signature D0 CF 11 E0 A1 B1 1A E1   0x1A major version (3 or 4)
//     0x1C byte order FFFE                     0x1E sector shift (9 or 12)
//     0x20 mini sector shift (6)               0x2C number of FAT sectors
//     0x30 first directory sector              0x38 mini stream cutoff (4096)
//     0x3C first mini FAT sector               0x40 number of mini FAT sectors
//     0x44 first DIFAT sector                  0x4C the first 109 FAT sector numbers
//   sector n lies at (n + 1) << sector_shift.
//   FAT: one u32 "next sector" link per sector, in the FAT sectors; FAT sectors
//     past the first 109 are listed in DIFAT sectors (sector_size / 4 - 1
//     numbers each, the last u32 links to the next DIFAT sector).
//   Directory: a sector chain of 128-byte entries (name in UTF-16LE at 0x00,
//     name length in bytes at 0x40, type at 0x42, left/right/child ids at
//     0x44/0x48/0x4C, start sector at 0x74, size at 0x78). Entry 0 is the root;
//     a storage's children form a binary tree through the sibling links.
//   Streams under 4096 bytes live in the mini stream (the root's own data) in
//     64-byte mini sectors chained by the mini FAT.
//
// Everything read from the file is checked before use: a chain is followed
// for exactly as many links as its size needs and may not repeat a sector,
// use a special link or leave the FAT; a tree walk may not loop or reach
// entry 0, an unused entry or one past the end. The FAT and DIFAT are read
// lazily, one sector at a time, so that opening a large file reads only the
// sectors on the chains that are followed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "file_reader.h"
#include "outcome.h"

namespace installer {

class CompoundFile {
 public:
  enum class EntryType : uint8_t { kUnused = 0, kStorage = 1, kStream = 2, kRoot = 5 };

  struct Entry {
    std::u16string name;  // as stored (still encoded)
    EntryType type = EntryType::kUnused;
    uint32_t start = 0;
    uint64_t size = 0;
  };

  static Outcome Open(std::unique_ptr<FileReader> file, std::unique_ptr<CompoundFile>* out);

  // The streams and storages directly under the root, ordered by stored name.
  const std::vector<Entry>& children() const { return children_; }
  const Entry* FindChild(const std::u16string& stored_name) const;

  // Reads a whole stream.
  Outcome ReadStream(const Entry& entry, std::vector<uint8_t>* out) const;

  const FileReader& file() const { return *file_; }

 private:
  explicit CompoundFile(std::unique_ptr<FileReader> file) : file_(std::move(file)) {}

  Outcome ReadHeader();
  Outcome ReadDirectory();
  Outcome CollectChildren(const std::vector<Entry>& entries, const std::vector<uint8_t>& raw);

  uint64_t SectorOffset(uint32_t sector) const { return (uint64_t(sector) + 1) << sector_shift_; }
  Outcome ReadWholeSector(uint32_t sector, std::vector<uint8_t>* out) const;
  Outcome FatSectorLocation(uint32_t fat_index, uint32_t* sector) const;
  Outcome NextSector(uint32_t sector, uint32_t* next) const;
  Outcome NextMiniSector(uint32_t sector, uint32_t* next) const;
  Outcome Chain(uint32_t start, uint64_t links, bool mini, std::vector<uint32_t>* chain) const;
  Outcome LoadMiniStream() const;
  Outcome ReadRegular(uint32_t start, uint64_t size, uint8_t* out) const;
  Outcome ReadMini(uint32_t start, uint64_t size, uint8_t* out) const;

  std::unique_ptr<FileReader> file_;
  unsigned sector_shift_ = 9;
  uint32_t sector_size_ = 512;
  uint32_t fat_sector_count_ = 0;
  uint32_t first_directory_sector_ = 0;
  uint32_t first_minifat_sector_ = 0;
  uint32_t minifat_sector_count_ = 0;
  uint32_t first_difat_sector_ = 0;
  uint32_t header_difat_[109] = {};
  Entry root_;
  std::vector<Entry> children_;
  std::map<std::u16string, size_t> child_index_;

  // Lazily read structures.
  mutable std::map<uint32_t, std::unique_ptr<uint32_t[]>> fat_cache_;  // per FAT sector read
  mutable std::vector<uint32_t> difat_chain_;                   // DIFAT sectors walked so far
  mutable std::vector<std::vector<uint32_t>> difat_contents_;   // their entries
  mutable bool mini_loaded_ = false;
  mutable std::vector<uint32_t> minifat_;
  mutable std::vector<uint32_t> mini_stream_chain_;
};

}  // namespace installer
