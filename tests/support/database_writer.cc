#include "database_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace testsupport {
namespace {

constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kNoEntry = 0xFFFFFFFF;
constexpr uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr uint32_t kHeaderDifatEntries = 109;
constexpr uint64_t kMiniStreamCutoff = 4096;
constexpr uint64_t kMiniSectorSize = 64;
constexpr uint32_t kDirEntrySize = 128;
constexpr size_t kMaxNameUnits = 31;
constexpr uint32_t kLongStringLength = 0x10000;

// {000C1084-0000-0000-C000-000000000046} in its stored byte order.
constexpr unsigned char kRootClsid[16] = {0x84, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

[[noreturn]] void Fail(const std::string& what) {
  throw std::invalid_argument("database writer: " + what);
}

void PutU16(std::string* out, uint32_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>((v >> 8) & 0xFF));
}

void PutU24(std::string* out, uint32_t v) {
  PutU16(out, v & 0xFFFF);
  out->push_back(static_cast<char>((v >> 16) & 0xFF));
}

void PutU32(std::string* out, uint32_t v) {
  PutU16(out, v & 0xFFFF);
  PutU16(out, v >> 16);
}

void SetU16(char* p, uint32_t v) {
  p[0] = static_cast<char>(v & 0xFF);
  p[1] = static_cast<char>((v >> 8) & 0xFF);
}

void SetU32(char* p, uint32_t v) {
  SetU16(p, v & 0xFFFF);
  SetU16(p + 2, v >> 16);
}

void SetU64(char* p, uint64_t v) {
  SetU32(p, static_cast<uint32_t>(v));
  SetU32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Decodes UTF-8; a byte that starts no valid sequence stands for itself.
std::vector<char32_t> CodePoints(const std::string& s) {
  std::vector<char32_t> out;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t n = s.size();
  for (size_t i = 0; i < n;) {
    unsigned char b = p[i];
    size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    char32_t cp = 0;
    bool ok = len != 0 && n - i >= len;
    if (ok) {
      cp = len == 1 ? b : static_cast<char32_t>(b & (0x7F >> len));
      for (size_t k = 1; k < len; ++k) {
        if ((p[i + k] & 0xC0) != 0x80) {
          ok = false;
          break;
        }
        cp = (cp << 6) | (p[i + k] & 0x3F);
      }
      static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
      ok = ok && cp >= kMin[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    }
    if (!ok) {
      out.push_back(b);
      ++i;
    } else {
      out.push_back(cp);
      i += len;
    }
  }
  return out;
}

void AppendUnit(std::u16string* out, char32_t cp) {
  if (cp < 0x10000) {
    out->push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

std::u16string LiteralName(const std::string& name) {
  std::u16string out;
  for (char32_t cp : CodePoints(name)) AppendUnit(&out, cp);
  return out;
}

// Index of a character among the 64 that names pack, or -1.
int NameCharValue(char32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'A' && c <= 'Z') return static_cast<int>(c - 'A') + 10;
  if (c >= 'a' && c <= 'z') return static_cast<int>(c - 'a') + 36;
  if (c == '.') return 62;
  if (c == '_') return 63;
  return -1;
}

char16_t UpperUnit(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  return c;
}

// Directory order of sibling names: length first, then upper-cased units.
bool NameLess(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = UpperUnit(a[i]);
    char16_t y = UpperUnit(b[i]);
    if (x != y) return x < y;
  }
  return false;
}

enum class Kind { kInt4, kInt2, kBinary, kString };

Kind KindOf(uint16_t type) {
  switch (type & 0x0C00) {
    case 0x0000:
      return Kind::kInt4;
    case 0x0400:
      return Kind::kInt2;
    case 0x0800:
      return Kind::kBinary;
    default:
      return Kind::kString;
  }
}

// Hands out string ids in first-use order and counts references.
class StringPool {
 public:
  explicit StringPool(const std::vector<uint32_t>& unused)
      : reserved_(unused.begin(), unused.end()) {
    for (uint32_t id : unused) {
      if (id == 0) Fail("string id 0 cannot be reserved");
      last_id_ = std::max(last_id_, id);
    }
  }

  // Returns the id of `s` (0 for the empty string) and counts one reference.
  uint32_t Use(std::string_view s) {
    if (s.empty()) return 0;
    auto [it, inserted] = ids_.try_emplace(s, 0);
    if (inserted) {
      while (IsReserved(next_, 1)) ++next_;
      it->second = next_;
      if (text_.size() <= next_ + 1) {
        text_.resize(next_ + 1);
        refs_.resize(next_ + 1);
      }
      text_[next_] = s;
      ++next_;
      last_id_ = std::max(last_id_, next_ - 1);
    }
    ++refs_[it->second];
    return it->second;
  }

  uint32_t last_id() const { return last_id_; }

  std::unordered_map<std::string, uint32_t> Ids() const {
    std::unordered_map<std::string, uint32_t> out;
    out.reserve(ids_.size());
    for (const auto& [s, id] : ids_) out.emplace(std::string(s), id);
    return out;
  }

  std::string PoolStream(uint32_t code_page, bool long_ids) const {
    std::string out;
    out.reserve(4 + size_t{last_id_} * 4);
    PutU32(&out, (code_page & 0x7FFFFFFF) | (long_ids ? 0x80000000u : 0));
    for (uint32_t id = 1; id <= last_id_; ++id) {
      if (id >= text_.size() || text_[id].empty()) {
        PutU32(&out, 0);  // an unused id
        continue;
      }
      uint64_t len = text_[id].size();
      uint32_t refs = refs_[id] & 0x7FFF;
      if (len < kLongStringLength) {
        PutU16(&out, static_cast<uint32_t>(len));
        PutU16(&out, refs);
      } else {
        if (len > 0xFFFFFFFF) Fail("string longer than 4 GiB");
        PutU16(&out, 0);
        PutU16(&out, refs == 0 ? 1 : refs);  // a count of 0 would read as an unused id
        PutU16(&out, static_cast<uint32_t>(len & 0xFFFF));
        PutU16(&out, static_cast<uint32_t>(len >> 16));  // two entries, one id
      }
    }
    return out;
  }

  std::string DataStream() const {
    std::string out;
    for (const auto& s : text_) out.append(s.data(), s.size());
    return out;
  }

 private:
  bool IsReserved(uint32_t first, uint32_t count) const {
    for (uint32_t i = 0; i < count; ++i) {
      if (reserved_.count(first + i)) return true;
    }
    return false;
  }

  std::unordered_set<uint32_t> reserved_;
  std::unordered_map<std::string_view, uint32_t> ids_;
  std::vector<std::string_view> text_;  // by id; empty for unused ids
  std::vector<uint32_t> refs_;
  uint32_t next_ = 1;
  uint32_t last_id_ = 0;
};

// All string ids of a definition, in the documented interning order, and the
// id of every string cell (row-major, 0 for other cells) per table.
struct InternedStrings {
  explicit InternedStrings(const DatabaseDef& def) : pool(def.unused_string_ids) {
    // _Tables, then _Columns (whose Table cells repeat the table names).
    for (const auto& t : def.tables) table_ids.push_back(pool.Use(t.name));
    for (const auto& t : def.tables) {
      column_ids.emplace_back();
      for (const auto& c : t.columns) {
        pool.Use(t.name);
        column_ids.back().push_back(pool.Use(c.name));
      }
    }
    for (const auto& t : def.tables) {
      cell_ids.emplace_back();
      auto& ids = cell_ids.back();
      ids.reserve(t.rows.size() * t.columns.size());
      for (size_t r = 0; r < t.rows.size(); ++r) {
        const auto& row = t.rows[r];
        if (row.size() != t.columns.size()) {
          Fail("row " + std::to_string(r) + " of " + t.name + " has " + std::to_string(row.size()) +
               " cells for " + std::to_string(t.columns.size()) + " columns");
        }
        for (size_t c = 0; c < row.size(); ++c) {
          const Value& v = row[c];
          ids.push_back(v.kind == Value::Kind::kString && KindOf(t.columns[c].type) == Kind::kString
                            ? pool.Use(v.bytes)
                            : 0);
        }
      }
    }
  }

  StringPool pool;
  std::vector<uint32_t> table_ids;
  std::vector<std::vector<uint32_t>> column_ids;
  std::vector<std::vector<uint32_t>> cell_ids;
};

uint32_t StoredInt2(int32_t v) { return static_cast<uint32_t>(v + 0x8000) & 0xFFFF; }
uint32_t StoredInt4(int32_t v) { return static_cast<uint32_t>(v) ^ 0x80000000u; }

// The stored value of one cell (string id, sign-flipped integer, 0/1 for
// binary), checking that the value fits its column.
uint32_t StoredCell(const TableDef& t, size_t c, const Value& v, uint32_t string_id) {
  Kind kind = KindOf(t.columns[c].type);
  auto mismatch = [&]() {
    Fail("cell of the wrong kind in column " + t.name + "." + t.columns[c].name);
  };
  if (v.kind == Value::Kind::kNull) return 0;
  switch (kind) {
    case Kind::kString:
      if (v.kind != Value::Kind::kString) mismatch();
      return string_id;
    case Kind::kBinary:
      if (v.kind != Value::Kind::kStream) mismatch();
      return 1;
    case Kind::kInt2:
      if (v.kind != Value::Kind::kInt) mismatch();
      if (v.integer < -0x8000 || v.integer > 0x7FFF) {
        Fail("value " + std::to_string(v.integer) + " does not fit i2 column " + t.name + "." +
             t.columns[c].name);
      }
      return StoredInt2(v.integer);
    case Kind::kInt4:
      if (v.kind != Value::Kind::kInt) mismatch();
      return StoredInt4(v.integer);
  }
  return 0;
}

size_t Width(Kind kind, bool long_ids) {
  switch (kind) {
    case Kind::kInt4:
      return 4;
    case Kind::kString:
      return long_ids ? 3 : 2;
    default:
      return 2;
  }
}

void PutCell(std::string* out, size_t width, uint32_t v) {
  if (width == 2) {
    PutU16(out, v);
  } else if (width == 3) {
    PutU24(out, v);
  } else {
    PutU32(out, v);
  }
}

// Column-major table stream from a row-major grid of stored values.
std::string ColumnMajor(const std::vector<size_t>& widths, const std::vector<uint32_t>& grid) {
  size_t ncols = widths.size();
  size_t nrows = ncols == 0 ? 0 : grid.size() / ncols;
  size_t row_width = std::accumulate(widths.begin(), widths.end(), size_t{0});
  std::string out;
  out.reserve(nrows * row_width);
  for (size_t c = 0; c < ncols; ++c) {
    for (size_t r = 0; r < nrows; ++r) PutCell(&out, widths[c], grid[r * ncols + c]);
  }
  return out;
}

// One child of the root storage.
struct Entry {
  std::u16string name;
  uint8_t type = 2;  // 1 storage, 2 stream
  std::string key;   // Layout::streams key
  std::string data;
  uint64_t filler_size = 0;
  char filler_byte = 0;
  bool filler = false;

  uint64_t size() const { return filler ? filler_size : data.size(); }

  uint32_t start = kEndOfChain;
  bool mini = false;
  uint32_t left = kNoEntry, right = kNoEntry;
};

class Sink {
 public:
  virtual ~Sink() = default;
  virtual void Write(const char* p, size_t n) = 0;
  void Write(const std::string& s) { Write(s.data(), s.size()); }
  void Fill(char c, uint64_t n) {
    std::string chunk(static_cast<size_t>(std::min<uint64_t>(n, 1 << 20)), c);
    while (n > 0) {
      size_t k = static_cast<size_t>(std::min<uint64_t>(n, chunk.size()));
      Write(chunk.data(), k);
      n -= k;
    }
  }
};

class StringSink : public Sink {
 public:
  explicit StringSink(std::string* out) : out_(out) {}
  void Write(const char* p, size_t n) override { out_->append(p, n); }

 private:
  std::string* out_;
};

class FileSink : public Sink {
 public:
  explicit FileSink(std::FILE* f) : f_(f) {}
  void Write(const char* p, size_t n) override {
    if (ok_ && n > 0 && std::fwrite(p, 1, n, f_) != n) ok_ = false;
  }
  bool ok() const { return ok_; }

 private:
  std::FILE* f_;
  bool ok_ = true;
};

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

// Every root child of the database, with the contents of all but the filler
// streams.
std::vector<Entry> CollectEntries(const DatabaseDef& def) {
  const bool long_ids = def.long_string_ids;
  InternedStrings strings(def);
  const uint32_t max_id = long_ids ? 0xFFFFFF : 0xFFFF;
  std::vector<Entry> entries;

  auto add_table = [&](const std::string& name, std::string data) {
    Entry e;
    e.name = EncodeStreamName(name, true);
    e.key = "!" + name;
    e.data = std::move(data);
    entries.push_back(std::move(e));
  };

  // Table streams first (their cells count references), then the pool.
  std::vector<Entry> binaries;
  std::vector<std::pair<std::string, std::string>> tables;
  for (size_t ti = 0; ti < def.tables.size(); ++ti) {
    const TableDef& t = def.tables[ti];
    if (t.rows.empty()) continue;
    std::vector<size_t> widths;
    std::vector<size_t> key_columns;
    for (size_t c = 0; c < t.columns.size(); ++c) {
      widths.push_back(Width(KindOf(t.columns[c].type), long_ids));
      if (t.columns[c].type & coltype::kKey) key_columns.push_back(c);
    }
    std::vector<uint32_t> grid;
    grid.reserve(t.rows.size() * t.columns.size());
    const auto& ids = strings.cell_ids[ti];
    for (size_t r = 0; r < t.rows.size(); ++r) {
      const auto& row = t.rows[r];
      for (size_t c = 0; c < row.size(); ++c) {
        grid.push_back(StoredCell(t, c, row[c], ids[r * row.size() + c]));
        if (row[c].kind != Value::Kind::kStream) continue;
        std::string name = t.name;
        for (size_t k : key_columns) {
          name += '.';
          if (row[k].kind == Value::Kind::kInt) name += std::to_string(row[k].integer);
          if (row[k].kind == Value::Kind::kString) name += row[k].bytes;
        }
        Entry e;
        e.name = EncodeStreamName(name, false);
        e.key = name;
        e.data = row[c].bytes;
        binaries.push_back(std::move(e));
      }
    }
    tables.emplace_back(t.name, ColumnMajor(widths, grid));
  }

  std::vector<uint32_t> catalog_tables;
  std::vector<uint32_t> catalog_columns;  // row-major (table, number, name, type)
  for (size_t ti = 0; ti < def.tables.size(); ++ti) {
    catalog_tables.push_back(strings.table_ids[ti]);
    const auto& cols = def.tables[ti].columns;
    if (cols.size() > 0x7FFF) Fail("too many columns in " + def.tables[ti].name);
    for (size_t c = 0; c < cols.size(); ++c) {
      catalog_columns.insert(catalog_columns.end(),
                             {strings.table_ids[ti], StoredInt2(static_cast<int32_t>(c + 1)),
                              strings.column_ids[ti][c], uint32_t{cols[c].type} ^ 0x8000u});
    }
  }
  if (strings.pool.last_id() > max_id) {
    Fail("string id " + std::to_string(strings.pool.last_id()) + " does not fit " +
         (long_ids ? "3" : "2") + " bytes");
  }
  std::sort(catalog_tables.begin(), catalog_tables.end());
  {
    std::vector<size_t> order(catalog_columns.size() / 4);
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      return std::make_pair(catalog_columns[a * 4], catalog_columns[a * 4 + 1]) <
             std::make_pair(catalog_columns[b * 4], catalog_columns[b * 4 + 1]);
    });
    std::vector<uint32_t> sorted;
    sorted.reserve(catalog_columns.size());
    for (size_t i : order) {
      sorted.insert(sorted.end(), catalog_columns.begin() + static_cast<ptrdiff_t>(i * 4),
                    catalog_columns.begin() + static_cast<ptrdiff_t>(i * 4 + 4));
    }
    catalog_columns = std::move(sorted);
  }
  const size_t sid = long_ids ? 3 : 2;
  add_table("_StringPool", "");  // filled in below, once every reference is counted
  add_table("_StringData", strings.pool.DataStream());
  if (!catalog_tables.empty()) {
    add_table("_Tables", ColumnMajor({sid}, catalog_tables));
    if (!catalog_columns.empty())
      add_table("_Columns", ColumnMajor({sid, 2, sid, 2}, catalog_columns));
  }
  for (auto& [name, data] : tables) add_table(name, std::move(data));
  for (auto& e : binaries) entries.push_back(std::move(e));
  for (const auto& s : def.streams) {
    Entry e;
    e.name = s.literal ? LiteralName(s.name) : EncodeStreamName(s.name, false);
    e.key = s.name;
    if (s.filler_size >= kMiniStreamCutoff) {
      e.filler = true;
      e.filler_size = s.filler_size;
      e.filler_byte = s.filler_byte;
    } else if (s.filler_size > 0) {
      e.data.assign(static_cast<size_t>(s.filler_size), s.filler_byte);
    } else {
      e.data = s.data;
    }
    entries.push_back(std::move(e));
  }
  for (const auto& s : def.storages) {
    Entry e;
    e.name = EncodeStreamName(s, false);
    e.type = 1;
    e.start = 0;
    entries.push_back(std::move(e));
  }
  entries[0].data = strings.pool.PoolStream(def.code_page, long_ids);
  return entries;
}

// Links a balanced search tree over sorted[lo, hi); returns its root entry id.
uint32_t LinkTree(std::vector<Entry>* entries, const std::vector<uint32_t>& sorted, size_t lo,
                  size_t hi) {
  if (lo >= hi) return kNoEntry;
  size_t mid = lo + (hi - lo) / 2;
  Entry& e = (*entries)[sorted[mid] - 1];
  e.left = LinkTree(entries, sorted, lo, mid);
  e.right = LinkTree(entries, sorted, mid + 1, hi);
  return sorted[mid];
}

void WriteDirEntry(char* p, const std::u16string& name, uint8_t type, uint32_t left, uint32_t right,
                   uint32_t child, uint32_t start, uint64_t size) {
  for (size_t i = 0; i < name.size(); ++i) SetU16(p + 2 * i, name[i]);
  SetU16(p + 0x40, static_cast<uint32_t>((name.size() + 1) * 2));
  p[0x42] = static_cast<char>(type);
  p[0x43] = 1;  // black
  SetU32(p + 0x44, left);
  SetU32(p + 0x48, right);
  SetU32(p + 0x4C, child);
  SetU32(p + 0x74, start);
  SetU64(p + 0x78, size);
}

void Emit(const DatabaseDef& def, Layout* layout, Sink* sink) {
  if (def.sector_shift != 9 && def.sector_shift != 12) Fail("sector shift must be 9 or 12");
  std::vector<Entry> entries = CollectEntries(def);
  const uint32_t ss = 1u << def.sector_shift;
  const uint32_t per_sector = ss / 4;

  // Names: length limit, uniqueness, and the sibling tree.
  std::vector<uint32_t> sorted(entries.size());
  std::iota(sorted.begin(), sorted.end(), 1u);
  for (const auto& e : entries) {
    if (e.name.size() > kMaxNameUnits) Fail("stream name too long: " + e.key);
    if (def.sector_shift == 9 && e.size() > 0xFFFFFFFF) Fail("stream over 4 GiB: " + e.key);
  }
  std::sort(sorted.begin(), sorted.end(), [&](uint32_t a, uint32_t b) {
    return NameLess(entries[a - 1].name, entries[b - 1].name);
  });
  for (size_t i = 1; i < sorted.size(); ++i) {
    if (!NameLess(entries[sorted[i - 1] - 1].name, entries[sorted[i] - 1].name)) {
      Fail("two root children with the same name: " + entries[sorted[i] - 1].key);
    }
  }
  const uint32_t root_child = LinkTree(&entries, sorted, 0, sorted.size());

  // Mini stream placement.
  uint64_t mini_sectors = 0;
  std::vector<uint32_t> minifat;
  for (auto& e : entries) {
    if (e.type != 2 || e.size() >= kMiniStreamCutoff) continue;
    e.mini = true;
    if (e.size() == 0) continue;
    uint64_t n = CeilDiv(e.size(), kMiniSectorSize);
    e.start = static_cast<uint32_t>(mini_sectors);
    for (uint64_t i = 0; i < n; ++i) {
      minifat.push_back(i + 1 < n ? static_cast<uint32_t>(mini_sectors + i + 1) : kEndOfChain);
    }
    mini_sectors += n;
  }

  // Regular sector counts, then the FAT and DIFAT sizes they need.
  const uint64_t dir_count = CeilDiv((entries.size() + 1) * uint64_t{kDirEntrySize}, ss);
  const uint64_t minifat_count = CeilDiv(mini_sectors * 4, ss);
  const uint64_t ministream_count = CeilDiv(mini_sectors * kMiniSectorSize, ss);
  uint64_t data_count = dir_count + minifat_count + ministream_count;
  for (const auto& e : entries) {
    if (e.type == 2 && !e.mini) data_count += CeilDiv(e.size(), ss);
  }
  uint64_t fat_count = CeilDiv(data_count, per_sector);
  uint64_t difat_count = 0;
  for (;; ++fat_count) {
    difat_count = fat_count <= kHeaderDifatEntries
                      ? 0
                      : CeilDiv(fat_count - kHeaderDifatEntries, per_sector - 1);
    if (fat_count * per_sector >= data_count + fat_count + difat_count) break;
  }
  const uint64_t total = data_count + fat_count + difat_count;
  if (total > kMaxRegularSector) Fail("file too large for its sector size");

  // Sector numbers, in file order.
  std::vector<uint32_t> fat(static_cast<size_t>(fat_count * per_sector), kFreeSect);
  uint32_t next = 0;
  auto take = [&](uint64_t n, uint32_t mark, std::vector<uint32_t>* list) {
    uint32_t first = n == 0 ? kEndOfChain : next;
    for (uint64_t i = 0; i < n; ++i) {
      if (list) list->push_back(next);
      fat[next] = mark != 0 ? mark : (i + 1 < n ? next + 1 : kEndOfChain);
      ++next;
    }
    return first;
  };
  Layout local;
  Layout& out = layout ? *layout : local;
  out = Layout();
  out.sector_size = ss;
  take(fat_count, kFatSect, &out.fat_sectors);
  take(difat_count, kDifSect, &out.difat_sectors);
  const uint32_t dir_start = take(dir_count, 0, &out.directory_sectors);
  const uint32_t minifat_start = take(minifat_count, 0, &out.minifat_sectors);
  const uint32_t ministream_start = take(ministream_count, 0, nullptr);
  out.mini_stream_start = ministream_start;
  for (auto& e : entries) {
    if (e.type == 2 && !e.mini) e.start = take(CeilDiv(e.size(), ss), 0, nullptr);
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    if (e.type != 2) continue;
    out.streams[e.key] = {static_cast<uint32_t>(i + 1), e.start, e.size(), e.mini};
  }

  // Header.
  std::string header(ss, '\0');
  static constexpr unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(&header[0], kSignature, 8);
  SetU16(&header[0x18], 0x003E);
  SetU16(&header[0x1A], def.sector_shift == 9 ? 3 : 4);
  SetU16(&header[0x1C], 0xFFFE);
  SetU16(&header[0x1E], def.sector_shift);
  SetU16(&header[0x20], 6);
  SetU32(&header[0x28], def.sector_shift == 9 ? 0 : static_cast<uint32_t>(dir_count));
  SetU32(&header[0x2C], static_cast<uint32_t>(fat_count));
  SetU32(&header[0x30], dir_start);
  SetU32(&header[0x38], static_cast<uint32_t>(kMiniStreamCutoff));
  SetU32(&header[0x3C], minifat_start);
  SetU32(&header[0x40], static_cast<uint32_t>(minifat_count));
  SetU32(&header[0x44], difat_count == 0 ? kEndOfChain : out.difat_sectors[0]);
  SetU32(&header[0x48], static_cast<uint32_t>(difat_count));
  for (uint32_t i = 0; i < kHeaderDifatEntries; ++i) {
    SetU32(&header[0x4C + 4 * i], i < fat_count ? out.fat_sectors[i] : kFreeSect);
  }
  sink->Write(header);

  // FAT and DIFAT sectors.
  std::string buf;
  buf.reserve(fat.size() * 4);
  for (uint32_t v : fat) PutU32(&buf, v);
  sink->Write(buf);
  buf.clear();
  for (uint64_t d = 0; d < difat_count; ++d) {
    for (uint32_t i = 0; i + 1 < per_sector; ++i) {
      uint64_t f = kHeaderDifatEntries + d * (per_sector - 1) + i;
      PutU32(&buf, f < fat_count ? out.fat_sectors[f] : kFreeSect);
    }
    PutU32(&buf, d + 1 < difat_count ? out.difat_sectors[d + 1] : kEndOfChain);
  }
  sink->Write(buf);

  // Directory.
  std::string dir(static_cast<size_t>(dir_count * ss), '\0');
  for (size_t off = 0; off < dir.size(); off += kDirEntrySize) {
    SetU32(&dir[off + 0x44], kNoEntry);
    SetU32(&dir[off + 0x48], kNoEntry);
    SetU32(&dir[off + 0x4C], kNoEntry);
  }
  WriteDirEntry(&dir[0], u"Root Entry", 5, kNoEntry, kNoEntry, root_child,
                mini_sectors == 0 ? kEndOfChain : ministream_start, mini_sectors * kMiniSectorSize);
  std::memcpy(&dir[0x50], kRootClsid, 16);
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    WriteDirEntry(&dir[(i + 1) * kDirEntrySize], e.name, e.type, e.left, e.right, kNoEntry, e.start,
                  e.size());
  }
  sink->Write(dir);

