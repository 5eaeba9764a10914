#include "compound_file.h"

#include <algorithm>
#include <cstring>

#include "byte_order.h"

namespace installer {
namespace {

constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kNoEntry = 0xFFFFFFFF;
constexpr uint32_t kMiniSectorSize = 64;
constexpr uint64_t kMiniStreamCutoff = 4096;
constexpr uint32_t kEntrySize = 128;
constexpr size_t kHeaderDifatEntries = 109;

bool HasRepeats(std::vector<uint32_t> sectors) {
  std::sort(sectors.begin(), sectors.end());
  return std::adjacent_find(sectors.begin(), sectors.end()) != sectors.end();
}

}  // namespace

Outcome CompoundFile::Open(std::unique_ptr<FileReader> file, std::unique_ptr<CompoundFile>* out) {
  std::unique_ptr<CompoundFile> cf(new CompoundFile(std::move(file)));
  INSTALLER_TRY(cf->ReadHeader());
  INSTALLER_TRY(cf->ReadDirectory());
  *out = std::move(cf);
  return Outcome();
}

Outcome CompoundFile::ReadHeader() {
  uint8_t h[512];
  if (file_->size() < sizeof h) return INSTALLER_DAMAGED("file too small for a compound file header");
  INSTALLER_TRY(file_->ReadAt(0, sizeof h, h));
  if (std::memcmp(h, kSignature, sizeof kSignature) != 0) return INSTALLER_DAMAGED("bad signature");
  if (LoadU16(h + 0x1C) != 0xFFFE) return INSTALLER_DAMAGED("bad byte order mark");
  uint16_t major = LoadU16(h + 0x1A);
  sector_shift_ = LoadU16(h + 0x1E);
  if (!((major == 3 && sector_shift_ == 9) || (major == 4 && sector_shift_ == 12)))
    return INSTALLER_DAMAGED("unsupported version or sector size");
  if (LoadU16(h + 0x20) != 6) return INSTALLER_DAMAGED("mini sector size is not 64");
  if (LoadU32(h + 0x38) != kMiniStreamCutoff) return INSTALLER_DAMAGED("mini stream cutoff is not 4096");
  sector_size_ = 1u << sector_shift_;
  fat_sector_count_ = LoadU32(h + 0x2C);
  first_directory_sector_ = LoadU32(h + 0x30);
  first_minifat_sector_ = LoadU32(h + 0x3C);
  minifat_sector_count_ = LoadU32(h + 0x40);
  first_difat_sector_ = LoadU32(h + 0x44);
  for (size_t i = 0; i < kHeaderDifatEntries; ++i) header_difat_[i] = LoadU32(h + 0x4C + 4 * i);

  // Every FAT sector is a distinct whole sector of the file, after the header.
  const uint64_t whole_sectors = file_->size() >> sector_shift_;
  const uint64_t sectors_in_file = whole_sectors > 0 ? whole_sectors - 1 : 0;
  if (fat_sector_count_ == 0 || fat_sector_count_ > sectors_in_file)
    return INSTALLER_DAMAGED("FAT sector count does not fit the file");
  return Outcome();
}

Outcome CompoundFile::ReadWholeSector(uint32_t sector, std::vector<uint8_t>* out) const {
  if (sector > kMaxRegularSector) return INSTALLER_DAMAGED("special value used as a sector number");
  out->resize(sector_size_);
  return file_->ReadAt(SectorOffset(sector), sector_size_, out->data());
}

Outcome CompoundFile::FatSectorLocation(uint32_t fat_index, uint32_t* sector) const {
  if (fat_index < kHeaderDifatEntries) {
    *sector = header_difat_[fat_index];
    return Outcome();
  }
  const uint32_t per_difat = sector_size_ / 4 - 1;
  const size_t needed = (fat_index - kHeaderDifatEntries) / per_difat;
  std::vector<uint8_t> raw;
  while (difat_chain_.size() <= needed) {
    uint32_t next = difat_chain_.empty() ? first_difat_sector_ : difat_contents_.back()[per_difat];
    if (next > kMaxRegularSector) return INSTALLER_DAMAGED("DIFAT chain ends before the FAT does");
    if (std::find(difat_chain_.begin(), difat_chain_.end(), next) != difat_chain_.end())
      return INSTALLER_DAMAGED("DIFAT chain loops");
    INSTALLER_TRY(ReadWholeSector(next, &raw));
    std::vector<uint32_t> entries(per_difat + 1);
    for (uint32_t i = 0; i <= per_difat; ++i) entries[i] = LoadU32(raw.data() + 4 * i);
    difat_chain_.push_back(next);
    difat_contents_.push_back(std::move(entries));
  }
  *sector = difat_contents_[needed][(fat_index - kHeaderDifatEntries) % per_difat];
  return Outcome();
}

Outcome CompoundFile::NextSector(uint32_t sector, uint32_t* next) const {
  const uint32_t per_sector = sector_size_ / 4;
  const uint32_t fat_index = sector / per_sector;
  if (fat_index >= fat_sector_count_) return INSTALLER_DAMAGED("sector link past the end of the FAT");
  auto cached = fat_cache_.find(fat_index);
  if (cached == fat_cache_.end()) {
    uint32_t location;
    INSTALLER_TRY(FatSectorLocation(fat_index, &location));
    std::vector<uint8_t> raw;
    INSTALLER_TRY(ReadWholeSector(location, &raw));
    std::unique_ptr<uint32_t[]> links(new uint32_t[per_sector]);
    for (uint32_t i = 0; i < per_sector; ++i) links[i] = LoadU32(raw.data() + 4 * i);
    cached = fat_cache_.emplace(fat_index, std::move(links)).first;
  }
  *next = cached->second[sector % per_sector];
  return Outcome();
}

Outcome CompoundFile::NextMiniSector(uint32_t sector, uint32_t* next) const {
  if (sector >= minifat_.size()) return INSTALLER_DAMAGED("mini sector link past the end of the mini FAT");
  *next = minifat_[sector];
  return Outcome();
}

// Follows exactly `links` links from `start`; the chain may go on after that.
Outcome CompoundFile::Chain(uint32_t start, uint64_t links, bool mini,
                            std::vector<uint32_t>* chain) const {
  chain->clear();
  chain->reserve(links);
  uint32_t current = start;
  for (uint64_t i = 0; i < links; ++i) {
    if (current > kMaxRegularSector)
      return INSTALLER_DAMAGED(current == kEndOfChain ? "sector chain shorter than its stream"
                                                      : "special value inside a sector chain");
    chain->push_back(current);
    if (i + 1 < links) INSTALLER_TRY(mini ? NextMiniSector(current, &current) : NextSector(current, &current));
  }
  if (HasRepeats(*chain)) return INSTALLER_DAMAGED("sector chain loops");
  return Outcome();
}

Outcome CompoundFile::ReadDirectory() {
  // The directory has no size of its own: follow its chain to the end, never
  // further than the file has sectors.
  const uint64_t max_sectors = file_->size() >> sector_shift_;
  std::vector<uint32_t> sectors;
  for (uint32_t s = first_directory_sector_; s != kEndOfChain;) {
    if (s > kMaxRegularSector) return INSTALLER_DAMAGED("special value inside the directory chain");
    if (sectors.size() >= max_sectors) return INSTALLER_DAMAGED("directory chain loops");
    sectors.push_back(s);
    INSTALLER_TRY(NextSector(s, &s));
  }
  if (sectors.empty()) return INSTALLER_DAMAGED("empty directory");
  if (HasRepeats(sectors)) return INSTALLER_DAMAGED("directory chain loops");

  std::vector<uint8_t> raw(sectors.size() * uint64_t(sector_size_));
  for (size_t i = 0; i < sectors.size(); ++i)
    INSTALLER_TRY(file_->ReadAt(SectorOffset(sectors[i]), sector_size_, raw.data() + i * sector_size_));

  const size_t count = raw.size() / kEntrySize;
  std::vector<Entry> entries(count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = raw.data() + i * kEntrySize;
    Entry& entry = entries[i];
    entry.type = EntryType(e[0x42]);
    entry.start = LoadU32(e + 0x74);
    entry.size = sector_shift_ == 9 ? LoadU32(e + 0x78) : LoadU64(e + 0x78);
  }
  if (entries[0].type != EntryType::kRoot) return INSTALLER_DAMAGED("directory entry 0 is not the root");
  INSTALLER_TRY(CollectChildren(entries, raw));
  root_ = entries[0];
  return Outcome();
}

// Walks the root's child tree (iteratively, with a visited set) and keeps
// the entries it reaches.
Outcome CompoundFile::CollectChildren(const std::vector<Entry>& entries,
                                      const std::vector<uint8_t>& raw) {
  const uint32_t count = uint32_t(entries.size());
  auto name_of = [&](uint32_t id, std::u16string* name) -> Outcome {
    const uint8_t* e = raw.data() + uint64_t(id) * kEntrySize;
    uint16_t length = LoadU16(e + 0x40);
    if (length % 2 != 0 || length < 2 || length > 64) return INSTALLER_DAMAGED("bad directory name length");
    name->clear();
    for (unsigned i = 0; i + 2 < unsigned(length); i += 2) name->push_back(char16_t(LoadU16(e + i)));
    return Outcome();
  };
  std::u16string root_name;
  INSTALLER_TRY(name_of(0, &root_name));

  std::vector<bool> visited(count, false);
  std::vector<uint32_t> pending;
  uint32_t first = LoadU32(raw.data() + 0x4C);
  if (first != kNoEntry) pending.push_back(first);
  while (!pending.empty()) {
    uint32_t id = pending.back();
    pending.pop_back();
    if (id == 0) return INSTALLER_DAMAGED("directory tree links to the root");
    if (id >= count) return INSTALLER_DAMAGED("directory tree link past the last entry");
    if (visited[id]) return INSTALLER_DAMAGED("directory tree loops");
    visited[id] = true;
    Entry entry = entries[id];
    if (entry.type != EntryType::kStream && entry.type != EntryType::kStorage)
      return INSTALLER_DAMAGED("directory tree links to an unused entry");
    INSTALLER_TRY(name_of(id, &entry.name));
    if (!child_index_.emplace(entry.name, 0).second)
      return INSTALLER_DAMAGED("two root children with the same name");
    children_.push_back(std::move(entry));
    const uint8_t* e = raw.data() + uint64_t(id) * kEntrySize;
    for (uint32_t link : {LoadU32(e + 0x44), LoadU32(e + 0x48)})
      if (link != kNoEntry) pending.push_back(link);
  }
  std::sort(children_.begin(), children_.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  for (size_t i = 0; i < children_.size(); ++i) child_index_[children_[i].name] = i;
  return Outcome();
}

const CompoundFile::Entry* CompoundFile::FindChild(const std::u16string& stored_name) const {
  auto it = child_index_.find(stored_name);
  return it == child_index_.end() ? nullptr : &children_[it->second];
}

Outcome CompoundFile::ReadStream(const Entry& entry, std::vector<uint8_t>* out) const {
  if (entry.type != EntryType::kStream) return INSTALLER_DAMAGED("not a stream");
  // A stream's bytes lie in distinct sectors of the file, so a size larger
  // than the file is damage; checking it first bounds every allocation.
  if (entry.size > file_->size()) return INSTALLER_DAMAGED("stream larger than the file");
  out->resize(entry.size);
  if (entry.size == 0) return Outcome();
  if (entry.size < kMiniStreamCutoff) return ReadMini(entry.start, entry.size, out->data());
  return ReadRegular(entry.start, entry.size, out->data());
}

Outcome CompoundFile::ReadRegular(uint32_t start, uint64_t size, uint8_t* out) const {
  std::vector<uint32_t> chain;
  INSTALLER_TRY(Chain(start, (size + sector_size_ - 1) >> sector_shift_, false, &chain));
  // Read runs of adjacent sectors with one call each.
  uint64_t done = 0;
  for (size_t i = 0; i < chain.size();) {
    size_t j = i + 1;
    while (j < chain.size() && chain[j] == chain[j - 1] + 1) ++j;
    uint64_t length = std::min<uint64_t>(uint64_t(j - i) << sector_shift_, size - done);
    INSTALLER_TRY(file_->ReadAt(SectorOffset(chain[i]), length, out + done));
    done += length;
    i = j;
  }
  return Outcome();
}

Outcome CompoundFile::LoadMiniStream() const {
  if (mini_loaded_) return Outcome();
  if (root_.size > file_->size()) return INSTALLER_DAMAGED("mini stream larger than the file");
  INSTALLER_TRY(Chain(root_.start, (root_.size + sector_size_ - 1) >> sector_shift_, false,
                      &mini_stream_chain_));
  std::vector<uint32_t> minifat_sectors;
  if (uint64_t(minifat_sector_count_) > (file_->size() >> sector_shift_))
    return INSTALLER_DAMAGED("mini FAT larger than the file");
  INSTALLER_TRY(Chain(first_minifat_sector_, minifat_sector_count_, false, &minifat_sectors));
  const uint32_t per_sector = sector_size_ / 4;
  minifat_.resize(uint64_t(minifat_sectors.size()) * per_sector);
  std::vector<uint8_t> raw;
  for (size_t i = 0; i < minifat_sectors.size(); ++i) {
    INSTALLER_TRY(ReadWholeSector(minifat_sectors[i], &raw));
    for (uint32_t k = 0; k < per_sector; ++k) minifat_[i * per_sector + k] = LoadU32(raw.data() + 4 * k);
  }
  mini_loaded_ = true;
  return Outcome();
}

Outcome CompoundFile::ReadMini(uint32_t start, uint64_t size, uint8_t* out) const {
  INSTALLER_TRY(LoadMiniStream());
  std::vector<uint32_t> chain;
  INSTALLER_TRY(Chain(start, (size + kMiniSectorSize - 1) / kMiniSectorSize, true, &chain));
  // Map each mini sector into the file, merging pieces that are adjacent there.
  uint64_t done = 0, run_offset = 0, run_length = 0;
  uint8_t* run_out = out;
  for (uint32_t mini : chain) {
    uint64_t length = std::min<uint64_t>(kMiniSectorSize, size - done);
    uint64_t position = uint64_t(mini) * kMiniSectorSize;
    if (position + length > root_.size) return INSTALLER_DAMAGED("mini sector past the end of the mini stream");
    uint64_t offset = SectorOffset(mini_stream_chain_[position >> sector_shift_]) +
                      (position & (sector_size_ - 1));
    if (run_length > 0 && offset == run_offset + run_length) {
      run_length += length;
    } else {
      if (run_length > 0) INSTALLER_TRY(file_->ReadAt(run_offset, run_length, run_out));
      run_out = out + done;
      run_offset = offset;
      run_length = length;
    }
    done += length;
  }
  if (run_length > 0) INSTALLER_TRY(file_->ReadAt(run_offset, run_length, run_out));
  return Outcome();
}

}  // namespace installer
