#include "query_join.h"

#include <algorithm>
#include <numeric>
#include <string_view>
#include <unordered_map>

namespace installer {
namespace {

uint64_t Bit(uint32_t table) { return uint64_t(1) << table; }

// The nodes of a condition: at most how many are evaluated on a combination.
size_t NodeCount(const Predicate& predicate) {
  size_t count = 1;
  for (const Predicate& operand : predicate.operands) count += NodeCount(operand);
  return count;
}

bool Links(const Predicate& join, uint32_t table, uint64_t combined) {
  return (join.column.table == table && (combined & Bit(join.other.table))) ||
         (join.other.table == table && (combined & Bit(join.column.table)));
}

// The rows of `table` that pass its own conditions, in stored order.
std::vector<uint32_t> FilterTable(const Plan& plan, QueryTables& tables, uint32_t table) {
  std::vector<uint32_t> rows(plan.tables.size(), 0);
  std::vector<uint32_t> passing;
  const uint32_t count = tables.data[table]->row_count();
  const std::vector<Predicate>& filters = plan.filters[table];
  for (uint32_t row = 0; row < count; ++row) {
    rows[table] = row;
    bool pass = true;
    for (const Predicate& filter : filters) {
      if (!Evaluate(filter, tables, rows.data())) {
        pass = false;
        break;
      }
    }
    if (pass) passing.push_back(row);
  }
  return passing;
}

// The rows of one table, grouped by the value of a column: each value's rows
// are chained in stored order.
template <typename Key>
class RowIndex {
 public:
  void Add(Key key, uint32_t row) {
    const uint32_t entry = uint32_t(rows_.size());
    rows_.push_back(row);
    next_.push_back(kEnd);
    auto inserted = chains_.emplace(key, Chain{entry, entry});
    if (!inserted.second) {
      next_[inserted.first->second.last] = entry;
      inserted.first->second.last = entry;
    }
  }

  // Visits the rows holding `key` in stored order while `visit` returns true.
  template <typename Visit>
  void ForEach(Key key, Visit visit) const {
    auto found = chains_.find(key);
    if (found == chains_.end()) return;
    for (uint32_t entry = found->second.first; entry != kEnd; entry = next_[entry]) {
      if (!visit(rows_[entry])) return;
    }
  }

 private:
  static constexpr uint32_t kEnd = UINT32_MAX;
  struct Chain {
    uint32_t first, last;
  };
  std::unordered_map<Key, Chain> chains_;
  std::vector<uint32_t> rows_;
  std::vector<uint32_t> next_;
};

class Combiner {
 public:
  Combiner(const Plan& plan, QueryTables& tables)
      : plan_(plan), tables_(tables), width_(uint32_t(plan.tables.size())) {}

  Outcome Run(RowTuples* result) {
    std::vector<std::vector<uint32_t>> candidates(width_);
    for (uint32_t t = 0; t < width_; ++t) {
      candidates[t] = FilterTable(plan_, tables_, t);
      if (candidates[t].empty()) {
        *result = Result({});
        return Outcome();
      }
    }

    std::vector<uint32_t> order = JoinOrder();
    std::vector<uint32_t> tuples;
    for (uint32_t row : candidates[order[0]]) {
      const size_t start = tuples.size();
      tuples.resize(start + width_, 0);
      tuples[start + order[0]] = row;
    }
    uint64_t combined = Bit(order[0]);
    for (size_t step = 1; step < order.size() && !tuples.empty(); ++step) {
      if (!AddTable(order[step], combined, candidates[order[step]], &tuples))
        return INSTALLER_DAMAGED("the query's tables combine into too many rows");
      combined |= Bit(order[step]);
    }

    *result = Result(std::move(tuples));
    if (!std::is_sorted(order.begin(), order.end())) SortByRows(result);
    return Outcome();
  }

 private:
  RowTuples Result(std::vector<uint32_t> tuples) const {
    RowTuples result;
    result.width = width_;
    result.rows = std::move(tuples);
    return result;
  }

  // Table 0 first; then, at each step, the first table an equality links to
  // those already chosen, or failing that the first table left.
  std::vector<uint32_t> JoinOrder() const {
    std::vector<uint32_t> order{0};
    uint64_t chosen = Bit(0);
    while (order.size() < width_) {
      uint32_t next = width_;
      for (uint32_t t = 0; t < width_ && next == width_; ++t) {
        if (chosen & Bit(t)) continue;
        for (const Predicate& join : plan_.joins) {
          if (Links(join, t, chosen)) {
            next = t;
            break;
          }
        }
      }
      for (uint32_t t = 0; t < width_ && next == width_; ++t) {
        if (!(chosen & Bit(t))) next = t;
      }
      order.push_back(next);
      chosen |= Bit(next);
    }
    return order;
  }

