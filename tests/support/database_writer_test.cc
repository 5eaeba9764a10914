// Checks the writer's output against the file format directly, with a small
// reader of its own, so that the writer can be trusted to check the real one.
#include "database_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {
namespace {

namespace ct = coltype;

constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSect = 0xFFFFFFFF;

uint32_t U16(const std::string& b, uint64_t off) {
  return static_cast<unsigned char>(b.at(off)) | static_cast<unsigned char>(b.at(off + 1)) << 8;
}
uint32_t U24(const std::string& b, uint64_t off) {
  return U16(b, off) | static_cast<uint32_t>(static_cast<unsigned char>(b.at(off + 2))) << 16;
}
uint32_t U32(const std::string& b, uint64_t off) { return U16(b, off) | U16(b, off + 2) << 16; }

// Reads a compound file by following the header, DIFAT and FAT; throws on
// any link that is out of place.
class Container {
 public:
  struct Entry {
    std::u16string name;
    uint32_t type, left, right, child, start;
    uint64_t size;
  };

  explicit Container(std::string file) : f_(std::move(file)) {
    ss_ = 1u << U16(f_, 0x1E);
    const uint32_t fat_count = U32(f_, 0x2C);
    for (uint32_t i = 0; i < fat_count && i < 109; ++i)
      fat_sectors_.push_back(U32(f_, 0x4C + 4 * i));
    uint32_t difat = U32(f_, 0x44);
    for (uint32_t d = 0; d < U32(f_, 0x48); ++d) {
      difat_sectors_.push_back(difat);
      for (uint32_t i = 0; i + 1 < ss_ / 4 && fat_sectors_.size() < fat_count; ++i) {
        fat_sectors_.push_back(U32(f_, Offset(difat) + 4 * i));
      }
      difat = U32(f_, Offset(difat) + ss_ - 4);
    }
    if (difat != kEndOfChain) throw std::runtime_error("DIFAT chain does not end");
    for (uint32_t s : fat_sectors_) {
      for (uint32_t i = 0; i < ss_ / 4; ++i) fat_.push_back(U32(f_, Offset(s) + 4 * i));
    }
    std::string dir = Read(fat_, ss_, U32(f_, 0x30), UINT64_MAX, &f_, ss_);
    for (size_t off = 0; off < dir.size(); off += 128) {
      Entry e;
      for (uint32_t i = 0; i + 2 < U16(dir, off + 0x40); i += 2) {
        e.name.push_back(static_cast<char16_t>(U16(dir, off + i)));
      }
      e.type = static_cast<unsigned char>(dir[off + 0x42]);
      e.left = U32(dir, off + 0x44);
      e.right = U32(dir, off + 0x48);
      e.child = U32(dir, off + 0x4C);
      e.start = U32(dir, off + 0x74);
      e.size = U32(dir, off + 0x78) | uint64_t{U32(dir, off + 0x7C)} << 32;
      entries_.push_back(e);
    }
    std::string minifat = Read(fat_, ss_, U32(f_, 0x3C), UINT64_MAX, &f_, ss_);
    for (size_t i = 0; i < minifat.size(); i += 4) minifat_.push_back(U32(minifat, i));
    mini_ = Read(fat_, ss_, entries_[0].start, entries_[0].size, &f_, ss_);
  }

  uint32_t sector_size() const { return ss_; }
  const std::vector<uint32_t>& fat() const { return fat_; }
  const std::vector<uint32_t>& fat_sectors() const { return fat_sectors_; }
  const std::vector<uint32_t>& difat_sectors() const { return difat_sectors_; }
  const std::vector<Entry>& entries() const { return entries_; }
  uint64_t Offset(uint32_t sector) const { return (uint64_t{sector} + 1) * ss_; }

  // Root children in tree order.
  std::vector<uint32_t> Children() const {
    std::vector<uint32_t> out;
    std::set<uint32_t> seen;
    Walk(entries_.at(0).child, &out, &seen);
    return out;
  }

