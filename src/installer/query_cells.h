// The cells a query reads: its tables' data, addressed by a combination of
// rows (one row number per table of the FROM list), and the UTF-8 text of
// string cells for comparing and ordering them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "string_pool.h"
#include "table.h"

namespace installer {

// A column of the query: the table's position in the FROM list and the
// column's position in that table.
struct ColumnSlot {
  uint32_t table = 0;
  uint32_t column = 0;
};

// Texts of string cells (pool strings and the system tables' plain texts).
class CellText {
 public:
  explicit CellText(const StringPool& pool) : pool_(pool) {}
  CellText(const CellText&) = delete;
  CellText& operator=(const CellText&) = delete;

  // The text of a string cell (empty for any other cell), valid as long as
  // this object and the table holding the cell.
  std::string_view Stable(const Cell& cell);
  // The same, valid only until the next call of Transient.
  std::string_view Transient(const Cell& cell) { return Text(cell, &scratch_); }

  // Whether two non-null string cells hold the same text. Pool strings with
  // the same id do; different ids normally mean different texts, but a
  // damaged pool may hold a string twice, so their texts are compared.
  bool Equal(const Cell& a, const Cell& b);

 private:
  std::string_view Text(const Cell& cell, std::string* scratch) const;

  const StringPool& pool_;
  std::string scratch_, other_scratch_;
  std::unordered_map<uint32_t, std::string> decoded_;  // by string id, for Stable
};

// The loaded tables of a query.
struct QueryTables {
  explicit QueryTables(const StringPool& pool) : text(pool) {}

  // The cell of `slot` in the combination `rows` (indexed by table).
  Cell At(ColumnSlot slot, const uint32_t* rows) const {
    return data[slot.table]->At(rows[slot.table], slot.column);
  }

  std::vector<std::shared_ptr<const TableData>> data;  // in FROM-list order
  CellText text;
};

// Row combinations, `width` row numbers each (one per table of the query),
// stored one after the other.
struct RowTuples {
  uint32_t width = 1;
  std::vector<uint32_t> rows;

  size_t size() const { return rows.size() / width; }
  const uint32_t* at(size_t i) const { return rows.data() + i * width; }
};

}  // namespace installer
