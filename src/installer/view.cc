#include "view.h"

namespace installer {

View::PrepareError View::Prepare(std::shared_ptr<const Database> database, const std::string& query,
                                 std::unique_ptr<View>* out) {
  std::unique_ptr<View> view(new View());
  if (!ParseQuery(query, &view->statement_)) return PrepareError::kSyntax;
  view->table_ = database->catalog().Find(view->statement_.tables[0]);
  if (!view->table_) return PrepareError::kUnknownName;
  view->columns_ = view->table_->columns;
  view->database_ = std::move(database);
  *out = std::move(view);
  return PrepareError::kNone;
}

Outcome View::Execute() {
  Close();
  INSTALLER_TRY(database_->LoadTable(*table_, &data_));
  executed_ = true;
  return Outcome();
}

bool View::Fetch(std::vector<Cell>* row) {
  if (!executed_ || next_row_ >= data_->row_count()) return false;
  row->resize(columns_.size());
  for (uint32_t c = 0; c < columns_.size(); ++c) (*row)[c] = data_->At(next_row_, c);
  ++next_row_;
  return true;
}

void View::Close() {
  executed_ = false;
  data_.reset();
  next_row_ = 0;
}

}  // namespace installer