  std::string Stream(const std::u16string& name) const {
    for (uint32_t id : Children()) {
      const Entry& e = entries_[id];
      if (e.name != name) continue;
      return e.size < 4096 ? Read(minifat_, 64, e.start, e.size, &mini_, 0)
                           : Read(fat_, ss_, e.start, e.size, &f_, ss_);
    }
    throw std::runtime_error("no such stream");
  }

  bool Has(const std::u16string& name) const {
    for (uint32_t id : Children()) {
      if (entries_[id].name == name) return true;
    }
    return false;
  }

 private:
  void Walk(uint32_t id, std::vector<uint32_t>* out, std::set<uint32_t>* seen) const {
    if (id == 0xFFFFFFFF) return;
    if (id == 0 || id >= entries_.size() || !seen->insert(id).second) {
      throw std::runtime_error("bad tree link");
    }
    Walk(entries_[id].left, out, seen);
    out->push_back(id);
    Walk(entries_[id].right, out, seen);
  }

  // Follows a chain from `start`; `size` UINT64_MAX reads to ENDOFCHAIN.
  // `base` is the byte offset of unit 0 within `src` (the header size).
  static std::string Read(const std::vector<uint32_t>& table, uint32_t unit, uint32_t start,
                          uint64_t size, const std::string* src, uint64_t base) {
    std::string out;
    std::set<uint32_t> seen;
    uint32_t s = start;
    while (size == UINT64_MAX ? s != kEndOfChain : out.size() < size) {
      if (s >= table.size() || !seen.insert(s).second) throw std::runtime_error("bad chain link");
      out += src->substr(base + uint64_t{s} * unit, unit);
      s = table[s];
    }
    if (size != UINT64_MAX) out.resize(size);
    return out;
  }

