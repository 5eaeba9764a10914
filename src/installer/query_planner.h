// Turns a parsed query into a plan: every name resolved against the
// catalog and every comparison checked against its column's type, before
// any row is read.
//
// The WHERE condition is split at its top-level ANDs so that the executor
// can filter each table on its own before combining tables, and can join
// tables through their equalities instead of trying every combination.
#pragma once

#include <cstdint>
#include <vector>

#include "catalog.h"
#include "query_cells.h"
#include "query_condition.h"
#include "query_parser.h"
#include "table.h"

namespace installer {

// The most tables one query can name (a condition notes the tables it
// reads in a 64-bit mask).
constexpr size_t kMaxQueryTables = 64;

struct OrderKey {
  ColumnSlot slot;
  bool text = false;  // a string column, else an integer one
};

struct Plan {
  std::vector<const TableSchema*> tables;  // the FROM list
  std::vector<ColumnSlot> outputs;         // the selected columns
  std::vector<Column> columns;             // their names and types
  bool distinct = false;
  std::vector<OrderKey> order_by;

  // The conjuncts of the WHERE condition:
  std::vector<std::vector<Predicate>> filters;  // by table: those reading only that table
  std::vector<Predicate> joins;                 // `a = b` over columns of two tables
  std::vector<Predicate> others;                // any other reading several tables

  // One table, read in stored order with nothing to drop or sort afterwards:
  // rows can be filtered as they are fetched.
  bool streams() const { return tables.size() == 1 && !distinct && order_by.empty(); }
};

enum class PlanError {
  kNone,
  kUnknownName,    // a table or column the database does not have
  kAmbiguousName,  // a column several tables have, or a table named twice
  kTypeMismatch,   // a comparison or ordering the column's type cannot take
  kTooManyTables,
};

PlanError BuildPlan(const Catalog& catalog, const SelectStatement& statement, Plan* plan);

}  // namespace installer
