#include "query_cells.h"

#include "text_decoder.h"

namespace installer {

std::string_view CellText::Text(const Cell& cell, std::string* scratch) const {
  switch (cell.kind) {
    case Cell::Kind::kPoolString: return pool_.Text(cell.string_id, scratch);
    case Cell::Kind::kText: return cell.text;
    default: return {};
  }
}

std::string_view CellText::Stable(const Cell& cell) {
  if (cell.kind != Cell::Kind::kPoolString) return Text(cell, &scratch_);
  // Plain ASCII is handed out straight from the pool; only converted texts
  // need keeping.
  std::string_view raw = pool_.Raw(cell.string_id);
  if (TextDecoder::IsPlainAscii(raw)) return raw;
  auto found = decoded_.find(cell.string_id);
  if (found == decoded_.end()) {
    std::string text(pool_.Text(cell.string_id, &scratch_));
    found = decoded_.emplace(cell.string_id, std::move(text)).first;
  }
  return found->second;
}

bool CellText::Equal(const Cell& a, const Cell& b) {
  if (a.kind == Cell::Kind::kNull || b.kind == Cell::Kind::kNull) return false;
  if (a.kind == Cell::Kind::kPoolString && b.kind == Cell::Kind::kPoolString &&
      a.string_id == b.string_id)
    return true;
  return Text(a, &scratch_) == Text(b, &other_scratch_);
}

}  // namespace installer
