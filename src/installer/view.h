// A prepared query and its execution.
//
// Preparing parses the query and plans it against the catalog (names
// resolved, types checked), so that a bad query fails before any table is
// read. Executing reads the tables; fetching hands out the rows in order.
//
// A query on one table with no DISTINCT or ORDER BY is filtered row by row
// as it is fetched; any other is worked out whole by Execute.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "database.h"
#include "outcome.h"
#include "query_cells.h"
#include "query_planner.h"
#include "table.h"

namespace installer {

class View {
 public:
  enum class PrepareError { kNone, kSyntax, kUnknownName, kAmbiguousName, kTypeMismatch, kTooManyTables };
  static PrepareError Prepare(std::shared_ptr<const Database> database, const std::string& query,
                              std::unique_ptr<View>* out);

  // The columns of the result, in order.
  const std::vector<Column>& columns() const { return plan_.columns; }

  Outcome Execute();
  // Fills `row` with the next row's cells; false when no row is left (or the
  // view has not been executed). Text cells stay valid until Close.
  bool Fetch(std::vector<Cell>* row);
  void Close();

  bool executed() const { return executed_; }
  const std::shared_ptr<const Database>& shared_database() const { return database_; }

 private:
  View() = default;

  bool FetchStreamed(std::vector<Cell>* row);

  std::shared_ptr<const Database> database_;
  Plan plan_;

  bool executed_ = false;
  std::unique_ptr<QueryTables> tables_;
  uint32_t next_row_ = 0;   // streamed: the next stored row to look at
  RowTuples result_;        // otherwise: the whole result
  size_t next_result_ = 0;
};

}  // namespace installer
