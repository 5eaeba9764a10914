// A WHERE condition with its names resolved, and its evaluation on a
// combination of rows.
//
// A comparison involving a null cell is false, so is `a = b` when either is
// null; only IS NULL holds for a null cell.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "query_cells.h"
#include "query_parser.h"

namespace installer {

struct Predicate {
  enum class Kind : uint8_t {
    kAnd,
    kOr,
    kIsNull,
    kIsNotNull,
    kCompareInteger,  // column op integer
    kCompareText,     // column = / <> text
    kColumnsEqual,    // column = other (both integer or both string columns)
  };
  Kind kind = Kind::kAnd;
  CompareOp op = CompareOp::kEqual;
  ColumnSlot column;
  ColumnSlot other;    // kColumnsEqual
  bool text_columns = false;  // kColumnsEqual: compared as strings
  int32_t integer = 0;
  std::string text;
  std::vector<Predicate> operands;  // kAnd, kOr
  uint64_t tables = 0;  // bit i set when table i of the FROM list is read
};

// `rows` holds a row number for every table the predicate reads.
bool Evaluate(const Predicate& predicate, QueryTables& tables, const uint32_t* rows);

}  // namespace installer
