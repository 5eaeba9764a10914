// The catalog: which tables a database has and their columns.
//
// "_Tables" holds one string column, Name, one row per table.
// "_Columns" holds Table (string), Number (i2, 1-based position), Name
// (string) and Type (i2, see column_type.h), one row per column.
// The system tables _Tables, _Columns, _Streams and _Storages are not listed
// there; their schemas are fixed.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "compound_file.h"
#include "outcome.h"
#include "string_pool.h"
#include "table.h"

namespace installer {

class Catalog {
 public:
  // Reads and checks _Tables and _Columns.
  static Outcome Load(const CompoundFile& file, const StringPool& pool, std::unique_ptr<Catalog>* out);

  // The schema of a table, the system tables included; null when unknown.
  // Names are case-sensitive.
  const TableSchema* Find(const std::string& name) const;

  // The stored catalog tables, loaded once.
  const std::shared_ptr<const TableData>& tables_data() const { return tables_data_; }
  const std::shared_ptr<const TableData>& columns_data() const { return columns_data_; }

  static const TableSchema& TablesSchema();
  static const TableSchema& ColumnsSchema();
  static const TableSchema& StreamsSchema();
  static const TableSchema& StoragesSchema();

 private:
  Catalog() = default;

  std::map<std::string, TableSchema> tables_;
  std::shared_ptr<const TableData> tables_data_;
  std::shared_ptr<const TableData> columns_data_;
};

}  // namespace installer