  // Mini FAT and mini stream.
  buf.clear();
  for (uint32_t v : minifat) PutU32(&buf, v);
  buf.resize(static_cast<size_t>(minifat_count * ss), '\xFF');
  sink->Write(buf);
  buf.clear();
  for (const auto& e : entries) {
    if (!e.mini || e.size() == 0) continue;
    buf += e.data;
    buf.resize(static_cast<size_t>(CeilDiv(buf.size(), kMiniSectorSize) * kMiniSectorSize), '\0');
  }
  buf.resize(static_cast<size_t>(ministream_count * ss), '\0');
  sink->Write(buf);

  // Regular streams.
  for (const auto& e : entries) {
    if (e.type != 2 || e.mini) continue;
    if (e.filler) {
      sink->Fill(e.filler_byte, e.filler_size);
    } else {
      sink->Write(e.data);
    }
    sink->Fill('\0', CeilDiv(e.size(), ss) * ss - e.size());
  }
}

}  // namespace

uint64_t Layout::DirectoryEntryOffset(uint32_t entry) const {
  const uint32_t per_sector = sector_size / kDirEntrySize;
  return SectorOffset(directory_sectors.at(entry / per_sector)) +
         uint64_t{entry % per_sector} * kDirEntrySize;
}

std::u16string EncodeStreamName(const std::string& name, bool table) {
  std::u16string out;
  if (table) out.push_back(u'\x4840');
  std::vector<char32_t> cps = CodePoints(name);
  for (size_t i = 0; i < cps.size(); ++i) {
    int v1 = NameCharValue(cps[i]);
    if (v1 < 0) {
      AppendUnit(&out, cps[i]);
      continue;
    }
    int v2 = i + 1 < cps.size() ? NameCharValue(cps[i + 1]) : -1;
    if (v2 >= 0) {
      out.push_back(static_cast<char16_t>(0x3800 + v1 + (v2 << 6)));
      ++i;
    } else {
      out.push_back(static_cast<char16_t>(0x4800 + v1));
    }
  }
  return out;
}

