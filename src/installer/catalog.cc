#include "catalog.h"

#include <algorithm>

namespace installer {
namespace {

constexpr uint16_t kKeyString64 = 0x2D40;   // s64, key
constexpr uint16_t kString64 = 0x0D40;      // s64
constexpr uint16_t kKeyInteger2 = 0x2502;   // i2, key
constexpr uint16_t kInteger2 = 0x0502;      // i2
constexpr uint16_t kKeyString62 = 0x2D3E;   // s62, key
constexpr uint16_t kNullableBinary = 0x1900;  // V0

TableSchema MakeSchema(const char* name, std::initializer_list<std::pair<const char*, uint16_t>> columns) {
  TableSchema schema;
  schema.name = name;
  for (const auto& c : columns) schema.columns.push_back(Column{c.first, ColumnType{c.second}});
  return schema;
}

}  // namespace

const TableSchema& Catalog::TablesSchema() {
  static const TableSchema schema = MakeSchema("_Tables", {{"Name", kKeyString64}});
  return schema;
}

const TableSchema& Catalog::ColumnsSchema() {
  static const TableSchema schema = MakeSchema(
      "_Columns",
      {{"Table", kKeyString64}, {"Number", kKeyInteger2}, {"Name", kString64}, {"Type", kInteger2}});
  return schema;
}

const TableSchema& Catalog::StreamsSchema() {
  static const TableSchema schema =
      MakeSchema("_Streams", {{"Name", kKeyString62}, {"Data", kNullableBinary}});
  return schema;
}

const TableSchema& Catalog::StoragesSchema() {
  static const TableSchema schema =
      MakeSchema("_Storages", {{"Name", kKeyString62}, {"Data", kNullableBinary}});
  return schema;
}

Outcome Catalog::Load(const CompoundFile& file, const StringPool& pool, std::unique_ptr<Catalog>* out) {
  std::unique_ptr<Catalog> catalog(new Catalog());
  INSTALLER_TRY(LoadStoredTable(file, pool, TablesSchema(), &catalog->tables_data_));
  INSTALLER_TRY(LoadStoredTable(file, pool, ColumnsSchema(), &catalog->columns_data_));

  // Every table and column name is copied out of the pool. One long string
  // named by many rows would make those copies grow with the square of the
  // file size, so their total may not exceed the size of the file (real
  // catalogs use a small fraction of it).
  std::string scratch;
  uint64_t name_budget = file.file().size();
  bool over_budget = false;
  auto text = [&](const Cell& cell) {
    std::string_view name = pool.Text(cell.string_id, &scratch);
    if (name.size() > name_budget) {
      over_budget = true;
      return std::string();
    }
    name_budget -= name.size();
    return std::string(name);
  };

  // Table names are matched by string id, as the catalog stores them.
  std::map<uint32_t, TableSchema*> by_id;
  const TableData& tables = *catalog->tables_data_;
  for (uint32_t row = 0; row < tables.row_count(); ++row) {
    Cell name = tables.At(row, 0);
    if (name.kind != Cell::Kind::kPoolString) return INSTALLER_DAMAGED("_Tables holds a null name");
    std::string table_name = text(name);
    if (over_budget) return INSTALLER_DAMAGED("catalog names exceed the size of the file");
    auto inserted = catalog->tables_.emplace(table_name, TableSchema{table_name, {}});
    if (!inserted.second || by_id.count(name.string_id))
      return INSTALLER_DAMAGED("a table is listed twice in _Tables");
    by_id[name.string_id] = &inserted.first->second;
  }

  struct Numbered {
    int number;
    Column column;
  };
  std::map<TableSchema*, std::vector<Numbered>> columns;
  const TableData& rows = *catalog->columns_data_;
  for (uint32_t row = 0; row < rows.row_count(); ++row) {
    Cell table = rows.At(row, 0), number = rows.At(row, 1), name = rows.At(row, 2), type = rows.At(row, 3);
    if (table.kind != Cell::Kind::kPoolString || name.kind != Cell::Kind::kPoolString)
      return INSTALLER_DAMAGED("_Columns holds a null table or column name");
    if (number.kind != Cell::Kind::kInteger || type.kind != Cell::Kind::kInteger)
      return INSTALLER_DAMAGED("_Columns holds a null number or type");
    ColumnType column_type{uint16_t(type.integer)};
    if (!column_type.valid()) return INSTALLER_DAMAGED("integer column whose width is not 2 or 4");
    auto owner = by_id.find(table.string_id);
    if (owner == by_id.end()) continue;  // columns of a table that is not listed
    columns[owner->second].push_back(Numbered{number.integer, Column{text(name), column_type}});
    if (over_budget) return INSTALLER_DAMAGED("catalog names exceed the size of the file");
  }

  for (auto& entry : by_id) {
    TableSchema* schema = entry.second;
    std::vector<Numbered>& list = columns[schema];
    if (list.empty()) return INSTALLER_DAMAGED("a table has no columns");
    std::sort(list.begin(), list.end(),
              [](const Numbered& a, const Numbered& b) { return a.number < b.number; });
    for (size_t i = 0; i < list.size(); ++i) {
      if (list[i].number != int(i + 1)) return INSTALLER_DAMAGED("column numbers are not 1..n");
      schema->columns.push_back(std::move(list[i].column));
    }
  }
  *out = std::move(catalog);
  return Outcome();
}

const TableSchema* Catalog::Find(const std::string& name) const {
  if (name == "_Tables") return &TablesSchema();
  if (name == "_Columns") return &ColumnsSchema();
  if (name == "_Streams") return &StreamsSchema();
  if (name == "_Storages") return &StoragesSchema();
  auto it = tables_.find(name);
  return it == tables_.end() ? nullptr : &it->second;
}

}  // namespace installer
