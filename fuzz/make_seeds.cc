// Writes the fuzzer's seed corpus: small, varied databases built with the
// test-support writer, one file per seed, into the directory given as the
// only argument.
//
// The seeds cover both sector sizes, the mini stream and regular sectors,
// 2- and 3-byte string ids, long strings, unused pool ids, several code
// pages, binary streams, extra streams, sub-storages and tables without
// rows, so that mutations start from every structure the reader knows.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "database_writer.h"

namespace {

using namespace testsupport;

Value I(int32_t v) { return Value::Int(v); }
Value S(const std::string& s) { return Value::Str(s); }
Value N() { return Value::Null(); }

TableDef PropertyTable(const std::string& extra) {
  return TableDef{"Property",
                  {{"Property", coltype::kString | 72 | coltype::kKey}, {"Value", coltype::kLocalized}},
                  {{S("ProductCode"), S("{11111111-2222-3333-4444-555555555555}")},
                   {S("ProductName"), S("Sample " + extra)},
                   {S("Empty"), N()}}};
}

TableDef IntegerTable(const std::string& name, int rows) {
  TableDef t{name, {{"N", coltype::kInt4 | coltype::kKey}, {"M", coltype::kInt2 | coltype::kNullable}}, {}};
  for (int i = 0; i < rows; ++i) t.rows.push_back({I(i - rows / 2), i % 3 ? I(i % 30000) : N()});
  return t;
}

// Every column kind, nullable or not, with a binary stream per row.
TableDef MixedTable() {
  return TableDef{"Mixed",
                  {{"Key", coltype::kInt2 | coltype::kKey},
                   {"Count", coltype::kInt4 | coltype::kNullable},
                   {"Data", coltype::kBinary | coltype::kNullable},
                   {"Name", coltype::kString | 32 | coltype::kNullable},
                   {"Label", coltype::kLocalized | 255}},
                  {{I(-5), I(-2000000000), Value::Stream("abc"), S("minus"), S("a")},
                   {I(0), N(), N(), N(), S("b")},
                   {I(7), I(2147483647), Value::Stream(std::string(100, 'x')), S(""), S("c")}}};
}

TableDef TwoKeyTable() {
  return TableDef{"TwoKeys",
                  {{"A", coltype::kString | 16 | coltype::kKey},
                   {"B", coltype::kInt2 | coltype::kKey},
                   {"Blob", coltype::kBinary}},
                  {{S("k"), I(1), Value::Stream("one")}, {S("k"), I(2), Value::Stream("two")}}};
}

struct Seed {
  std::string name;
  DatabaseDef def;
};

std::vector<Seed> Seeds() {
  std::vector<Seed> seeds;
  for (unsigned shift : {9u, 12u}) {
    const std::string suffix = shift == 9 ? "-512" : "-4096";
    DatabaseDef basic;
    basic.sector_shift = shift;
    basic.tables = {PropertyTable("basic"), MixedTable(), TableDef{"Empty", {{"A", coltype::kString | coltype::kKey}}, {}}};
    seeds.push_back({"basic" + suffix, basic});

    DatabaseDef regular = basic;
    regular.tables.push_back(IntegerTable("Big", 700));  // past the mini stream cutoff
    seeds.push_back({"regular" + suffix, regular});
  }

  DatabaseDef empty;
  seeds.push_back({"no-tables", empty});

  DatabaseDef long_ids;
  long_ids.long_string_ids = true;
  long_ids.unused_string_ids = {1, 2};
  long_ids.tables = {PropertyTable("long ids"), TwoKeyTable()};
  seeds.push_back({"long-ids", long_ids});

  DatabaseDef long_string;
  long_string.tables = {TableDef{"Texts",
                                 {{"K", coltype::kInt4 | coltype::kKey}, {"V", coltype::kString | coltype::kNullable}},
                                 {{I(1), S("before")}, {I(2), S(std::string(66000, 'h'))}, {I(3), S("after")}}}};
  seeds.push_back({"long-string", long_string});

  struct CodePage {
    uint32_t code_page;
    std::string text;
  } code_pages[] = {{0, "caf\xE9"}, {1251, "\xC0\xE1\xE2"}, {932, "\x82\xA0\x93\xFA x\x80"},
                    {936, "\xC4\xE3\x80"}, {950, "\xA4\x40\xC6\xA1"}, {1255, "\xF9\xD1"},
                    {65001, "\xC3\xA9\xFF!"}};
  for (const CodePage& c : code_pages) {
    DatabaseDef def;
    def.code_page = c.code_page;
    def.tables = {TableDef{"T", {{"V", coltype::kString | coltype::kKey}}, {{S(c.text)}, {S("plain")}}}};
    seeds.push_back({"code-page-" + std::to_string(c.code_page), def});
  }

  DatabaseDef streams;
  streams.tables = {PropertyTable("streams"), TwoKeyTable()};
  streams.streams = {ExtraStream{"\x05SummaryInformation", std::string(200, 's'), 0, 0, true},
                     ExtraStream{"cab1.cab", "", 5000, 'c', false}};
  streams.storages = {"Sub1", "Sub2"};
  seeds.push_back({"streams-storages", streams});

  DatabaseDef many_tables;
  for (int i = 0; i < 12; ++i) many_tables.tables.push_back(IntegerTable("T" + std::to_string(i), i));
  seeds.push_back({"many-tables", many_tables});
  return seeds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
    return 2;
  }
  for (Seed& seed : Seeds()) {
    SortRowsByKey(&seed.def);
    const std::string path = std::string(argv[1]) + "/" + seed.name + ".msi";
    const std::string bytes = BuildDatabase(seed.def);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
