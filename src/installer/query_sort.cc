#include "query_sort.h"

#include <algorithm>
#include <numeric>
#include <string_view>

namespace installer {
namespace {

struct SortValue {
  bool null = true;
  int32_t integer = 0;
  std::string_view text;
};

}  // namespace

void SortRows(const std::vector<OrderKey>& keys, QueryTables& tables, RowTuples* result) {
  const size_t count = result->size();
  const size_t width = keys.size();
  // Each row's sort values are read once, before sorting.
  std::vector<SortValue> values(count * width);
  for (size_t i = 0; i < count; ++i) {
    for (size_t k = 0; k < width; ++k) {
      const Cell cell = tables.At(keys[k].slot, result->at(i));
      SortValue& value = values[i * width + k];
      value.null = cell.kind == Cell::Kind::kNull;
      if (value.null) continue;
      if (keys[k].text)
        value.text = tables.text.Stable(cell);
      else
        value.integer = cell.integer;
    }
  }

  auto less = [&](size_t a, size_t b) {
    for (size_t k = 0; k < width; ++k) {
      const SortValue& x = values[a * width + k];
      const SortValue& y = values[b * width + k];
      if (x.null != y.null) return x.null;
      if (x.null) continue;
      if (keys[k].text) {
        // char_traits<char> compares bytes as unsigned char.
        const int order = x.text.compare(y.text);
        if (order != 0) return order < 0;
      } else if (x.integer != y.integer) {
        return x.integer < y.integer;
      }
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
