// The database layer on databases built by the test-support writer: the
// container, the string pool, code pages, the catalog and the system tables.
#include <gtest/gtest.h>

#include "installer.h"
#include "test_util.h"

namespace {

using namespace testsupport;
using testutil::Col;
using testutil::I;
using testutil::N;
using testutil::Query;
using testutil::S;
using Rows = std::vector<std::vector<std::string>>;

TableDef IntegerTable(const std::string& name, int rows) {
  TableDef t{name, {Col("N", coltype::kInt4 | coltype::kKey)}, {}};
  for (int i = 0; i < rows; ++i) t.rows.push_back({I(i - rows / 2)});
  return t;
}

// A file whose table streams straddle the mini stream cutoff, in both
// sector sizes.
class SectorSizeTest : public ::testing::TestWithParam<unsigned> {};

TEST_P(SectorSizeTest, ReadsMiniAndRegularStreams) {
  DatabaseDef def;
  def.sector_shift = GetParam();
  def.tables.push_back(IntegerTable("Big", 3000));  // 12,000 bytes: regular sectors
  TableDef mini{"Mini", {Col("N", coltype::kInt2 | coltype::kKey)}, {}};
  for (int i = 0; i < 2047; ++i) mini.rows.push_back({I(i)});  // 4,094 bytes: mini stream
  TableDef edge{"Edge", {Col("N", coltype::kInt2 | coltype::kKey)}, {}};
  for (int i = 0; i < 2048; ++i) edge.rows.push_back({I(-i)});  // 4,096 bytes: regular
  def.tables.push_back(mini);
  def.tables.push_back(edge);
  Layout layout;
  testutil::TempDir dir;
  std::string path = dir.Write("db.msi", BuildDatabase(def, &layout));
  ASSERT_EQ(layout.sector_size, 1u << GetParam());
  ASSERT_TRUE(layout.streams.at("!Mini").in_mini_stream);
  ASSERT_FALSE(layout.streams.at("!Edge").in_mini_stream);

  auto big = Query(path, "SELECT * FROM Big");
  ASSERT_EQ(big.status, 0u) << big.failed_step;
  ASSERT_EQ(big.rows.size(), 3000u);
  EXPECT_EQ(big.rows.front()[0], "-1500");
  EXPECT_EQ(big.rows.back()[0], "1499");
  auto small = Query(path, "SELECT * FROM Mini");
  ASSERT_EQ(small.rows.size(), 2047u);
  EXPECT_EQ(small.rows[2046][0], "2046");
  auto at_cutoff = Query(path, "SELECT * FROM Edge");
  ASSERT_EQ(at_cutoff.rows.size(), 2048u);
  EXPECT_EQ(at_cutoff.rows[2047][0], "-2047");
}

INSTANTIATE_TEST_SUITE_P(Sectors, SectorSizeTest, ::testing::Values(9u, 12u));

TEST(ContainerTest, FollowsDifatSectors) {
  DatabaseDef def;
  def.tables.push_back(IntegerTable("After", 2000));
  // 9 MB of 512-byte sectors needs more FAT sectors than the header lists.
  def.streams.push_back(ExtraStream{"cab1.cab", "", 9u << 20, 'c', false});
  def.tables.push_back(IntegerTable("Later", 1500));
  Layout layout;
  testutil::TempDir dir;
  std::string path = dir.Write("difat.msi", BuildDatabase(def, &layout));
  ASSERT_FALSE(layout.difat_sectors.empty());
  for (const char* table : {"After", "Later"}) {
    auto r = Query(path, std::string("SELECT * FROM ") + table);
    ASSERT_EQ(r.status, 0u) << table << " " << installer::LastErrorDetail();
    EXPECT_EQ(r.rows.size(), table[0] == 'A' ? 2000u : 1500u);
  }
  auto streams = Query(path, "SELECT * FROM _Streams");
  EXPECT_EQ(streams.rows, (Rows{{"cab1.cab", "[stream]"}}));
}

TEST(StringPoolTest, LongStringsUnusedIdsAndWideIds) {
  for (bool long_ids : {false, true}) {
    DatabaseDef def;
    def.long_string_ids = long_ids;
    def.unused_string_ids = {1, 2};
    const std::string huge(70000, 'h');
    TableDef t{"Texts",
               {Col("K", coltype::kInt4 | coltype::kKey), Col("V", coltype::kString | coltype::kNullable)},
               {{I(1), S("before")}, {I(2), S(huge)}, {I(3), S("after")}, {I(4), N()}, {I(5), S("")}}};
    def.tables.push_back(t);
    testutil::TempDir dir;
    auto r = Query(dir.Write("db.msi", BuildDatabase(def)), "SELECT * FROM Texts");
    ASSERT_EQ(r.status, 0u) << installer::LastErrorDetail();
    EXPECT_EQ(r.rows, (Rows{{"1", "before"}, {"2", huge}, {"3", "after"}, {"4", ""}, {"5", ""}}))
        << "long ids: " << long_ids;
  }
}

TEST(StringPoolTest, ThreeByteIdsAddressMoreThan65535Strings) {
  DatabaseDef def;
  def.long_string_ids = true;
  TableDef t{"Many", {Col("K", coltype::kInt4 | coltype::kKey), Col("V", coltype::kString)}, {}};
  for (int i = 0; i < 70000; ++i) t.rows.push_back({I(i), S("s" + std::to_string(i))});
  def.tables.push_back(t);
  testutil::TempDir dir;
  auto r = Query(dir.Write("db.msi", BuildDatabase(def)), "SELECT * FROM Many");
  ASSERT_EQ(r.status, 0u) << installer::LastErrorDetail();
  ASSERT_EQ(r.rows.size(), 70000u);
  EXPECT_EQ(r.rows[69999], (std::vector<std::string>{"69999", "s69999"}));
  EXPECT_EQ(r.rows[65536], (std::vector<std::string>{"65536", "s65536"}));
}

TEST(CodePageTest, TextIsConvertedToUtf8) {
  struct Case {
    uint32_t code_page;
    std::string stored;
    std::string utf8;
  } cases[] = {
      {1252, "M\xFCller \x80", "M\xC3\xBCller \xE2\x82\xAC"},
      {1252, "a\x81z", "a\xEF\xBF\xBDz"},  // undefined in 1252
      {0, "caf\xE9", "caf\xC3\xA9"},         // neutral: read as 1252
      {1251, "\xC0\xE1\xE2", "\xD0\x90\xD0\xB1\xD0\xB2"},
      {932, "\x82\xA0\x93\xFA", "\xE3\x81\x82\xE6\x97\xA5"},
      {932, "x\x80y\x82", "x\xEF\xBF\xBDy\xEF\xBF\xBD"},  // invalid byte, cut-off lead byte
      {936, "\xC4\xE3\x80", "\xE4\xBD\xA0\xE2\x82\xAC"},
      {949, "\xB0\xA1", "\xEA\xB0\x80"},
      {950, "\xA4\x40", "\xE4\xB8\x80"},
      {1255, "\xF9\xD1", "\xD7\xA9\xD7\x81"},  // letter and point stay two characters
      {1258, "a\xEC", "a\xCC\x81"},
      {65001, "\xC3\xA9\xFF!", "\xC3\xA9\xEF\xBF\xBD!"},
  };
  for (const Case& c : cases) {
    DatabaseDef def;
    def.code_page = c.code_page;
    def.tables.push_back(TableDef{"T", {Col("V", coltype::kString | coltype::kKey)}, {{S(c.stored)}}});
    testutil::TempDir dir;
    auto r = Query(dir.Write("db.msi", BuildDatabase(def)), "SELECT * FROM T");
    ASSERT_EQ(r.status, 0u) << c.code_page;
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0][0], c.utf8) << "code page " << c.code_page;
  }
}

