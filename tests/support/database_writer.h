// Test-support writer for installer databases.
//
// Builds a complete database file (compound file container, encoded stream
// names, string pool, catalog tables, table streams and binary streams) from
// a plain description of its tables. It is written independently of the
// reader under src/installer/ so that the two check each other; it is used by
// the tests, the fuzz seed corpus, the sample database and the benchmarks.
//
// Strings are given as raw bytes in the database code page: the writer does
// no text conversion. Stream and storage names are UTF-8 (ASCII in practice);
// a byte that is not valid UTF-8 becomes the code unit of the same value.
//
// String ids are handed out in first-use order, after skipping the ids in
// unused_string_ids: first every table name (catalog order), then every
// column name (table by table, column by column), then the string cells of
// each table in catalog order, row by row, left to right.
//
// A definition the format cannot hold (a row of the wrong width, a cell of
// the wrong kind, a name longer than 31 code units, two root streams with
// the same name, more string ids than the id width allows...) makes
// BuildDatabase and WriteDatabaseFile throw std::invalid_argument.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace testsupport {

// Column type bits as stored in _Columns.Type (before the sign flip).
namespace coltype {
constexpr uint16_t kPersistent = 0x0100;
constexpr uint16_t kLocalizable = 0x0200;
constexpr uint16_t kNullable = 0x1000;
constexpr uint16_t kKey = 0x2000;
constexpr uint16_t kInt4 = 0x0104;       // i4
constexpr uint16_t kInt2 = 0x0502;       // i2
constexpr uint16_t kBinary = 0x0900;     // v0
constexpr uint16_t kString = 0x0D00;     // s0; add the width: kString | 72 is s72
constexpr uint16_t kLocalized = 0x0F00;  // l0
}  // namespace coltype

struct ColumnDef {
  std::string name;
  uint16_t type;  // coltype bits, e.g. coltype::kString | 72 | coltype::kKey
};

// One cell. Binary cells carry the stream's data; the writer stores the
// stream under "Table.Key1[.Key2...]" and the cell as 1.
struct Value {
  enum class Kind { kNull, kInt, kString, kStream } kind = Kind::kNull;
  int32_t integer = 0;
  std::string bytes;  // string text or stream data

  static Value Null() { return Value{}; }
  static Value Int(int32_t v) { return Value{Kind::kInt, v, {}}; }
  static Value Str(std::string s) { return Value{Kind::kString, 0, std::move(s)}; }
  static Value Stream(std::string data) { return Value{Kind::kStream, 0, std::move(data)}; }
};

struct TableDef {
  std::string name;
  std::vector<ColumnDef> columns;
  std::vector<std::vector<Value>> rows;  // written in this order (sort them yourself)
};

// A root stream that belongs to no table (a cabinet, summary information...).
// `name` is the decoded name; with `literal` it is stored unencoded (as the
// "\x05SummaryInformation" stream is). Either `data` or `filler_size` bytes of
// `filler_byte` (for very large streams that must not be held in memory).
struct ExtraStream {
  std::string name;
  std::string data;
  uint64_t filler_size = 0;
  char filler_byte = 0;
  bool literal = false;
};

struct DatabaseDef {
  uint32_t code_page = 1252;
  bool long_string_ids = false;  // bit 31 of the pool header: 3-byte string ids
  unsigned sector_shift = 9;     // 9 (512-byte sectors) or 12 (4096-byte sectors)
  std::vector<TableDef> tables;  // catalog order = order here; _Tables/_Columns are added
  std::vector<ExtraStream> streams;
  std::vector<std::string> storages;  // empty sub-storages of the root, by decoded name
  // Ids to leave unused ((0,0) pool entries) before the strings are interned, e.g. {1, 2}.
  std::vector<uint32_t> unused_string_ids;
};

// Where the writer put things, for tests that corrupt a file on purpose.
struct Layout {
  uint32_t sector_size = 0;
  std::vector<uint32_t> fat_sectors;    // sector numbers, in FAT order
  std::vector<uint32_t> difat_sectors;  // sector numbers, in chain order
  std::vector<uint32_t> directory_sectors;
  std::vector<uint32_t> minifat_sectors;
  uint32_t mini_stream_start = 0;  // first sector of the mini stream
  struct StreamInfo {
    uint32_t directory_entry = 0;  // index of its directory entry
    uint32_t start_sector = 0;     // regular or mini sector number
    uint64_t size = 0;
    bool in_mini_stream = false;
  };
  // Keyed by decoded name; table streams are keyed "!Name" (e.g. "!_StringPool").
  std::map<std::string, StreamInfo> streams;

  uint64_t SectorOffset(uint32_t sector) const { return (uint64_t(sector) + 1) * sector_size; }
  uint64_t DirectoryEntryOffset(uint32_t entry) const;
};

// Builds the database in memory.
std::string BuildDatabase(const DatabaseDef& def, Layout* layout = nullptr);

// Writes the database to `path`, streaming filler streams, so that files of
// several GiB can be made without holding them. Returns false on an I/O error.
bool WriteDatabaseFile(const std::string& path, const DatabaseDef& def, Layout* layout = nullptr);

// The encoded stream name (UTF-16 code units) of a decoded name; `table`
// adds the 0x4840 table-stream prefix.
std::u16string EncodeStreamName(const std::string& name, bool table);

// The id each distinct non-empty string of `def` gets (see the order above).
std::unordered_map<std::string, uint32_t> StringIds(const DatabaseDef& def);

// Sorts the rows of every table by stored primary key value (string keys by
// string id, integer keys numerically, null first, keys left to right), as
// real databases store them. Sorting can change which string is met first,
// so it repeats until the order is stable; returns false if that needed more
// than a few rounds (the rows are then sorted by the last round's ids).
bool SortRowsByKey(DatabaseDef* def);

}  // namespace testsupport
