// Writes the databases for the join benchmark into a folder:
//   join-1x.msi    Big: 10,000 rows     Small: 1,000 rows
//   join-10x.msi   Big: 100,000 rows    Small: 10,000 rows
//   join-100x.msi  Big: 1,000,000 rows  Small: 100,000 rows
// Big.Ref names a row of Small (Small.Name) and Big.Group one of
// Small.Id, so both a string and an integer equality join match every Big
// row exactly once.
#include <cstdio>
#include <string>

#include "database_writer.h"

using namespace testsupport;

namespace {

DatabaseDef JoinDatabase(int big_rows, int small_rows) {
  DatabaseDef def;
  def.long_string_ids = big_rows + small_rows > 60000;
  TableDef small{"Small",
                 {{"Name", coltype::kString | 72 | coltype::kKey}, {"Id", coltype::kInt4}, {"Data", coltype::kInt4}},
                 {}};
  for (int i = 0; i < small_rows; ++i)
    small.rows.push_back({Value::Str("key" + std::to_string(i)), Value::Int(i), Value::Int(i * 7)});
  TableDef big{"Big",
               {{"Id", coltype::kInt4 | coltype::kKey},
                {"Ref", coltype::kString | 72},
                {"Group", coltype::kInt4},
                {"Text", coltype::kString | 72}},
               {}};
  uint32_t state = 12345;
  for (int i = 0; i < big_rows; ++i) {
    state = state * 1103515245u + 12345u;
    int target = int((state >> 8) % uint32_t(small_rows));
    big.rows.push_back({Value::Int(i), Value::Str("key" + std::to_string(target)), Value::Int(target),
                        Value::Str("row text " + std::to_string(i % 1000))});
  }
  def.tables.push_back(std::move(small));  // interned first, so its names sort by id
  def.tables.push_back(std::move(big));
  return def;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_join_databases OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  struct {
    const char* name;
    int big, small;
  } sizes[] = {{"join-1x.msi", 10000, 1000}, {"join-10x.msi", 100000, 10000}, {"join-100x.msi", 1000000, 100000}};
  for (const auto& s : sizes) {
    if (!WriteDatabaseFile(dir + "/" + s.name, JoinDatabase(s.big, s.small))) {
      std::fprintf(stderr, "cannot write %s\n", s.name);
      return 1;
    }
  }
  return 0;
}