TEST(CodePageTest, UnknownCodePageIsNotUsable) {
  DatabaseDef def;
  def.code_page = 1234;
  def.tables.push_back(IntegerTable("T", 1));
  testutil::TempDir dir;
  auto r = Query(dir.Write("db.msi", BuildDatabase(def)), "SELECT * FROM T");
  EXPECT_EQ(r.failed_step, "open");
  EXPECT_EQ(r.last_error, 1620u);
}

DatabaseDef CatalogFixture() {
  DatabaseDef def;
  def.tables.push_back(TableDef{"Binary",
                                {Col("Name", coltype::kString | 72 | coltype::kKey),
                                 Col("Data", coltype::kBinary)},
                                {{S("Icon"), Value::Stream("GIF89a")}}});
  def.tables.push_back(TableDef{
      "Types",
      {Col("a", coltype::kString | 72 | coltype::kKey), Col("b", coltype::kString | 255 | coltype::kNullable),
       Col("c", coltype::kLocalized | coltype::kNullable), Col("d", coltype::kLocalized | 255),
       Col("e", coltype::kInt2), Col("f", coltype::kInt4 | coltype::kNullable),
       Col("g", coltype::kBinary), Col("h", coltype::kBinary | coltype::kNullable),
       Col("i", coltype::kInt2 | coltype::kNullable | coltype::kKey)},
      {}});
  def.streams.push_back(ExtraStream{"\x05SummaryInformation", "props", 0, 0, true});
  def.streams.push_back(ExtraStream{"zeta", "z", 0, 0, false});
  def.storages = {"Sub2", "Sub1"};
  return def;
}