std::unordered_map<std::string, uint32_t> StringIds(const DatabaseDef& def) {
  return InternedStrings(def).pool.Ids();
}

bool SortRowsByKey(DatabaseDef* def) {
  for (int round = 0; round < 8; ++round) {
    InternedStrings strings(*def);
    bool changed = false;
    for (size_t ti = 0; ti < def->tables.size(); ++ti) {
      TableDef& t = def->tables[ti];
      std::vector<size_t> keys;
      for (size_t c = 0; c < t.columns.size(); ++c) {
        if (t.columns[c].type & coltype::kKey) keys.push_back(c);
      }
      if (keys.empty() || t.rows.size() < 2) continue;
      const size_t ncols = t.columns.size();
      const auto& ids = strings.cell_ids[ti];
      std::vector<uint32_t> stored(t.rows.size() * keys.size());
      for (size_t r = 0; r < t.rows.size(); ++r) {
        for (size_t k = 0; k < keys.size(); ++k) {
          stored[r * keys.size() + k] =
              StoredCell(t, keys[k], t.rows[r][keys[k]], ids[r * ncols + keys[k]]);
        }
      }
      std::vector<size_t> order(t.rows.size());
      std::iota(order.begin(), order.end(), size_t{0});
      const size_t nk = keys.size();
      std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return std::lexicographical_compare(stored.begin() + static_cast<ptrdiff_t>(a * nk),
                                            stored.begin() + static_cast<ptrdiff_t>(a * nk + nk),
                                            stored.begin() + static_cast<ptrdiff_t>(b * nk),
                                            stored.begin() + static_cast<ptrdiff_t>(b * nk + nk));
      });
      bool same = true;
      for (size_t i = 0; i < order.size(); ++i) same = same && order[i] == i;
      if (same) continue;
      changed = true;
      std::vector<std::vector<Value>> rows;
      rows.reserve(t.rows.size());
      for (size_t i : order) rows.push_back(std::move(t.rows[i]));
      t.rows = std::move(rows);
    }
    if (!changed) return true;
  }
  return false;
}

std::string BuildDatabase(const DatabaseDef& def, Layout* layout) {
  std::string out;
  StringSink sink(&out);
  Emit(def, layout, &sink);
  return out;
}

bool WriteDatabaseFile(const std::string& path, const DatabaseDef& def, Layout* layout) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!f) return false;
  FileSink sink(f.get());
  Emit(def, layout, &sink);
  bool ok = sink.ok() && std::fflush(f.get()) == 0;
  return std::fclose(f.release()) == 0 && ok;
}

}  // namespace testsupport
