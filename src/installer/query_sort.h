// ORDER BY: sorts result rows on one or more columns, left to right.
//
// Integers sort numerically, strings by their UTF-8 bytes; nulls come
// first in both. Rows that tie keep their order.
#pragma once

#include <vector>

#include "query_cells.h"
#include "query_planner.h"

namespace installer {

void SortRows(const std::vector<OrderKey>& keys, QueryTables& tables, RowTuples* result);

}  // namespace installer
