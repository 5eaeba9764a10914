// make_bench_databases OUTDIR
//
// Writes the databases the benchmarks read (see bench/run.sh):
//   small.msi  about 100 KiB: a 10-row Feature table and a small binary stream
//   large.msi  about 2 GiB: the same tables, plus four 512 MiB binary streams,
//              with 512-byte sectors, so that its FAT (about 32,000 sectors)
//              and DIFAT (about 260 sectors) are large
//   rows.msi   an Entry table of 1,000,000 rows (six columns, about 300,000
//              distinct strings of 10 to 60 bytes, one nullable column)
// and OUTDIR/rows.sizes: the sizes in bytes of rows.msi's _StringPool,
// _StringData and Entry streams, one "name size" pair a line, for the
// memory budget.
//
// The output is the same on every run.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "database_writer.h"

namespace {

using testsupport::ColumnDef;
using testsupport::DatabaseDef;
using testsupport::ExtraStream;
using testsupport::TableDef;
using testsupport::Value;
namespace ct = testsupport::coltype;

constexpr uint16_t Key(uint16_t type) { return type | ct::kKey; }
constexpr uint16_t Opt(uint16_t type) { return type | ct::kNullable; }
constexpr uint16_t Str(uint16_t width) { return ct::kString | width; }

Value S(std::string s) { return Value::Str(std::move(s)); }
Value I(int32_t v) { return Value::Int(v); }
Value N() { return Value::Null(); }

// The 10-row table printed from small.msi and large.msi.
TableDef FeatureTable() {
  TableDef t;
  t.name = "Feature";
  t.columns = {{"Feature", Key(Str(38))},         {"Feature_Parent", Opt(Str(38))},
               {"Title", Opt(ct::kLocalized | 64)}, {"Display", Opt(ct::kInt2)},
               {"Level", ct::kInt2},                {"Attributes", ct::kInt2}};
  const char* names[10] = {"Complete", "Core",    "Docs",    "Examples", "Fonts",
                           "Help",     "Plugins", "Samples", "Shell",    "Tools"};
  for (int i = 0; i < 10; ++i) {
    std::string name = names[i];
    t.rows.push_back({S(name), i == 0 ? N() : S("Complete"), S(name + " files"), I(2 * i + 1),
                      I(i == 0 ? 1 : 3), I(i % 3 == 0 ? 0 : 16)});
  }
  return t;
}

TableDef PropertyTable() {
  TableDef t;
  t.name = "Property";
  t.columns = {{"Property", Key(Str(72))}, {"Value", ct::kLocalized}};
  t.rows = {{S("Manufacturer"), S("Example Software")},
            {S("ProductCode"), S("{2F9C5B1E-6A3D-4C7B-9E08-D41A7F3B6C25}")},
            {S("ProductLanguage"), S("1033")},
            {S("ProductName"), S("Benchmark Product")},
            {S("ProductVersion"), S("1.0.0")}};
  return t;
}

// The tables both small.msi and large.msi hold.
DatabaseDef SmallTables() {
  DatabaseDef def;
  def.tables = {FeatureTable(), PropertyTable()};
  if (!testsupport::SortRowsByKey(&def)) throw std::runtime_error("rows do not sort");
  return def;
}

// A deterministic generator (splitmix64).
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return uint32_t(Next() % n); }

 private:
  uint64_t state_;
};

// `count` distinct strings of 10 to 60 bytes: a prefix, the index (which
// keeps them distinct) and random letters up to a random length.
std::vector<std::string> MakeStrings(const char* prefix, uint32_t count, Random& random) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.";
  std::vector<std::string> out;
  out.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    std::string s = prefix + std::to_string(i) + '_';
    const size_t length = 10 + random.Below(51);
    while (s.size() < length) s.push_back(kLetters[random.Below(64)]);
    out.push_back(std::move(s));
  }
  return out;
}

constexpr uint32_t kRows = 1000000;
constexpr uint32_t kNames = 200000;
constexpr uint32_t kComponents = 99000;
constexpr uint32_t kConditions = 1000;

DatabaseDef RowsDatabase() {
  Random random(20240611);
  const std::vector<std::string> names = MakeStrings("File", kNames, random);
  const std::vector<std::string> components = MakeStrings("Comp", kComponents, random);
  const std::vector<std::string> conditions = MakeStrings("Cond", kConditions, random);

  TableDef t;
  t.name = "Entry";
  t.columns = {{"Entry", Key(ct::kInt4)},     {"Name", Str(255)},    {"Component_", Str(72)},
               {"Attributes", ct::kInt2},     {"FileSize", ct::kInt4}, {"Condition", Opt(Str(255))}};
  t.rows.reserve(kRows);
  for (uint32_t r = 0; r < kRows; ++r) {
    // Every name and component is used (the multipliers are prime to the
    // counts), in a scattered order.
    const std::string& name = names[(uint64_t(r) * 7919) % kNames];
    const std::string& component = components[(uint64_t(r) * 104729) % kComponents];
    const int32_t attributes = int32_t(random.Below(65535)) - 32767;  // -32767..32767: never the null value
    const int32_t size = int32_t(random.Next() & 0x7FFFFFFF) - int32_t(random.Below(2)) * 1000000;
    Value condition = random.Below(4) == 0 ? S(conditions[random.Below(kConditions)]) : N();
    t.rows.push_back({I(int32_t(r + 1)), S(name), S(component), I(attributes), I(size),
                      std::move(condition)});
  }
  DatabaseDef def;
  def.long_string_ids = true;  // about 300,000 strings need 3-byte ids
  def.tables = {std::move(t)};
  if (!testsupport::SortRowsByKey(&def)) throw std::runtime_error("rows do not sort");
  return def;
}

bool Write(const std::string& path, const DatabaseDef& def, testsupport::Layout* layout = nullptr) {
  std::fprintf(stderr, "writing %s\n", path.c_str());
  if (testsupport::WriteDatabaseFile(path, def, layout)) return true;
  std::fprintf(stderr, "cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_bench_databases OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  try {
    DatabaseDef small = SmallTables();
    small.streams.push_back(ExtraStream{"Icon.app", "", 96 * 1024, 'i'});
    if (!Write(dir + "/small.msi", small)) return 1;

    DatabaseDef large = SmallTables();
    large.streams.push_back(ExtraStream{"Icon.app", "", 96 * 1024, 'i'});
    for (int i = 0; i < 4; ++i)
      large.streams.push_back(
          ExtraStream{"Cabinet" + std::to_string(i + 1) + ".cab", "", 512ull << 20, char('a' + i)});
    if (!Write(dir + "/large.msi", large)) return 1;

    testsupport::Layout layout;
    if (!Write(dir + "/rows.msi", RowsDatabase(), &layout)) return 1;
    std::FILE* sizes = std::fopen((dir + "/rows.sizes").c_str(), "w");
    if (!sizes) return 1;
    for (const char* key : {"!_StringPool", "!_StringData", "!Entry"})
      std::fprintf(sizes, "%s %llu\n", key + 1, (unsigned long long)layout.streams.at(key).size);
    if (std::fclose(sizes) != 0) return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_bench_databases: %s\n", e.what());
    return 1;
  }
  return 0;
}
