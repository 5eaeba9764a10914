// Damaged and hostile files: a valid database built in code, then broken in
// one place through the writer's layout. Every fault must end in a failure
// at the right step with the right number (1620 at open for the container,
// the directory, the string pool and the catalog; 1627 at execute for a
// table's own stream), never in a crash, a hang or a success.
#include <gtest/gtest.h>

#include <functional>

#include "installer.h"
#include "test_util.h"

namespace {

using namespace testsupport;
using testutil::Col;
using testutil::I;
using testutil::N;
using testutil::Query;
using testutil::S;

constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kFarSector = 0x00FFFFFF;  // a plain sector number far past any fixture

// Four tables whose streams lie in both kinds of sectors, a regular
// _StringData (one string is longer than the mini stream cutoff) and a
// filler stream that makes the file large enough for DIFAT faults.
DatabaseDef Fixture(unsigned sector_shift, bool with_filler = true) {
  DatabaseDef def;
  def.sector_shift = sector_shift;
  def.tables.push_back(TableDef{"Property",
                                {Col("Property", coltype::kString | 72 | coltype::kKey),
                                 Col("Value", coltype::kLocalized | coltype::kNullable)},
                                {{S("ProductCode"), S("{11111111-2222-3333-4444-555555555555}")},
                                 {S("Banner"), S(std::string(5000, 'b'))},
                                 {S("Empty"), N()}}});
  TableDef mini{"Mini", {Col("K", coltype::kInt2 | coltype::kKey), Col("V", coltype::kString | 32)}, {}};
  for (int i = 0; i < 40; ++i) mini.rows.push_back({I(i), S("v" + std::to_string(i % 7))});
  def.tables.push_back(mini);
  TableDef big{"Big", {Col("N", coltype::kInt4 | coltype::kKey)}, {}};
  for (int i = 0; i < 1500; ++i) big.rows.push_back({I(i)});
  def.tables.push_back(big);
  def.tables.push_back(TableDef{"Blob",
                                {Col("Name", coltype::kString | 72 | coltype::kKey), Col("Data", coltype::kBinary)},
                                {{S("Icon"), Value::Stream(std::string(100, 'i'))}}});
  if (with_filler) def.streams.push_back(ExtraStream{"cab1.cab", "", 140000, 'c', false});
  return def;
}

// Byte-level access to a built database, found through the writer's layout
// (which lays every chain out contiguously).
class Damage {
 public:
  Damage(std::string* bytes, const Layout& layout) : bytes_(*bytes), layout_(layout) {}

  void U16(uint64_t offset, uint32_t value) {
    bytes_.at(offset) = char(value & 0xFF);
    bytes_.at(offset + 1) = char((value >> 8) & 0xFF);
  }
  void U32(uint64_t offset, uint32_t value) {
    U16(offset, value & 0xFFFF);
    U16(offset + 2, value >> 16);
  }
  uint32_t Get16(uint64_t offset) const {
    return uint32_t(uint8_t(bytes_.at(offset))) | uint32_t(uint8_t(bytes_.at(offset + 1))) << 8;
  }
  uint32_t Get32(uint64_t offset) const { return Get16(offset) | Get16(offset + 2) << 16; }

  const Layout::StreamInfo& Stream(const std::string& key) const { return layout_.streams.at(key); }
  uint32_t per_sector() const { return layout_.sector_size / 4; }
  uint64_t sector_size() const { return layout_.sector_size; }
  uint64_t file_size() const { return bytes_.size(); }

