// Combines the tables of a query into the row combinations its WHERE
// condition accepts.
//
// Each table is first filtered on its own conditions. Tables are then added
// one at a time, preferring one linked by an equality `a.x = b.y` to the
// tables already combined: its rows are hashed on the linked column and
// each combination so far looks up its partners, so a join costs the sizes
// of its inputs and output, never their product. Only tables that no
// equality links (or that are linked only under an OR) are tried against
// every combination.
#pragma once

#include "query_cells.h"
#include "query_planner.h"

namespace installer {

// The accepted combinations, one row number per table of the FROM list, in
// order of the first table's rows, then the second's, and so on.
RowTuples CombineTables(const Plan& plan, QueryTables& tables);

}  // namespace installer
