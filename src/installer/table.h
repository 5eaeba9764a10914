// Tables: their schema and their cells.
//
// A table stream stores its rows column by column: every row's cell of
// column 1, then of column 2, and so on; the row count is the stream size
// divided by the row width. Cell encodings:
//   string  a string id (2 bytes, or 3 with long ids); 0 is null
//   i2      (value + 0x8000) & 0xFFFF; 0 is null
//   i4      value ^ 0x80000000; 0 is null
//   binary  2 bytes, non-zero when the row's stream exists; 0 is null
// A table with no rows has no stream at all.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "column_type.h"
#include "compound_file.h"
#include "outcome.h"
#include "string_pool.h"

namespace installer {

struct Column {
  std::string name;
  ColumnType type;
};

struct TableSchema {
  std::string name;
  std::vector<Column> columns;
};

struct Cell {
  enum class Kind : uint8_t { kNull, kInteger, kPoolString, kText, kStream };
  Kind kind = Kind::kNull;
  int32_t integer = 0;     // kInteger
  uint32_t string_id = 0;  // kPoolString
  std::string_view text;   // kText, owned by the table
};

class TableData {
 public:
  virtual ~TableData() = default;
  virtual uint32_t row_count() const = 0;
  virtual Cell At(uint32_t row, uint32_t column) const = 0;
};

// Reads and checks the stream of a stored table: its size must be a whole
// number of rows and every string id must lie in the pool.
Outcome LoadStoredTable(const CompoundFile& file, const StringPool& pool, const TableSchema& schema,
                        std::shared_ptr<const TableData>* out);

// A table of names with a stream column, as _Streams and _Storages are.
std::shared_ptr<const TableData> MakeNameTable(std::vector<std::string> names);

}  // namespace installer