  // The FAT link of regular sector `sector`.
  uint64_t Fat(uint32_t sector) const {
    return layout_.SectorOffset(layout_.fat_sectors.at(sector / per_sector())) + 4 * (sector % per_sector());
  }
  // The mini FAT link of mini sector `mini`.
  uint64_t MiniFat(uint32_t mini) const {
    return layout_.SectorOffset(layout_.minifat_sectors.at(mini / per_sector())) + 4 * (mini % per_sector());
  }
  uint64_t Entry(uint32_t id) const { return layout_.DirectoryEntryOffset(id); }
  uint64_t Entry(const std::string& key) const { return Entry(Stream(key).directory_entry); }
  uint32_t RootChild() const { return Get32(Entry(0) + 0x4C); }
  uint32_t EntryCount() const { return uint32_t(layout_.directory_sectors.size() * sector_size() / 128); }
  // The file offset of byte `position` of a stream.
  uint64_t Data(const std::string& key, uint64_t position) const {
    const Layout::StreamInfo& s = Stream(key);
    if (s.in_mini_stream) return layout_.SectorOffset(layout_.mini_stream_start) + s.start_sector * 64 + position;
    return layout_.SectorOffset(s.start_sector) + position;
  }
  // A sector the FAT covers that lies wholly past the end of the file.
  uint32_t SectorPastTheEnd() const {
    uint32_t sector = uint32_t(layout_.fat_sectors.size() * per_sector() - 1);
    EXPECT_GE(layout_.SectorOffset(sector), file_size());
    return sector;
  }
  // The _Columns rows of `table` (catalog rows are sorted by table id).
  std::vector<uint32_t> ColumnRows(uint32_t table_id) const {
    const uint64_t rows = Stream("!_Columns").size / 8;
    std::vector<uint32_t> found;
    for (uint32_t r = 0; r < rows; ++r)
      if (Get16(Data("!_Columns", 2 * r)) == table_id) found.push_back(r);
    return found;
  }
  uint64_t ColumnsCell(uint32_t row, unsigned column) const {
    return Data("!_Columns", Stream("!_Columns").size / 8 * 2 * column + 2 * row);
  }