  std::string f_;
  uint32_t ss_;
  std::vector<uint32_t> fat_sectors_, difat_sectors_, fat_, minifat_;
  std::vector<Entry> entries_;
  std::string mini_;
};

std::u16string TableStream(const std::string& name) {
  return u"\x4840" + EncodeStreamName(name, false);
}

TEST(DatabaseWriterTest, EncodesStreamNames) {
  const struct {
    const char* name;
    bool table;
    std::u16string want;
  } kCases[] = {
      {"_Tables", true, u"\x4840\x3F7F\x4164\x422F\x4836"},
      {"Binary.Icon1", false, u"\x430B\x4131\x4735\x3CBE\x44A6\x3871"},
      {"A", false, u"\x480A"},
      {"a b", false, u"\x4824 \x4825"},
      {"x-1", false, u"\x483B-\x4801"},
      {"", true, u"\x4840"},
  };
  for (const auto& c : kCases) EXPECT_EQ(EncodeStreamName(c.name, c.table), c.want) << c.name;
}

// Header fields, the header sector's padding, the root entry, the sibling
// tree order and stream contents, for both sector sizes.
TEST(DatabaseWriterTest, WritesContainerForBothSectorSizes) {
  for (unsigned shift : {9u, 12u}) {
    SCOPED_TRACE(shift);
    DatabaseDef def;
    def.sector_shift = shift;
    def.tables.push_back({"Property",
                          {{"Property", ct::kString | 72 | ct::kKey}, {"Value", ct::kLocalized}},
                          {{Value::Str("ProductName"), Value::Str("Demo")}}});
    const std::string big(4096, 'B');  // the smallest stream kept out of the mini stream
    def.streams.push_back({"cab1.cab", big});
    def.streams.push_back({"\x05SummaryInformation", "summary", 0, 0, true});
    def.storages.push_back("Sub");
    Layout layout;
    const std::string file = BuildDatabase(def, &layout);
    Container cf(file);

    const uint32_t ss = 1u << shift;
    EXPECT_EQ(file.substr(0, 8), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    EXPECT_EQ(U16(file, 0x18), 0x003Eu);
    EXPECT_EQ(U16(file, 0x1A), shift == 9 ? 3u : 4u);
    EXPECT_EQ(U16(file, 0x1C), 0xFFFEu);
    EXPECT_EQ(U16(file, 0x20), 6u);
    EXPECT_EQ(U32(file, 0x38), 4096u);
    EXPECT_EQ(U32(file, 0x28), shift == 9 ? 0u : layout.directory_sectors.size());
    EXPECT_EQ(file.size() % ss, 0u);
    EXPECT_EQ(file.find_first_not_of('\0', 0x4C + 4 * 109), shift == 9 ? 512u : 4096u);

    const auto& root = cf.entries()[0];
    EXPECT_EQ(root.name, u"Root Entry");
    EXPECT_EQ(root.type, 5u);
    EXPECT_EQ(file.substr(layout.DirectoryEntryOffset(0) + 0x50, 16),
              std::string("\x84\x10\x0C\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16));
    EXPECT_EQ(root.start, layout.mini_stream_start);

    std::vector<std::u16string> names;
    for (uint32_t id : cf.Children()) names.push_back(cf.entries()[id].name);
    const std::vector<std::u16string> want = {
        EncodeStreamName("Sub", false),       // 2 units
        EncodeStreamName("cab1.cab", false),  // 4
        TableStream("_Columns"),              // 5, then by code unit
        TableStream("_Tables"),               // 5
        TableStream("Property"),              // 5
        TableStream("_StringData"),           // 7
        TableStream("_StringPool"),           // 7
        u"\x05SummaryInformation",            // 19
    };
    EXPECT_EQ(names, want);
    for (size_t i = 1; i < cf.entries().size(); ++i) {
      const auto& e = cf.entries()[i];
      if (e.type == 0) {
        EXPECT_EQ(e.left & e.right & e.child, 0xFFFFFFFFu);
      }
    }
    EXPECT_EQ(cf.Stream(EncodeStreamName("cab1.cab", false)), big);
    EXPECT_EQ(cf.Stream(u"\x05SummaryInformation"), "summary");
    EXPECT_FALSE(layout.streams.at("cab1.cab").in_mini_stream);
    EXPECT_TRUE(layout.streams.at("!Property").in_mini_stream);
    const uint32_t cab = layout.streams.at("cab1.cab").directory_entry;
    EXPECT_EQ(cf.entries()[cab].name, EncodeStreamName("cab1.cab", false));
  }
}

// Ids skip the unused ones, a string of 64 KiB or more takes two pool
// entries, and string cells are 2 or 3 bytes wide.
TEST(DatabaseWriterTest, WritesStringPool) {
  for (bool long_ids : {false, true}) {
    SCOPED_TRACE(long_ids);
    const std::string huge(70000, 'h');
    DatabaseDef def;
    def.code_page = 1251;
    def.long_string_ids = long_ids;
    def.unused_string_ids = {1, 2};
    def.tables.push_back(
        {"T",
         {{"V", ct::kString | ct::kNullable}},
         {{Value::Str("x")}, {Value::Str(huge)}, {Value::Str("")}, {Value::Str("x")}}});
    Container cf(BuildDatabase(def));

    const std::string pool = cf.Stream(TableStream("_StringPool"));
    EXPECT_EQ(U32(pool, 0), 1251u | (long_ids ? 0x80000000u : 0));
    // id: 1, 2 unused; 3 "T"; 4 "V"; 5 "x"; 6 + 7 the long string.
    const std::vector<std::pair<uint32_t, uint32_t>> want = {
        {0, 0}, {0, 0}, {1, 2}, {1, 1}, {1, 2}, {0, 1}, {70000 & 0xFFFF, 1}};
    ASSERT_EQ(pool.size(), 4 + 4 * want.size());
    for (size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(U16(pool, 4 + 4 * i), want[i].first) << "id " << i + 1;
      EXPECT_EQ(U16(pool, 6 + 4 * i), want[i].second) << "id " << i + 1;
    }
    EXPECT_EQ(cf.Stream(TableStream("_StringData")), "TVx" + huge);

    const std::string cells = cf.Stream(TableStream("T"));
    const std::vector<uint32_t> ids = {5, 6, 0, 5};
    const size_t w = long_ids ? 3 : 2;
    ASSERT_EQ(cells.size(), ids.size() * w);
    for (size_t i = 0; i < ids.size(); ++i) {
      EXPECT_EQ(long_ids ? U24(cells, i * w) : U16(cells, i * w), ids[i]);
    }
  }
}

// The catalog, integer and binary cells, a binary value's stream and a table
// without rows.
TEST(DatabaseWriterTest, WritesCatalogAndCells) {
  DatabaseDef def;
  def.tables.push_back({"Empty", {{"K", ct::kInt4 | ct::kKey}}, {}});
  def.tables.push_back(
      {"Data",
       {{"Name", ct::kString | 72 | ct::kKey},
        {"N", ct::kInt2 | ct::kKey},
        {"Big", ct::kInt4 | ct::kNullable},
        {"Blob", ct::kBinary | ct::kNullable}},
       {{Value::Str("a"), Value::Int(-1), Value::Int(100000), Value::Stream("xyz")},
        {Value::Str("a"), Value::Int(7), Value::Null(), Value::Null()}}});
  Container cf(BuildDatabase(def));

  // Strings: 1 Empty, 2 Data, 3 K, 4 Name, 5 N, 6 Big, 7 Blob, 8 a.
  const std::string tables = cf.Stream(TableStream("_Tables"));
  EXPECT_EQ(tables, std::string("\1\0\2\0", 4));
  const std::string columns = cf.Stream(TableStream("_Columns"));
  const std::vector<std::vector<uint32_t>> want_columns = {
      {1, 2, 2, 2, 2},                            // Table
      {0x8001, 0x8001, 0x8002, 0x8003, 0x8004},   // Number
      {3, 4, 5, 6, 7},                            // Name
      {0xA104, 0xAD48, 0xA502, 0x9104, 0x9900}};  // Type
  ASSERT_EQ(columns.size(), 5u * 8);
  for (size_t c = 0; c < 4; ++c) {
    for (size_t r = 0; r < 5; ++r) EXPECT_EQ(U16(columns, (c * 5 + r) * 2), want_columns[c][r]);
  }

  const std::string cells = cf.Stream(TableStream("Data"));
  ASSERT_EQ(cells.size(), 2u * 10);
  EXPECT_EQ(U16(cells, 0), 8u);
  EXPECT_EQ(U16(cells, 2), 8u);
  EXPECT_EQ(U16(cells, 4), 0x7FFFu);
  EXPECT_EQ(U16(cells, 6), 0x8007u);
  EXPECT_EQ(U32(cells, 8), 0x800186A0u);
  EXPECT_EQ(U32(cells, 12), 0u);
  EXPECT_EQ(U16(cells, 16), 1u);
  EXPECT_EQ(U16(cells, 18), 0u);

  EXPECT_EQ(cf.Stream(EncodeStreamName("Data.a.-1", false)), "xyz");
  EXPECT_FALSE(cf.Has(TableStream("Empty")));
  EXPECT_EQ(cf.Children().size(), 6u);  // pool, data, _Tables, _Columns, Data, Data.a.-1
}

// More than 109 FAT sectors need DIFAT sectors; every FAT sector they list
// must be marked FATSECT, every DIFAT sector DIFSECT, and the big stream must
// read back through the FAT. The file written in pieces must be the same.
TEST(DatabaseWriterTest, AddsDifatSectorsForLargeFiles) {
  DatabaseDef def;
  def.streams.push_back({"big", "", 17u << 20, 'z'});  // 272 FAT sectors, 2 DIFAT sectors
  Layout layout;
  const std::string file = BuildDatabase(def, &layout);
  Container cf(file);

  ASSERT_GT(cf.fat_sectors().size(), 109u);
  EXPECT_EQ(cf.difat_sectors().size(), 2u);
  EXPECT_EQ(cf.fat_sectors(), layout.fat_sectors);
  EXPECT_EQ(cf.difat_sectors(), layout.difat_sectors);
  for (uint32_t s : cf.fat_sectors()) EXPECT_EQ(cf.fat().at(s), kFatSect);
  for (uint32_t s : cf.difat_sectors()) EXPECT_EQ(cf.fat().at(s), kDifSect);
  const uint32_t last_difat = cf.difat_sectors().back();
  const size_t listed = cf.fat_sectors().size() - 109 - (cf.difat_sectors().size() - 1) * 127;
  for (size_t i = listed; i < 127; ++i) {
    EXPECT_EQ(U32(file, cf.Offset(last_difat) + 4 * i), kFreeSect);
  }
  const uint64_t sectors = file.size() / 512 - 1;
  ASSERT_LE(sectors, cf.fat().size());
  for (uint64_t s = 0; s < cf.fat().size(); ++s) {
    EXPECT_EQ(cf.fat()[s] == kFreeSect, s >= sectors) << "sector " << s;
  }
  const std::string big = cf.Stream(EncodeStreamName("big", false));
  EXPECT_EQ(big.size(), 17u << 20);
  EXPECT_EQ(big.find_first_not_of('z'), std::string::npos);

  const std::string path = ::testing::TempDir() + "difat.msi";
  ASSERT_TRUE(WriteDatabaseFile(path, def));
  std::ifstream in(path, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(path.c_str());
  EXPECT_TRUE(written == file);
}

TEST(DatabaseWriterTest, SortsRowsByStoredKey) {
  DatabaseDef def;
  // "b" is met first in Other, so its id is below "a"'s; -5 sorts before 3.
  def.tables.push_back({"Other", {{"S", ct::kString}}, {{Value::Str("b")}}});
  def.tables.push_back({"T",
                        {{"K", ct::kString | ct::kKey}, {"I", ct::kInt2 | ct::kKey}},
                        {{Value::Str("a"), Value::Int(3)},
                         {Value::Str("b"), Value::Int(3)},
                         {Value::Str("a"), Value::Int(-5)}}});
  ASSERT_TRUE(SortRowsByKey(&def));
  const auto& rows = def.tables[1].rows;
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0].bytes + std::to_string(rows[0][1].integer), "b3");
  EXPECT_EQ(rows[1][0].bytes + std::to_string(rows[1][1].integer), "a-5");
  EXPECT_EQ(rows[2][0].bytes + std::to_string(rows[2][1].integer), "a3");
}

TEST(DatabaseWriterTest, RejectsDefinitionsTheFormatCannotHold) {
  auto with_table = [](TableDef t) {
    DatabaseDef def;
    def.tables.push_back(std::move(t));
    return def;
  };
  std::vector<DatabaseDef> bad;
  bad.push_back(with_table({"T", {{"C", ct::kInt2}}, {{Value::Int(1), Value::Int(2)}}}));
  bad.push_back(with_table({"T", {{"C", ct::kInt2}}, {{Value::Str("1")}}}));
  bad.push_back(with_table({"T", {{"C", ct::kInt2}}, {{Value::Int(40000)}}}));
  bad.push_back(with_table({std::string(31, '-'), {{"C", ct::kInt2}}, {{Value::Int(1)}}}));
  DatabaseDef dup;
  dup.streams.push_back({"s", "1"});
  dup.storages.push_back("s");
  bad.push_back(dup);
  DatabaseDef many_ids;
  many_ids.unused_string_ids = {65536};
  bad.push_back(many_ids);
  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_THROW(BuildDatabase(bad[i]), std::invalid_argument) << "case " << i;
  }
  many_ids.long_string_ids = true;
  EXPECT_NO_THROW(BuildDatabase(many_ids));
}

}  // namespace
}  // namespace testsupport
