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
//
// Tables that nothing links multiply: a handful of them can have more
// combinations than any memory holds, or than could be tried in a lifetime.
// So the work of trying combinations while adding tables is counted: each
// costs the row numbers it takes (one per table of the FROM list) and the
// condition nodes checked on it. A query needing more than kMaxCombiningWork
// fails instead. That keeps the combinations held under 128 MiB and bounds
// the time spent, however long the condition; joins over an equality only
// try the combinations they keep.
#pragma once

#include <cstddef>

#include "outcome.h"
#include "query_cells.h"
#include "query_planner.h"

namespace installer {

constexpr size_t kMaxCombiningWork = size_t(1) << 25;

// The accepted combinations, one row number per table of the FROM list, in
// order of the first table's rows, then the second's, and so on. Fails when
// combining them would take more than kMaxCombiningWork (see above).
Outcome CombineTables(const Plan& plan, QueryTables& tables, RowTuples* result);

}  // namespace installer