  // Extends every combination of the `combined` tables with the rows of
  // `table` that satisfy the conditions now complete. False, with `tuples`
  // incomplete, once trying them would take more than kMaxCombiningWork.
  bool AddTable(uint32_t table, uint64_t combined, const std::vector<uint32_t>& rows,
                std::vector<uint32_t>* tuples_in_out) {
    std::vector<uint32_t>& tuples = *tuples_in_out;
    const uint64_t after = combined | Bit(table);
    const Predicate* key = nullptr;
    std::vector<const Predicate*> checks;
    for (const Predicate& join : plan_.joins) {
      if (!Links(join, table, combined)) continue;
      if (!key)
        key = &join;
      else
        checks.push_back(&join);
    }
    for (const Predicate& other : plan_.others) {
      if ((other.tables & after) == other.tables && (other.tables & ~combined) != 0) checks.push_back(&other);
    }
    // What trying one combination costs (see kMaxCombiningWork).
    size_t cost = width_;
    for (const Predicate* check : checks) cost += NodeCount(*check);

    std::vector<uint32_t> out;
    bool exhausted = false;
    // False once the work allowed is spent, which ends the loops below.
    auto emit = [&](uint32_t* tuple, uint32_t row) {
      if (work_ + cost > kMaxCombiningWork) {
        exhausted = true;
        return false;
      }
      work_ += cost;
      tuple[table] = row;
      for (const Predicate* check : checks) {
        if (!Evaluate(*check, tables_, tuple)) return true;
      }
      out.insert(out.end(), tuple, tuple + width_);
      return true;
    };

    if (!key) {
      for (size_t i = 0; i < tuples.size() && !exhausted; i += width_) {
        for (uint32_t row : rows) {
          if (!emit(&tuples[i], row)) break;
        }
      }
      tuples = std::move(out);
      return !exhausted;
    }

    // The side of the equality in the new table is hashed; the other side
    // is read from each combination.
    const ColumnSlot inner = key->column.table == table ? key->column : key->other;
    const ColumnSlot outer = key->column.table == table ? key->other : key->column;
    std::vector<uint32_t> probe(width_, 0);
    if (key->text_columns) {
      RowIndex<std::string_view> index;
      for (uint32_t row : rows) {
        probe[table] = row;
        const Cell cell = tables_.At(inner, probe.data());
        if (cell.kind != Cell::Kind::kNull) index.Add(tables_.text.Stable(cell), row);
      }
      for (size_t i = 0; i < tuples.size() && !exhausted; i += width_) {
        const Cell cell = tables_.At(outer, &tuples[i]);
        if (cell.kind == Cell::Kind::kNull) continue;
        index.ForEach(tables_.text.Stable(cell),
                      [&](uint32_t row) { return emit(&tuples[i], row); });
      }
    } else {
      RowIndex<int32_t> index;
      for (uint32_t row : rows) {
        probe[table] = row;
        const Cell cell = tables_.At(inner, probe.data());
        if (cell.kind == Cell::Kind::kInteger) index.Add(cell.integer, row);
      }
      for (size_t i = 0; i < tuples.size() && !exhausted; i += width_) {
        const Cell cell = tables_.At(outer, &tuples[i]);
        if (cell.kind != Cell::Kind::kInteger) continue;
        index.ForEach(cell.integer, [&](uint32_t row) { return emit(&tuples[i], row); });
      }
    }
    tuples = std::move(out);
    return !exhausted;
  }

  // Puts combinations made in another table order back in FROM-list order.
  void SortByRows(RowTuples* result) const {
    std::vector<uint32_t> order(result->size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
      return std::lexicographical_compare(result->at(a), result->at(a) + width_, result->at(b),
                                          result->at(b) + width_);
    });
    std::vector<uint32_t> sorted;
    sorted.reserve(result->rows.size());
    for (uint32_t i : order) sorted.insert(sorted.end(), result->at(i), result->at(i) + width_);
    result->rows = std::move(sorted);
  }

  const Plan& plan_;
  QueryTables& tables_;
  const uint32_t width_;
  size_t work_ = 0;  // spent trying combinations, over all the tables added
};

}  // namespace

Outcome CombineTables(const Plan& plan, QueryTables& tables, RowTuples* result) {
  return Combiner(plan, tables).Run(result);
}

}  // namespace installer
