#include "query_distinct.h"

#include <cstring>
#include <string>
#include <unordered_set>

namespace installer {
namespace {

void AppendNumber(uint32_t value, std::string* out) {
  char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  out->append(bytes, sizeof bytes);
}

// An encoding of a row's selected cells that is equal for identical rows
// and differs otherwise (every variable part is length-prefixed).
void RowKey(const std::vector<ColumnSlot>& outputs, QueryTables& tables, const uint32_t* rows, std::string* key) {
  key->clear();
  for (ColumnSlot slot : outputs) {
    const Cell cell = tables.At(slot, rows);
    switch (cell.kind) {
      case Cell::Kind::kNull: key->push_back('n'); break;
      case Cell::Kind::kInteger:
        key->push_back('i');
        AppendNumber(uint32_t(cell.integer), key);
        break;
      case Cell::Kind::kPoolString:
      case Cell::Kind::kText: {
        const std::string_view text = tables.text.Transient(cell);
        key->push_back('s');
        AppendNumber(uint32_t(text.size()), key);
        key->append(text);
        break;
      }
      case Cell::Kind::kStream:
        key->push_back('b');
        AppendNumber(rows[slot.table], key);
        break;
    }
  }
}

}  // namespace

void RemoveDuplicateRows(const std::vector<ColumnSlot>& outputs, QueryTables& tables, RowTuples* result) {
  // A column selected again tells no rows apart: each is encoded once, so
  // that the keys kept grow with the rows and the distinct columns, not with
  // the length of the column list.
  std::vector<ColumnSlot> columns;
  std::unordered_set<uint64_t> listed;
  for (ColumnSlot slot : outputs) {
    if (listed.insert(uint64_t(slot.table) << 32 | slot.column).second) columns.push_back(slot);
  }

  std::unordered_set<std::string> seen;
  std::string key;
  std::vector<uint32_t> kept;
  for (size_t i = 0; i < result->size(); ++i) {
    RowKey(columns, tables, result->at(i), &key);
    if (seen.insert(key).second) kept.insert(kept.end(), result->at(i), result->at(i) + result->width);
  }
  result->rows = std::move(kept);
}

}  // namespace installer