TEST(CatalogTest, ColumnTypesAreReportedAsText) {
  testutil::TempDir dir;
  auto r = Query(dir.Write("db.msi", BuildDatabase(CatalogFixture())), "SELECT * FROM Types");
  ASSERT_EQ(r.status, 0u);
  EXPECT_EQ(r.names, (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g", "h", "i"}));
  EXPECT_EQ(r.types,
            (std::vector<std::string>{"s72", "S255", "L0", "l255", "i2", "I4", "v0", "V0", "I2"}));
  EXPECT_TRUE(r.rows.empty());
}

TEST(CatalogTest, SystemTablesAnswerQueries) {
  testutil::TempDir dir;
  std::string path = dir.Write("db.msi", BuildDatabase(CatalogFixture()));
  struct Case {
    const char* table;
    std::vector<std::string> types;
    Rows rows;
  } cases[] = {
      {"_Tables", {"s64"}, {{"Binary"}, {"Types"}}},
      {"_Streams",
       {"s62", "V0"},
       {{"\x05SummaryInformation", "[stream]"}, {"Binary.Icon", "[stream]"}, {"zeta", "[stream]"}}},
      {"_Storages", {"s62", "V0"}, {{"Sub1", "[stream]"}, {"Sub2", "[stream]"}}},
  };
  for (const Case& c : cases) {
    auto r = Query(path, std::string("SELECT * FROM ") + c.table);
    ASSERT_EQ(r.status, 0u) << c.table;
    EXPECT_EQ(r.types, c.types) << c.table;
    EXPECT_EQ(r.rows, c.rows) << c.table;
  }
  auto columns = Query(path, "SELECT * FROM `_Columns`");
  EXPECT_EQ(columns.names, (std::vector<std::string>{"Table", "Number", "Name", "Type"}));
  EXPECT_EQ(columns.types, (std::vector<std::string>{"s64", "i2", "s64", "i2"}));
  ASSERT_EQ(columns.rows.size(), 11u);
  EXPECT_EQ(columns.rows[0], (std::vector<std::string>{"Binary", "1", "Name", std::to_string(0x2D48)}));
  EXPECT_EQ(columns.rows[10], (std::vector<std::string>{"Types", "9", "i", std::to_string(0x3502)}));
}

TEST(ApiTest, StringReadsReportTheSizeTheyNeed) {
  testutil::TempDir dir;
  std::string path = dir.Write("db.msi", BuildDatabase(CatalogFixture()));
  installer::Handle db = 0, view = 0, row = 0;
  ASSERT_EQ(installer::OpenDatabase(path.c_str(), &db), 0u);
  ASSERT_EQ(installer::OpenView(db, "SELECT * FROM Binary", &view), 0u);
  EXPECT_NE(installer::FetchRow(view, &row), 0u) << "fetch before execute";
  EXPECT_EQ(installer::LastError(), 1627u);
  ASSERT_EQ(installer::ExecuteView(view), 0u);
  ASSERT_EQ(installer::ReleaseHandle(db), 0u);  // the view keeps the database alive
  ASSERT_EQ(installer::FetchRow(view, &row), 0u);

  char buffer[8];
  uint32_t capacity = 4;
  EXPECT_EQ(installer::ReadString(row, 1, buffer, &capacity), installer::kErrorMoreData);
  EXPECT_EQ(capacity, 4u);  // "Icon" needs 4 + 1
  EXPECT_STREQ(buffer, "Ico");
  capacity = 5;
  EXPECT_EQ(installer::ReadString(row, 1, buffer, &capacity), 0u);
  EXPECT_EQ(capacity, 4u);
  EXPECT_STREQ(buffer, "Icon");
  capacity = sizeof buffer;
  EXPECT_NE(installer::ReadString(row, 2, buffer, &capacity), 0u) << "a stream has no text";
  EXPECT_NE(installer::ReadString(row, 3, buffer, &capacity), 0u) << "no field 3";
  EXPECT_EQ(installer::LastError(), 1627u);
  EXPECT_EQ(installer::ReadInteger(row, 1), installer::kNullInteger) << "not an integer";

  installer::Handle next = 0;
  EXPECT_EQ(installer::FetchRow(view, &next), installer::kErrorNoMoreItems);
  EXPECT_EQ(installer::CloseView(view), 0u);
  EXPECT_EQ(installer::ExecuteView(view), 0u) << "a closed view runs again";
  EXPECT_EQ(installer::FetchRow(view, &next), 0u);
  for (installer::Handle h : {row, next, view}) EXPECT_EQ(installer::ReleaseHandle(h), 0u);
  EXPECT_EQ(installer::ReleaseHandle(row), installer::kErrorInvalidHandle) << "released twice";
  EXPECT_EQ(installer::FieldCount(row), 0u);
  EXPECT_EQ(installer::LastError(), 6u);
}

TEST(ApiTest, IntegersAndNulls) {
  DatabaseDef def;
  def.tables.push_back(TableDef{"T",
                                {Col("K", coltype::kInt2 | coltype::kKey), Col("V", coltype::kInt4 | coltype::kNullable),
                                 Col("S", coltype::kString | coltype::kNullable)},
                                {{I(-32767), I(-2147483647), S("x")}, {I(32767), N(), N()}}});
  testutil::TempDir dir;
  std::string path = dir.Write("db.msi", BuildDatabase(def));
  installer::Handle db = 0, view = 0, row = 0;
  ASSERT_EQ(installer::OpenDatabase(path.c_str(), &db), 0u);
  ASSERT_EQ(installer::OpenView(db, "select * from T", &view), 0u);
  ASSERT_EQ(installer::ExecuteView(view), 0u);
  ASSERT_EQ(installer::FetchRow(view, &row), 0u);
  EXPECT_EQ(installer::ReadInteger(row, 1), -32767);
  EXPECT_EQ(installer::ReadInteger(row, 2), -2147483647);
  installer::ReleaseHandle(row);
  ASSERT_EQ(installer::FetchRow(view, &row), 0u);
  EXPECT_EQ(installer::ReadInteger(row, 1), 32767);
  EXPECT_EQ(installer::ReadInteger(row, 2), installer::kNullInteger);
  char buffer[4] = "zz";
  uint32_t capacity = sizeof buffer;
  EXPECT_EQ(installer::ReadString(row, 3, buffer, &capacity), 0u);
  EXPECT_EQ(capacity, 0u);
  EXPECT_STREQ(buffer, "");
  for (installer::Handle h : {row, view, db}) installer::ReleaseHandle(h);
}

TEST(ApiTest, QueryFailures) {
  testutil::TempDir dir;
  std::string path = dir.Write("db.msi", BuildDatabase(CatalogFixture()));
  for (const char* query : {"SELECT * FROM Nope", "SELECT * FROM", "SELECT * FROM binary", "DELETE FROM Binary",
                            "SELECT * FROM `Binary", "SELECT * FROM Binary;"}) {
    auto r = Query(path, query);
    EXPECT_EQ(r.failed_step, "view") << query;
    EXPECT_EQ(r.last_error, 1615u) << query;
  }
  for (const char* query : {"SELECT * FROM `Binary`", "  select  *  FROM\n\tBinary  "})
    EXPECT_EQ(Query(path, query).status, 0u) << query;
}

}  // namespace
