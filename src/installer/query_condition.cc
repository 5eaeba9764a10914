#include "query_condition.h"

namespace installer {
namespace {

bool CompareIntegers(int32_t a, CompareOp op, int32_t b) {
  switch (op) {
    case CompareOp::kEqual: return a == b;
    case CompareOp::kNotEqual: return a != b;
    case CompareOp::kLess: return a < b;
    case CompareOp::kGreater: return a > b;
    case CompareOp::kLessEqual: return a <= b;
    case CompareOp::kGreaterEqual: return a >= b;
  }
  return false;
}

}  // namespace

bool Evaluate(const Predicate& predicate, QueryTables& tables, const uint32_t* rows) {
  switch (predicate.kind) {
    case Predicate::Kind::kAnd:
      for (const Predicate& operand : predicate.operands) {
        if (!Evaluate(operand, tables, rows)) return false;
      }
      return true;
    case Predicate::Kind::kOr:
      for (const Predicate& operand : predicate.operands) {
        if (Evaluate(operand, tables, rows)) return true;
      }
      return false;
    case Predicate::Kind::kIsNull:
      return tables.At(predicate.column, rows).kind == Cell::Kind::kNull;
    case Predicate::Kind::kIsNotNull:
      return tables.At(predicate.column, rows).kind != Cell::Kind::kNull;
    case Predicate::Kind::kCompareInteger: {
      const Cell cell = tables.At(predicate.column, rows);
      return cell.kind == Cell::Kind::kInteger && CompareIntegers(cell.integer, predicate.op, predicate.integer);
    }
    case Predicate::Kind::kCompareText: {
      const Cell cell = tables.At(predicate.column, rows);
      if (cell.kind == Cell::Kind::kNull) return false;
      const bool equal = tables.text.Transient(cell) == predicate.text;
      return predicate.op == CompareOp::kEqual ? equal : !equal;
    }
    case Predicate::Kind::kColumnsEqual: {
      const Cell a = tables.At(predicate.column, rows);
      const Cell b = tables.At(predicate.other, rows);
      if (predicate.text_columns) return tables.text.Equal(a, b);
      return a.kind == Cell::Kind::kInteger && b.kind == Cell::Kind::kInteger && a.integer == b.integer;
    }
  }
  return false;
}

}  // namespace installer
