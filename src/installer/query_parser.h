// The syntax tree of a query, and the parser that builds it.
//
//   query      := SELECT [DISTINCT] columns FROM tables [WHERE condition]
//                 [ORDER BY column {',' column}]
//   columns    := '*' | column {',' column}
//   tables     := name {',' name}
//   column     := name ['.' name]              (table.column)
//   condition  := conjunct {OR conjunct}
//   conjunct   := primary {AND primary}
//   primary    := '(' condition ')'
//               | column IS [NOT] NULL
//               | column '=' column
//               | column op integer            op: = <> < > <= >=
//               | column op string             op: = <>
//   name       := identifier | `quoted identifier`
//
// Keywords are matched without regard to case; names are case-sensitive.
// A keyword can only be used as a name when back-quoted, except right after
// a '.', where only a name can stand. Integers must fit 32 signed bits.
// Whether a comparison suits its column's type is for the planner to say.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace installer {

struct ColumnName {
  std::string table;  // empty when the column is not qualified
  std::string column;
};

enum class CompareOp { kEqual, kNotEqual, kLess, kGreater, kLessEqual, kGreaterEqual };

struct Condition {
  enum class Kind { kAnd, kOr, kIsNull, kIsNotNull, kCompare };
  enum class OperandKind { kColumn, kInteger, kString };

  Kind kind = Kind::kCompare;
  std::vector<Condition> operands;  // kAnd, kOr: two or more, in query order

  ColumnName column;  // kIsNull, kIsNotNull, kCompare: the column on the left
  CompareOp op = CompareOp::kEqual;
  OperandKind right_kind = OperandKind::kInteger;  // kCompare: what is on the right
  ColumnName right_column;
  int32_t integer = 0;
  std::string text;
};

struct SelectStatement {
  bool distinct = false;
  bool all_columns = false;          // SELECT *
  std::vector<ColumnName> columns;   // otherwise, in order
  std::vector<std::string> tables;
  std::optional<Condition> where;
  std::vector<ColumnName> order_by;
};

// Returns false when `text` is not a query of the language.
bool ParseQuery(const std::string& text, SelectStatement* out);

}  // namespace installer
