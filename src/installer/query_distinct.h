// SELECT DISTINCT: drops every result row identical to an earlier one.
#pragma once

#include <vector>

#include "query_cells.h"

namespace installer {

// Keeps the first of each set of rows whose selected cells are identical:
// same null-ness, integers, or texts. A stream cell is identified by the
// table row it belongs to (its stream is named after that row), so two
// stream cells are identical only when they come from the same row.
void RemoveDuplicateRows(const std::vector<ColumnSlot>& outputs, QueryTables& tables, RowTuples* result);

}  // namespace installer
