#include "query_planner.h"

namespace installer {
namespace {

enum class ValueKind { kInteger, kString, kBinary };

ValueKind KindOf(const Column& column) {
  if (column.type.is_integer()) return ValueKind::kInteger;
  return column.type.kind() == ColumnKind::kBinary ? ValueKind::kBinary : ValueKind::kString;
}

bool IsSingleTable(uint64_t tables) { return tables != 0 && (tables & (tables - 1)) == 0; }

uint32_t TableOfMask(uint64_t tables) {
  uint32_t index = 0;
  while (!(tables & 1)) {
    tables >>= 1;
    ++index;
  }
  return index;
}

class Planner {
 public:
  Planner(const Catalog& catalog, Plan* plan) : catalog_(catalog), plan_(plan) {}

  PlanError Build(const SelectStatement& statement) {
    if (statement.tables.size() > kMaxQueryTables) return PlanError::kTooManyTables;
    for (const std::string& name : statement.tables) {
      const TableSchema* table = catalog_.Find(name);
      if (!table) return PlanError::kUnknownName;
      for (const TableSchema* earlier : plan_->tables) {
        if (earlier == table) return PlanError::kAmbiguousName;
      }
      plan_->tables.push_back(table);
    }

    if (statement.all_columns) {
      for (uint32_t t = 0; t < plan_->tables.size(); ++t) {
        const std::vector<Column>& columns = plan_->tables[t]->columns;
        for (uint32_t c = 0; c < columns.size(); ++c) AddOutput(ColumnSlot{t, c});
      }
    } else {
      for (const ColumnName& name : statement.columns) {
        ColumnSlot slot;
        if (PlanError error = Resolve(name, &slot); error != PlanError::kNone) return error;
        AddOutput(slot);
      }
    }

    plan_->distinct = statement.distinct;
    for (const ColumnName& name : statement.order_by) {
      ColumnSlot slot;
      if (PlanError error = Resolve(name, &slot); error != PlanError::kNone) return error;
      const ValueKind kind = KindOf(ColumnAt(slot));
      if (kind == ValueKind::kBinary) return PlanError::kTypeMismatch;
      plan_->order_by.push_back(OrderKey{slot, kind == ValueKind::kString});
    }

    plan_->filters.resize(plan_->tables.size());
    if (statement.where) {
      Predicate root;
      if (PlanError error = Convert(*statement.where, &root); error != PlanError::kNone) return error;
      Distribute(std::move(root));
    }
    return PlanError::kNone;
  }

 private:
  const Column& ColumnAt(ColumnSlot slot) const { return plan_->tables[slot.table]->columns[slot.column]; }

  void AddOutput(ColumnSlot slot) {
    plan_->outputs.push_back(slot);
    plan_->columns.push_back(ColumnAt(slot));
  }

  static bool FindColumn(const TableSchema& table, const std::string& name, uint32_t* column) {
    for (uint32_t c = 0; c < table.columns.size(); ++c) {
      if (table.columns[c].name == name) {
        *column = c;
        return true;
      }
    }
    return false;
  }

  PlanError Resolve(const ColumnName& name, ColumnSlot* slot) const {
    const std::vector<const TableSchema*>& tables = plan_->tables;
    if (!name.table.empty()) {
      for (uint32_t t = 0; t < tables.size(); ++t) {
        if (tables[t]->name != name.table) continue;
        slot->table = t;
        return FindColumn(*tables[t], name.column, &slot->column) ? PlanError::kNone
                                                                   : PlanError::kUnknownName;
      }
      return PlanError::kUnknownName;
    }
    bool found = false;
    for (uint32_t t = 0; t < tables.size(); ++t) {
      uint32_t column;
      if (!FindColumn(*tables[t], name.column, &column)) continue;
      if (found) return PlanError::kAmbiguousName;
      found = true;
      *slot = ColumnSlot{t, column};
    }
    return found ? PlanError::kNone : PlanError::kUnknownName;
  }

  PlanError Convert(const Condition& condition, Predicate* out) const {
    using Kind = Condition::Kind;
    if (condition.kind == Kind::kAnd || condition.kind == Kind::kOr) {
      out->kind = condition.kind == Kind::kAnd ? Predicate::Kind::kAnd : Predicate::Kind::kOr;
      for (const Condition& operand : condition.operands) {
        Predicate converted;
        if (PlanError error = Convert(operand, &converted); error != PlanError::kNone) return error;
        out->tables |= converted.tables;
        out->operands.push_back(std::move(converted));
      }
      return PlanError::kNone;
    }

    if (PlanError error = Resolve(condition.column, &out->column); error != PlanError::kNone) return error;
    out->tables = uint64_t(1) << out->column.table;
    const ValueKind kind = KindOf(ColumnAt(out->column));
    if (condition.kind == Kind::kIsNull || condition.kind == Kind::kIsNotNull) {
      out->kind = condition.kind == Kind::kIsNull ? Predicate::Kind::kIsNull : Predicate::Kind::kIsNotNull;
      return PlanError::kNone;
    }

    out->op = condition.op;
    switch (condition.right_kind) {
      case Condition::OperandKind::kInteger:
        if (kind != ValueKind::kInteger) return PlanError::kTypeMismatch;
        out->kind = Predicate::Kind::kCompareInteger;
        out->integer = condition.integer;
        return PlanError::kNone;
      case Condition::OperandKind::kString:
        if (kind != ValueKind::kString) return PlanError::kTypeMismatch;
        out->kind = Predicate::Kind::kCompareText;
        out->text = condition.text;
        return PlanError::kNone;
      case Condition::OperandKind::kColumn: {
        if (PlanError error = Resolve(condition.right_column, &out->other); error != PlanError::kNone)
          return error;
        if (kind == ValueKind::kBinary || KindOf(ColumnAt(out->other)) != kind)
          return PlanError::kTypeMismatch;
        out->kind = Predicate::Kind::kColumnsEqual;
        out->text_columns = kind == ValueKind::kString;
        out->tables |= uint64_t(1) << out->other.table;
        return PlanError::kNone;
      }
    }
    return PlanError::kNone;
  }

  // Files each top-level conjunct where the executor can use it best.
  void Distribute(Predicate predicate) {
    if (predicate.kind == Predicate::Kind::kAnd) {
      for (Predicate& operand : predicate.operands) Distribute(std::move(operand));
      return;
    }
    if (IsSingleTable(predicate.tables)) {
      plan_->filters[TableOfMask(predicate.tables)].push_back(std::move(predicate));
    } else if (predicate.kind == Predicate::Kind::kColumnsEqual) {
      plan_->joins.push_back(std::move(predicate));
    } else {
      plan_->others.push_back(std::move(predicate));
    }
  }

  const Catalog& catalog_;
  Plan* plan_;
};

}  // namespace

PlanError BuildPlan(const Catalog& catalog, const SelectStatement& statement, Plan* plan) {
  *plan = Plan();
  return Planner(catalog, plan).Build(statement);
}

}  // namespace installer
