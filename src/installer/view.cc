#include "view.h"

#include "query_distinct.h"
#include "query_join.h"
#include "query_parser.h"
#include "query_sort.h"

namespace installer {

View::PrepareError View::Prepare(std::shared_ptr<const Database> database, const std::string& query,
                                 std::unique_ptr<View>* out) {
  SelectStatement statement;
  if (!ParseQuery(query, &statement)) return PrepareError::kSyntax;
  std::unique_ptr<View> view(new View());
  switch (BuildPlan(database->catalog(), statement, &view->plan_)) {
    case PlanError::kNone: break;
    case PlanError::kUnknownName: return PrepareError::kUnknownName;
    case PlanError::kAmbiguousName: return PrepareError::kAmbiguousName;
    case PlanError::kTypeMismatch: return PrepareError::kTypeMismatch;
    case PlanError::kTooManyTables: return PrepareError::kTooManyTables;
  }
  view->database_ = std::move(database);
  *out = std::move(view);
  return PrepareError::kNone;
}

Outcome View::Execute() {
  Close();
  auto tables = std::make_unique<QueryTables>(database_->pool());
  for (const TableSchema* schema : plan_.tables) {
    tables->data.emplace_back();
    INSTALLER_TRY(database_->LoadTable(*schema, &tables->data.back()));
  }
  if (!plan_.streams()) {
    INSTALLER_TRY(CombineTables(plan_, *tables, &result_));
    if (plan_.distinct) RemoveDuplicateRows(plan_.outputs, *tables, &result_);
    if (!plan_.order_by.empty()) SortRows(plan_.order_by, *tables, &result_);
  }
  tables_ = std::move(tables);
  executed_ = true;
  return Outcome();
}

bool View::FetchStreamed(std::vector<Cell>* row) {
  const TableData& data = *tables_->data[0];
  const std::vector<Predicate>& filters = plan_.filters[0];
  const uint32_t count = data.row_count();
  while (next_row_ < count) {
    const uint32_t current = next_row_++;
    bool pass = true;
    for (const Predicate& filter : filters) {
      if (!Evaluate(filter, *tables_, &current)) {
        pass = false;
        break;
      }
    }
    if (!pass) continue;
    row->resize(plan_.outputs.size());
    for (size_t i = 0; i < plan_.outputs.size(); ++i) (*row)[i] = data.At(current, plan_.outputs[i].column);
    return true;
  }
  return false;
}

bool View::Fetch(std::vector<Cell>* row) {
  if (!executed_) return false;
  if (plan_.streams()) return FetchStreamed(row);
  if (next_result_ >= result_.size()) return false;
  const uint32_t* rows = result_.at(next_result_++);
  row->resize(plan_.outputs.size());
  for (size_t i = 0; i < plan_.outputs.size(); ++i) (*row)[i] = tables_->At(plan_.outputs[i], rows);
  return true;
}

void View::Close() {
  executed_ = false;
  tables_.reset();
  next_row_ = 0;
  result_ = RowTuples();
  next_result_ = 0;
}

}  // namespace installer