  std::string& bytes_;
  const Layout& layout_;
};

// Sends one FAT lookup into the part of the FAT that only DIFAT sectors
// list: the header claims 240 FAT sectors (the file has that many sectors)
// and _StringData starts at the first sector FAT sector 236 describes, which
// the second DIFAT sector would list. `first_difat` and the first DIFAT
// sector's next link decide how the DIFAT walk goes wrong.
void ReachBeyondTheHeaderDifat(Damage& d, uint32_t first_difat, uint32_t next_of_first) {
  ASSERT_EQ(d.sector_size(), 512u);
  ASSERT_GE(d.file_size() / 512, 241u);
  d.U32(0x2C, 240);
  d.U32(0x44, first_difat);
  if (first_difat == d.Stream("cab1.cab").start_sector)
    d.U32(d.Data("cab1.cab", 508), next_of_first);
  d.U32(d.Entry("!_StringData") + 0x74, 236 * 128);
}

struct Fault {
  const char* name;
  std::function<void(Damage&)> corrupt;
  const char* table;        // the table queried
  const char* failed_step;  // "" when the file must still read
  uint32_t last_error;
  bool small_sectors_only = false;
};

const char kOpen[] = "open";
const char kExecute[] = "execute";

std::vector<Fault> Faults() {
  return {
      // Header.
      {"bad signature", [](Damage& d) { d.bytes_[0] = 'M'; }, "Property", kOpen, 1620},
      {"bad byte order", [](Damage& d) { d.U16(0x1C, 0xFEFF); }, "Property", kOpen, 1620},
      {"unknown major version", [](Damage& d) { d.U16(0x1A, 5); }, "Property", kOpen, 1620},
      {"version disagrees with sector size",
       [](Damage& d) { d.U16(0x1A, d.sector_size() == 512 ? 4 : 3); }, "Property", kOpen, 1620},
      {"sector shift 10", [](Damage& d) { d.U16(0x1E, 10); }, "Property", kOpen, 1620},
      {"mini sector shift 7", [](Damage& d) { d.U16(0x20, 7); }, "Property", kOpen, 1620},
      {"mini stream cutoff 4095", [](Damage& d) { d.U32(0x38, 4095); }, "Property", kOpen, 1620},
      {"mini stream cutoff 0", [](Damage& d) { d.U32(0x38, 0); }, "Property", kOpen, 1620},
      {"no FAT sectors", [](Damage& d) { d.U32(0x2C, 0); }, "Property", kOpen, 1620},
      {"absurd FAT sector count", [](Damage& d) { d.U32(0x2C, 0xFFFFFFFF); }, "Property", kOpen, 1620},
      {"more FAT sectors than the file has sectors",
       [](Damage& d) { d.U32(0x2C, uint32_t(d.file_size() / d.sector_size())); }, "Property", kOpen, 1620},
      {"first FAT sector is free", [](Damage& d) { d.U32(0x4C, kFreeSect); }, "Property", kOpen, 1620},
      {"first FAT sector past the end", [](Damage& d) { d.U32(0x4C, kFarSector); }, "Property", kOpen, 1620},
      {"header directory and DIFAT counts are not relied on",
       [](Damage& d) {
         d.U32(0x28, 0xFFFFFFFF);
         d.U32(0x48, 0xFFFFFFFF);
       },
       "Big", "", 0},

      // DIFAT.
      {"DIFAT chain missing", [](Damage& d) { ReachBeyondTheHeaderDifat(d, kEndOfChain, 0); }, "Property",
       kOpen, 1620, true},
      {"DIFAT chain too short",
       [](Damage& d) { ReachBeyondTheHeaderDifat(d, d.Stream("cab1.cab").start_sector, kEndOfChain); },
       "Property", kOpen, 1620, true},
      {"DIFAT chain loops",
       [](Damage& d) {
         uint32_t first = d.Stream("cab1.cab").start_sector;
         ReachBeyondTheHeaderDifat(d, first, first);
       },
       "Property", kOpen, 1620, true},
      {"DIFAT sector past the end", [](Damage& d) { ReachBeyondTheHeaderDifat(d, kFarSector, 0); }, "Property",
       kOpen, 1620, true},

      // Directory chain and entries.
      {"directory chain loops",
       [](Damage& d) { d.U32(d.Fat(d.layout_.directory_sectors.back()), d.layout_.directory_sectors.front()); },
       "Property", kOpen, 1620},
      {"free sector in the directory chain",
       [](Damage& d) { d.U32(d.Fat(d.layout_.directory_sectors.back()), kFreeSect); }, "Property", kOpen, 1620},
      {"directory starts past the FAT", [](Damage& d) { d.U32(0x30, kFarSector); }, "Property", kOpen, 1620},
      {"directory sector past the end of the file",
       [](Damage& d) {
         uint32_t sector = d.SectorPastTheEnd();
         d.U32(0x30, sector);
         d.U32(d.Fat(sector), kEndOfChain);
       },
       "Property", kOpen, 1620},
      {"empty directory", [](Damage& d) { d.U32(0x30, kEndOfChain); }, "Property", kOpen, 1620},
      {"entry 0 is not the root", [](Damage& d) { d.bytes_[d.Entry(0) + 0x42] = 1; }, "Property", kOpen, 1620},
      {"sibling tree loops",
       [](Damage& d) { d.U32(d.Entry(d.RootChild()) + 0x44, d.RootChild()); }, "Property", kOpen, 1620},
      {"sibling link to entry 0", [](Damage& d) { d.U32(d.Entry(d.RootChild()) + 0x48, 0); }, "Property", kOpen,
       1620},
      {"sibling link past the last entry",
       [](Damage& d) { d.U32(d.Entry(d.RootChild()) + 0x44, d.EntryCount()); }, "Property", kOpen, 1620},
      {"tree link to an unused entry", [](Damage& d) { d.bytes_[d.Entry("Blob.Icon") + 0x42] = 0; },
       "Property", kOpen, 1620},
      {"two root children with one name",
       [](Damage& d) {
         for (int i = 0; i < 0x42; ++i) d.bytes_[d.Entry("!Mini") + i] = d.bytes_[d.Entry("!Big") + i];
       },
       "Property", kOpen, 1620},
      {"odd name length", [](Damage& d) { d.U16(d.Entry(d.RootChild()) + 0x40, 9); }, "Property", kOpen, 1620},
      {"name length 0", [](Damage& d) { d.U16(d.Entry(d.RootChild()) + 0x40, 0); }, "Property", kOpen, 1620},
      {"name length 66", [](Damage& d) { d.U16(d.Entry(d.RootChild()) + 0x40, 66); }, "Property", kOpen, 1620},
      {"root name length 0", [](Damage& d) { d.U16(d.Entry(0) + 0x40, 0); }, "Property", kOpen, 1620},

      // Regular sector chains of a table stream: damage shows when it is read.
      {"stream starts past the FAT", [](Damage& d) { d.U32(d.Entry("!Big") + 0x74, kFarSector); }, "Big",
       kExecute, 1627},
      {"stream starts past the end of the file",
       [](Damage& d) {
         uint32_t sector = d.SectorPastTheEnd();
         d.U32(d.Entry("!Big") + 0x74, sector);
         d.U32(d.Fat(sector), d.Stream("!Big").start_sector + 1);
       },
       "Big", kExecute, 1627},
      {"sector chain loops",
       [](Damage& d) { d.U32(d.Fat(d.Stream("!Big").start_sector), d.Stream("!Big").start_sector); }, "Big",
       kExecute, 1627},
      {"sector chain shorter than the size",
       [](Damage& d) { d.U32(d.Fat(d.Stream("!Big").start_sector), kEndOfChain); }, "Big", kExecute, 1627},
      {"free sector in a chain", [](Damage& d) { d.U32(d.Fat(d.Stream("!Big").start_sector), kFreeSect); },
       "Big", kExecute, 1627},
      {"FAT sector mark in a chain",
       [](Damage& d) { d.U32(d.Fat(d.Stream("!Big").start_sector), kFatSect); }, "Big", kExecute, 1627},
      {"DIFAT sector mark in a chain",
       [](Damage& d) { d.U32(d.Fat(d.Stream("!Big").start_sector), kDifSect); }, "Big", kExecute, 1627},
      {"chain link past the FAT", [](Damage& d) { d.U32(d.Fat(d.Stream("!Big").start_sector), kFarSector); },
       "Big", kExecute, 1627},
      {"stream size larger than the file", [](Damage& d) { d.U32(d.Entry("!Big") + 0x78, 0x7FFFFFFF); }, "Big",
       kExecute, 1627},
      {"stream size one sector past its chain",
       [](Damage& d) {
         uint64_t sectors = (d.Stream("!Big").size + d.sector_size() - 1) / d.sector_size();
         d.U32(d.Entry("!Big") + 0x78, uint32_t(sectors * d.sector_size() + 4));
       },
       "Big", kExecute, 1627},
      {"table stream is a storage", [](Damage& d) { d.bytes_[d.Entry("!Big") + 0x42] = 1; }, "Big", kExecute,
       1627},
      {"stream starts past the FAT, in the string data",
       [](Damage& d) { d.U32(d.Entry("!_StringData") + 0x74, kFarSector); }, "Property", kOpen, 1620},
      {"sector chain loops, in the string data",
       [](Damage& d) {
         d.U32(d.Fat(d.Stream("!_StringData").start_sector), d.Stream("!_StringData").start_sector);
       },
       "Property", kOpen, 1620},

      // The mini stream and the mini FAT.
      {"mini sector chain loops",
       [](Damage& d) { d.U32(d.MiniFat(d.Stream("!Mini").start_sector), d.Stream("!Mini").start_sector); },
       "Mini", kExecute, 1627},
      {"free mini sector in a chain",
       [](Damage& d) { d.U32(d.MiniFat(d.Stream("!Mini").start_sector), kFreeSect); }, "Mini", kExecute, 1627},
      {"mini chain shorter than the size",
       [](Damage& d) { d.U32(d.MiniFat(d.Stream("!Mini").start_sector), kEndOfChain); }, "Mini", kExecute,
       1627},
      {"mini chain link past the mini FAT",
       [](Damage& d) { d.U32(d.MiniFat(d.Stream("!Mini").start_sector), 100000); }, "Mini", kExecute, 1627},
      {"mini stream starts past the FAT", [](Damage& d) { d.U32(d.Entry(0) + 0x74, kFarSector); }, "Property",
       kOpen, 1620},
      {"mini stream larger than the file", [](Damage& d) { d.U32(d.Entry(0) + 0x78, 0x7FFFFFF0); }, "Property",
       kOpen, 1620},
      {"absurd mini FAT sector count", [](Damage& d) { d.U32(0x40, 0xFFFFFFFF); }, "Property", kOpen, 1620},
      {"mini FAT chain missing", [](Damage& d) { d.U32(0x3C, kEndOfChain); }, "Property", kOpen, 1620},
      {"mini FAT sector past the end of the file",
       [](Damage& d) {
         uint32_t sector = d.SectorPastTheEnd();
         d.U32(0x3C, sector);
         d.U32(d.Fat(sector), kEndOfChain);
       },
       "Property", kOpen, 1620},

      // The string pool.
      {"no string pool", [](Damage& d) { d.bytes_[d.Entry("!_StringPool") + 2] ^= 1; }, "Property", kOpen, 1620},
      {"string pool is a storage", [](Damage& d) { d.bytes_[d.Entry("!_StringPool") + 0x42] = 1; }, "Property",
       kOpen, 1620},
      {"string pool size not a multiple of 4",
       [](Damage& d) { d.U32(d.Entry("!_StringPool") + 0x78, uint32_t(d.Stream("!_StringPool").size - 1)); },
       "Property", kOpen, 1620},
      {"string lengths exceed the string data",
       [](Damage& d) { d.U32(d.Entry("!_StringData") + 0x78, uint32_t(d.Stream("!_StringData").size - 1)); },
       "Property", kOpen, 1620},
      {"one string length exceeds the string data",
       [](Damage& d) { d.U16(d.Data("!_StringPool", 4), 0xFFFF); }, "Property", kOpen, 1620},
      {"long string entry at the end",
       [](Damage& d) { d.U16(d.Data("!_StringPool", d.Stream("!_StringPool").size - 4), 0); }, "Property", kOpen,
       1620},
      {"long string length exceeds the string data",
       [](Damage& d) { d.U16(d.Data("!_StringPool", 4), 0); },  // the next entry's count is its high half
       "Property", kOpen, 1620},
      {"unsupported code page", [](Damage& d) { d.U32(d.Data("!_StringPool", 0), 1234); }, "Property", kOpen,
       1620},

      // The catalog.
      {"_Tables size not a whole number of rows",
       [](Damage& d) { d.U32(d.Entry("!_Tables") + 0x78, uint32_t(d.Stream("!_Tables").size - 1)); }, "Property",
       kOpen, 1620},
      {"_Columns size not a whole number of rows",
       [](Damage& d) { d.U32(d.Entry("!_Columns") + 0x78, uint32_t(d.Stream("!_Columns").size - 2)); },
       "Property", kOpen, 1620},
      {"_Tables string id outside the pool", [](Damage& d) { d.U16(d.Data("!_Tables", 2), 0xFFFF); }, "Property",
       kOpen, 1620},
      {"_Columns string id outside the pool", [](Damage& d) { d.U16(d.ColumnsCell(0, 2), 0xFFFF); }, "Property",
       kOpen, 1620},
      {"null column number", [](Damage& d) { d.U16(d.ColumnsCell(0, 1), 0); }, "Property", kOpen, 1620},
      {"null column type", [](Damage& d) { d.U16(d.ColumnsCell(0, 3), 0); }, "Property", kOpen, 1620},
      {"table listed twice", [](Damage& d) { d.U16(d.Data("!_Tables", 2), d.Get16(d.Data("!_Tables", 0))); },
       "Property", kOpen, 1620},
      {"table without columns",
       [](Damage& d) {
         // Blob's columns are handed to a string that names no table.
         uint32_t blob = d.Get16(d.Data("!_Tables", 6)), other = d.Get16(d.Data("!_Tables", 6)) + 1;
         for (uint32_t row : d.ColumnRows(blob)) d.U16(d.ColumnsCell(row, 0), other);
       },
       "Property", kOpen, 1620},
      {"column numbers not 1..n: a gap",
       [](Damage& d) { d.U16(d.ColumnsCell(d.ColumnRows(d.Get16(d.Data("!_Tables", 6)))[1], 1), 0x8003); },
       "Property", kOpen, 1620},
      {"column numbers not 1..n: a repeat",
       [](Damage& d) { d.U16(d.ColumnsCell(d.ColumnRows(d.Get16(d.Data("!_Tables", 6)))[1], 1), 0x8001); },
       "Property", kOpen, 1620},
      {"4-byte integer column of width 2",
       [](Damage& d) {
         uint32_t big = d.Get16(d.Data("!_Tables", 4));
         d.U16(d.ColumnsCell(d.ColumnRows(big)[0], 3), (0x2102 + 0x8000) & 0xFFFF);
       },
       "Property", kOpen, 1620},
      {"2-byte integer column of width 4",
       [](Damage& d) {
         uint32_t mini = d.Get16(d.Data("!_Tables", 2));
         d.U16(d.ColumnsCell(d.ColumnRows(mini)[0], 3), (0x2504 + 0x8000) & 0xFFFF);
       },
       "Property", kOpen, 1620},

      // A table's own stream.
      {"table size not a whole number of rows",
       [](Damage& d) { d.U32(d.Entry("!Big") + 0x78, uint32_t(d.Stream("!Big").size - 1)); }, "Big", kExecute,
       1627},
      {"table string id outside the pool",
       [](Damage& d) { d.U16(d.Data("!Mini", d.Stream("!Mini").size / 2), 0xFFFF); }, "Mini", kExecute, 1627},
  };
}

class DamageTest : public ::testing::TestWithParam<unsigned> {};

TEST_P(DamageTest, EveryFaultFailsAtItsStep) {
  Layout layout;
  const std::string valid = BuildDatabase(Fixture(GetParam()), &layout);
  testutil::TempDir dir;
  {
    // The fixture itself reads, and the layout helpers find what they expect.
    std::string copy = valid;
    Damage d(&copy, layout);
    ASSERT_EQ(d.Get32(d.Data("!_StringPool", 0)), 1252u);
    ASSERT_EQ(d.Get16(d.Data("!Mini", 0)), 0x8000u);  // key 0, sign-flipped
    ASSERT_FALSE(layout.streams.at("!_StringData").in_mini_stream);
    ASSERT_TRUE(layout.streams.at("!Mini").in_mini_stream);
    const auto ids = StringIds(Fixture(GetParam()));
    ASSERT_EQ(d.Get16(d.Data("!_Tables", 2)), ids.at("Mini"));
    ASSERT_EQ(d.Get16(d.Data("!_Tables", 4)), ids.at("Big"));
    ASSERT_EQ(d.Get16(d.Data("!_Tables", 6)), ids.at("Blob"));
    ASSERT_EQ(d.ColumnRows(ids.at("Blob")).size(), 2u);
    std::string path = dir.Write("valid.msi", valid);
    for (const char* table : {"Property", "Mini", "Big", "Blob"})
      ASSERT_EQ(Query(path, std::string("SELECT * FROM ") + table).status, 0u) << table;
  }
  for (const Fault& c : Faults()) {
    if (c.small_sectors_only && GetParam() != 9) continue;
    std::string bytes = valid;
    Damage d(&bytes, layout);
    c.corrupt(d);
    ASSERT_NE(bytes, valid) << c.name;
    auto r = Query(dir.Write("damaged.msi", bytes), std::string("SELECT * FROM ") + c.table);
    EXPECT_EQ(r.failed_step, c.failed_step) << c.name << ": " << installer::LastErrorDetail();
    EXPECT_EQ(r.last_error, c.last_error) << c.name;
  }
}

TEST_P(DamageTest, SizeHighHalfCountsOnlyWithLargeSectors) {
  Layout layout;
  std::string bytes = BuildDatabase(Fixture(GetParam()), &layout);
  Damage d(&bytes, layout);
  d.U32(d.Entry("!Big") + 0x7C, 1);
  testutil::TempDir dir;
  auto r = Query(dir.Write("db.msi", bytes), "SELECT * FROM Big");
  if (GetParam() == 9) {
    EXPECT_EQ(r.status, 0u) << installer::LastErrorDetail();
    EXPECT_EQ(r.rows.size(), 1500u);
  } else {
    EXPECT_EQ(r.failed_step, "execute");
    EXPECT_EQ(r.last_error, 1627u);
  }
}

// Cut at every sector boundary (and just short of one): each table either
// still reads in full (the bytes it needs are all there) or fails at open or
// execute; and once a length is enough, every longer one is too.
TEST_P(DamageTest, TruncatedFiles) {
  const std::string valid = BuildDatabase(Fixture(GetParam(), false));
  testutil::TempDir dir;
  const std::string full_path = dir.Write("full.msi", valid);
  const size_t step = GetParam() == 9 ? 512 : 1024;
  for (const char* table : {"Property", "Mini", "Big", "Blob"}) {
    const std::string query = std::string("SELECT * FROM ") + table;
    const auto full = Query(full_path, query);
    ASSERT_EQ(full.status, 0u) << table;
    bool enough = false;
    for (size_t length = 0; length < valid.size(); length += step) {
      for (size_t cut : {length, length + step - 1}) {
        if (cut >= valid.size()) continue;
        auto r = Query(dir.Write("cut.msi", valid.substr(0, cut)), query);
        SCOPED_TRACE(std::string(table) + " cut at " + std::to_string(cut));
        if (r.status == 0) {
          EXPECT_EQ(r.rows, full.rows);
          enough = true;
          continue;
        }
        EXPECT_FALSE(enough) << "a shorter file read";
        EXPECT_TRUE((r.failed_step == "open" && r.last_error == 1620) ||
                    (r.failed_step == "execute" && r.last_error == 1627))
            << r.failed_step << " " << r.last_error;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sectors, DamageTest, ::testing::Values(9u, 12u));

// Names are copied out of the pool for every column; one long string named
// by thousands of columns would cost hundreds of MiB for a 64 KiB file.
TEST(HostileCatalogTest, NamesMayNotOutgrowTheFile) {
  DatabaseDef def;
  TableDef t{"T", {}, {}};
  for (int i = 0; i < 4000; ++i) t.columns.push_back(Col(std::string(30000, 'n'), coltype::kInt2));
  def.tables.push_back(t);
  testutil::TempDir dir;
  const std::string bytes = BuildDatabase(def);
  ASSERT_LT(bytes.size(), 70000u);
  auto r = Query(dir.Write("db.msi", bytes), "SELECT * FROM T");
  EXPECT_EQ(r.failed_step, "open");
  EXPECT_EQ(r.last_error, 1620u);

  // The same shape with short names is a valid, if wide, table.
  for (TableDef& table : def.tables)
    for (size_t i = 0; i < table.columns.size(); ++i) table.columns[i].name = "c" + std::to_string(i);
  auto wide = Query(dir.Write("wide.msi", BuildDatabase(def)), "SELECT * FROM T");
  EXPECT_EQ(wide.status, 0u) << installer::LastErrorDetail();
  EXPECT_EQ(wide.names.size(), 4000u);
}

TEST(NotADatabaseTest, FilesThatAreNoDatabase) {
  Layout layout;
  const std::string valid = BuildDatabase(Fixture(9, false), &layout);
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"one byte", "\xD0"},
      {"signature only", valid.substr(0, 8)},
      {"header only", valid.substr(0, 512)},
      {"512 zero bytes", std::string(512, '\0')},
      {"64 KiB of zeros", std::string(65536, '\0')},
      {"64 KiB of 0xFF", std::string(65536, '\xFF')},
      {"header, then zeros", valid.substr(0, 512) + std::string(valid.size() - 512, '\0')},
      {"header, then 0xFF", valid.substr(0, 512) + std::string(valid.size() - 512, '\xFF')},
  };
  testutil::TempDir dir;
  for (const Case& c : cases) {
    auto r = Query(dir.Write("db.msi", c.bytes), "SELECT * FROM Property");
    EXPECT_EQ(r.failed_step, "open") << c.name;
    EXPECT_EQ(r.last_error, 1620u) << c.name;
  }
}

}  // namespace
