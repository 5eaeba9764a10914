// A prepared query and its execution.
//
// Preparing parses the query and checks its names against the catalog, so
// that a bad query fails before any table is read. Executing reads the
// tables; fetching hands out the rows in order.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "database.h"
#include "outcome.h"
#include "query_parser.h"
#include "table.h"

namespace installer {

class View {
 public:
  enum class PrepareError { kNone, kSyntax, kUnknownName };
  static PrepareError Prepare(std::shared_ptr<const Database> database, const std::string& query,
                              std::unique_ptr<View>* out);

  // The columns of the result, in order.
  const std::vector<Column>& columns() const { return columns_; }

  Outcome Execute();
  // Fills `row` with the next row's cells; false when no row is left (or the
  // view has not been executed). Text cells stay valid until Close.
  bool Fetch(std::vector<Cell>* row);
  void Close();

  bool executed() const { return executed_; }
  const std::shared_ptr<const Database>& shared_database() const { return database_; }

 private:
  View() = default;

  std::shared_ptr<const Database> database_;
  SelectStatement statement_;
  const TableSchema* table_ = nullptr;
  std::vector<Column> columns_;

  bool executed_ = false;
  std::shared_ptr<const TableData> data_;
  uint32_t next_row_ = 0;
};

}  // namespace installer
