#include "query_sort.h"

#include <algorithm>
#include <numeric>
#include <string_view>
#include <unordered_set>

namespace installer {
namespace {

// The most sort values (32 bytes each) read ahead of sorting, unless the
// first key's alone are more.
constexpr size_t kMaxSortValues = size_t(1) << 22;

struct SortValue {
  bool null = true;
  int32_t integer = 0;
  std::string_view text;
};

SortValue ValueOf(const OrderKey& key, QueryTables& tables, const uint32_t* rows) {
  SortValue value;
  const Cell cell = tables.At(key.slot, rows);
  value.null = cell.kind == Cell::Kind::kNull;
  if (value.null) return value;
  if (key.text)
    value.text = tables.text.Stable(cell);
  else
    value.integer = cell.integer;
  return value;
}

// -1, 0 or 1 as x sorts before, with or after y.
int Compare(const SortValue& x, const SortValue& y, bool text) {
  if (x.null != y.null) return x.null ? -1 : 1;
  if (x.null) return 0;
  // char_traits<char> compares bytes as unsigned char.
  if (text) {
    const int order = x.text.compare(y.text);
    return (order > 0) - (order < 0);
  }
  return (x.integer > y.integer) - (x.integer < y.integer);
}

}  // namespace

void SortRows(const std::vector<OrderKey>& keys, QueryTables& tables, RowTuples* result) {
  // A column named again can break no tie the first naming left.
  std::vector<OrderKey> distinct_keys;
  std::unordered_set<uint64_t> listed;
  for (const OrderKey& key : keys) {
    if (listed.insert(uint64_t(key.slot.table) << 32 | key.slot.column).second)
      distinct_keys.push_back(key);
  }

  // The values of the leading keys are read once, before sorting, as far as
  // kMaxSortValues allows (always the first key's); those of the keys after
  // them, which only break the ties left, are read when needed. Memory then
  // stays bounded however many rows and keys there are.
  const size_t count = result->size();
  const size_t read_ahead =
      std::clamp<size_t>(kMaxSortValues / std::max<size_t>(count, 1), 1, distinct_keys.size());
  std::vector<SortValue> values(count * read_ahead);
  for (size_t i = 0; i < count; ++i) {
    for (size_t k = 0; k < read_ahead; ++k)
      values[i * read_ahead + k] = ValueOf(distinct_keys[k], tables, result->at(i));
  }

  auto less = [&](size_t a, size_t b) {
    for (size_t k = 0; k < read_ahead; ++k) {
      const int order =
          Compare(values[a * read_ahead + k], values[b * read_ahead + k], distinct_keys[k].text);
      if (order != 0) return order < 0;
    }
    for (size_t k = read_ahead; k < distinct_keys.size(); ++k) {
      const OrderKey& key = distinct_keys[k];
      // Stable texts stay valid while `tables` lives: both can be held at once.
      const SortValue x = ValueOf(key, tables, result->at(a));
      const SortValue y = ValueOf(key, tables, result->at(b));
      if (int order = Compare(x, y, key.text); order != 0) return order < 0;
    }
    return false;
  };
  std::vector<size_t> order(count);
  std::iota(order.begin(), order.end(), size_t(0));
  std::stable_sort(order.begin(), order.end(), less);

  std::vector<uint32_t> sorted;
  sorted.reserve(result->rows.size());
  for (size_t i : order) sorted.insert(sorted.end(), result->at(i), result->at(i) + result->width);
  result->rows = std::move(sorted);
}

}  // namespace installer
