// The query language through the public interface: which rows a query
// gives and in what order, the columns it describes, and the queries that
// must fail to open.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer.h"
#include "test_util.h"

namespace {

using namespace testsupport;
using testutil::Col;
using testutil::I;
using testutil::N;
using testutil::S;

constexpr uint16_t Key(uint16_t type) { return type | coltype::kKey; }
constexpr uint16_t Opt(uint16_t type) { return type | coltype::kNullable; }
constexpr uint16_t Str(uint16_t width) { return coltype::kString | width; }

// Small tables with nulls, negative numbers, repeated values, a string
// needing code page conversion ("\xC9" is 'É' in 1252), a column named like a
// keyword, a binary column and a sub-storage. Rows are deliberately not in
// key order, so that stored order is visible.
DatabaseDef Fixture() {
  DatabaseDef def;
  def.tables.push_back(TableDef{
      "File",
      {Col("File", Key(Str(72))), Col("Component_", Opt(Str(72))), Col("FileName", Str(255)),
       Col("FileSize", Opt(coltype::kInt4)), Col("Sequence", coltype::kInt2)},
      {{S("a.exe"), S("Core"), S("A.EXE"), I(1000), I(3)},
       {S("b.dll"), S("Core"), S("B.DLL"), N(), I(1)},
       {S("c.chm"), S("Help"), S("C.CHM"), I(-5), I(2)},
       {S("d.txt"), S("Missing"), S("D.TXT"), I(1000), I(4)},
       {S("e.ini"), N(), S("e.ini"), I(0), I(5)},
       {S("f.dat"), S("Help"), S("\xC9tude.txt"), I(70000), I(6)}}});
  def.tables.push_back(TableDef{
      "Component",
      {Col("Component", Key(Str(72))), Col("Directory_", Opt(Str(72))), Col("Attributes", coltype::kInt2)},
      {{S("Core"), S("INSTALLDIR"), I(0)}, {S("Help"), S("DOCS"), I(4)}, {S("Extra"), N(), I(-2)}}});
  def.tables.push_back(TableDef{"Feature",
                                {Col("Feature", Key(Str(38))), Col("Level", coltype::kInt2)},
                                {{S("Main"), I(1)}, {S("Docs"), I(3)}}});
  def.tables.push_back(TableDef{"FeatureComponents",
                                {Col("Feature_", Key(Str(38))), Col("Component_", Key(Str(72)))},
                                {{S("Docs"), S("Help")},
                                 {S("Main"), S("Help")},
                                 {S("Main"), S("Core")},
                                 {S("Docs"), S("Extra")}}});
  def.tables.push_back(TableDef{"ListBox",
                                {Col("Property", Key(Str(72))), Col("Order", Key(coltype::kInt2)),
                                 Col("Value", Str(64))},
                                {{S("SIZE"), I(2), S("large")}, {S("SIZE"), I(1), S("small")}}});
  def.tables.push_back(TableDef{"Binary",
                                {Col("Name", Key(Str(72))), Col("Data", Opt(coltype::kBinary))},
                                {{S("icon"), Value::Stream("icon bytes")}, {S("blank"), N()}}});
  def.storages.push_back("Feature");
  return def;
}

class QueryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testutil::TempDir();
    path_ = new std::string(dir_->Write("query.msi", BuildDatabase(Fixture())));
  }
  static void TearDownTestSuite() {
    delete path_;
    delete dir_;
  }

  // The rows of a query, each as its fields joined with '|'.
  static std::vector<std::string> Rows(const std::string& query) {
    testutil::QueryResult result = testutil::Query(*path_, query);
    EXPECT_EQ(result.status, 0u) << query << " failed at " << result.failed_step;
    std::vector<std::string> rows;
    for (const auto& fields : result.rows) {
      std::string row;
      for (size_t i = 0; i < fields.size(); ++i) row += (i ? "|" : "") + fields[i];
      rows.push_back(row);
    }
    return rows;
  }

  static testutil::TempDir* dir_;
  static std::string* path_;
};

testutil::TempDir* QueryTest::dir_ = nullptr;
std::string* QueryTest::path_ = nullptr;

struct Case {
  const char* query;
  std::vector<std::string> rows;
};

TEST_F(QueryTest, GivesTheRowsOfEachQueryInOrder) {
  const Case cases[] = {
      // Selection and stored order; keywords in any case, names back-quoted.
      {"SELECT File FROM File", {"a.exe", "b.dll", "c.chm", "d.txt", "e.ini", "f.dat"}},
      {"select `File`, `File`.`Sequence` from `File` where Component_ = 'Core'", {"a.exe|3", "b.dll|1"}},
      {"SeLeCt\tFile\nFROM\r\nFile  WHERE(Sequence=4)", {"d.txt"}},
      // Strings: a null is neither equal nor unequal; converted text compares as UTF-8.
      {"SELECT File FROM File WHERE Component_ <> 'Core'", {"c.chm", "d.txt", "f.dat"}},
      {"SELECT File FROM File WHERE FileName = '\xC3\x89tude.txt'", {"f.dat"}},
      {"SELECT File FROM File WHERE FileName = 'a.exe'", {}},
      // Integers, negative ones and the full 32-bit range.
      {"SELECT File FROM File WHERE FileSize < 0", {"c.chm"}},
      {"SELECT File FROM File WHERE FileSize >= -5 AND FileSize <= 0", {"c.chm", "e.ini"}},
      {"SELECT File FROM File WHERE FileSize <> 1000", {"c.chm", "e.ini", "f.dat"}},
      {"SELECT File FROM File WHERE FileSize > -2147483648", {"a.exe", "c.chm", "d.txt", "e.ini", "f.dat"}},
      {"SELECT File FROM File WHERE Sequence < 2147483647 AND Sequence > 5", {"f.dat"}},
      {"SELECT Component FROM Component WHERE Attributes = -2", {"Extra"}},
      // Nulls.
      {"SELECT File FROM File WHERE FileSize IS NULL", {"b.dll"}},
      {"SELECT File FROM File WHERE Component_ is not null AND FileSize IS NOT NULL",
       {"a.exe", "c.chm", "d.txt", "f.dat"}},
      {"SELECT Name FROM Binary WHERE Data IS NULL", {"blank"}},
      {"SELECT Name FROM Binary WHERE Data IS NOT NULL", {"icon"}},
      // AND binds tighter than OR; parentheses group.
      {"SELECT File FROM File WHERE Component_ = 'Help' OR Sequence = 3 AND FileSize = 1000",
       {"a.exe", "c.chm", "f.dat"}},
      {"SELECT File FROM File WHERE (Component_ = 'Help' OR Sequence = 3) AND FileSize = 1000", {"a.exe"}},
      {"SELECT File FROM File WHERE ((Sequence = 1) OR (Sequence = 2 OR Sequence = 9))", {"b.dll", "c.chm"}},
      // Two columns of one row.
      {"SELECT File FROM File WHERE File = FileName", {"e.ini"}},
      // ORDER BY: nulls first, ties in stored order, strings by UTF-8 bytes.
      {"SELECT File FROM File ORDER BY Sequence", {"b.dll", "c.chm", "a.exe", "d.txt", "e.ini", "f.dat"}},
      {"SELECT File, FileSize FROM File ORDER BY FileSize",
       {"b.dll|", "c.chm|-5", "e.ini|0", "a.exe|1000", "d.txt|1000", "f.dat|70000"}},
      {"SELECT FileName FROM File ORDER BY FileName",
       {"A.EXE", "B.DLL", "C.CHM", "D.TXT", "e.ini", "\xC3\x89tude.txt"}},
      {"SELECT File FROM File ORDER BY Component_, Sequence", {"e.ini", "b.dll", "a.exe", "c.chm", "f.dat", "d.txt"}},
      {"SELECT File FROM File WHERE Sequence > 3 ORDER BY FileSize", {"e.ini", "d.txt", "f.dat"}},
      // A key named again changes nothing; the keys after it still break ties.
      {"SELECT Feature_, Component_ FROM FeatureComponents "
       "ORDER BY Feature_, FeatureComponents.Feature_, Component_",
       {"Docs|Extra", "Docs|Help", "Main|Core", "Main|Help"}},
      // DISTINCT keeps each first occurrence where it was.
      {"SELECT DISTINCT Component_ FROM File", {"Core", "Help", "Missing", ""}},
      {"SELECT DISTINCT FileSize FROM File ORDER BY FileSize", {"", "-5", "0", "1000", "70000"}},
      {"SELECT DISTINCT Component_, FileSize FROM File WHERE FileSize = 1000", {"Core|1000", "Missing|1000"}},
      {"SELECT DISTINCT Component_, FileSize, File.Component_ FROM File WHERE Sequence < 5",
       {"Core|1000|Core", "Core||Core", "Help|-5|Help", "Missing|1000|Missing"}},
      // A keyword as a name: back-quoted, or after a '.'.
      {"SELECT `Order`, Value FROM ListBox ORDER BY ListBox.Order", {"1|small", "2|large"}},
      // Joins: in the first table's order, then the second's.
      {"SELECT File, Component.Attributes FROM File, Component WHERE Component_ = Component",
       {"a.exe|0", "b.dll|0", "c.chm|4", "f.dat|4"}},
      {"SELECT Component, File FROM Component, File WHERE Component = Component_",
       {"Core|a.exe", "Core|b.dll", "Help|c.chm", "Help|f.dat"}},
      {"SELECT File.File, Feature_ FROM File, FeatureComponents "
       "WHERE File.Component_ = FeatureComponents.Component_ AND Feature_ = 'Main' ORDER BY Sequence",
       {"b.dll|Main", "c.chm|Main", "a.exe|Main", "f.dat|Main"}},
      // Three tables, where the first two are linked only through the third.
      {"SELECT Feature, Component FROM Feature, Component, FeatureComponents "
       "WHERE Feature = Feature_ AND Component = FeatureComponents.Component_",
       {"Main|Core", "Main|Help", "Docs|Help", "Docs|Extra"}},
      // A join under OR, and an unconstrained product.
      {"SELECT File, Component FROM File, Component WHERE Sequence < 3 AND (Component_ = Component OR Attributes < 0)",
       {"b.dll|Core", "b.dll|Extra", "c.chm|Help", "c.chm|Extra"}},
      {"SELECT Feature, Level, Attributes FROM Feature, Component WHERE Level = 3 AND Attributes <> 4",
       {"Docs|3|0", "Docs|3|-2"}},
      {"SELECT DISTINCT Feature_ FROM FeatureComponents, Component WHERE Component_ = Component AND Attributes >= 0",
       {"Docs", "Main"}},
      // The system tables, alone and joined (pool strings against plain texts).
      {"SELECT Name FROM _Columns WHERE Table = 'Binary'", {"Name", "Data"}},
      {"SELECT _Tables.Name FROM _Tables, _Columns WHERE _Tables.Name = Table AND _Columns.Name = 'Component_'",
       {"File", "FeatureComponents"}},
      {"SELECT Name FROM _Streams WHERE Name = 'Binary.icon'", {"Binary.icon"}},
      {"SELECT _Storages.Name, Level FROM _Storages, Feature, _Tables "
       "WHERE _Tables.Name = _Storages.Name AND Level = 1",
       {"Feature|1"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Rows(c.query), c.rows) << c.query;
}

TEST_F(QueryTest, DescribesTheSelectedColumns) {
  testutil::QueryResult all = testutil::Query(*path_, "SELECT * FROM Feature, ListBox WHERE Level = 0");
  EXPECT_EQ(all.names, (std::vector<std::string>{"Feature", "Level", "Property", "Order", "Value"}));
  EXPECT_EQ(all.types, (std::vector<std::string>{"s38", "i2", "s72", "i2", "s64"}));

  testutil::QueryResult some =
      testutil::Query(*path_, "SELECT Binary.Data, `File`.FileSize, Component_ FROM File, Binary");
  EXPECT_EQ(some.names, (std::vector<std::string>{"Data", "FileSize", "Component_"}));
  EXPECT_EQ(some.types, (std::vector<std::string>{"V0", "I4", "S72"}));
  EXPECT_EQ(some.rows.size(), 12u);
}

TEST_F(QueryTest, RefusesQueriesOutsideTheLanguage) {
  const char* const queries[] = {
      // Syntax.
      "",
      "SELECT * FROM",
      "SELECT FROM File",
      "SELECT *, File FROM File",
      "SELECT * FROM File File",
      "SELECT * FROM File WHERE",
      "SELECT * FROM File WHERE Sequence = 1 AND",
      "SELECT * FROM File WHERE (Sequence = 1",
      "SELECT * FROM File WHERE Sequence = 1)",
      "SELECT * FROM File ORDER Sequence",
      "SELECT * FROM File WHERE FileName = 'open",
      "SELECT * FROM File WHERE Sequence = - 1",
      "SELECT * FROM File WHERE Sequence = 1abc",
      "SELECT * FROM File WHERE 1 = Sequence",
      "SELECT Order FROM ListBox",
      // What the language does not have.
      "SELECT * FROM File WHERE FileName LIKE 'A%'",
      "SELECT * FROM File WHERE NOT Sequence = 1",
      "SELECT * FROM File WHERE Sequence IN (1, 2)",
      "SELECT * FROM File WHERE Sequence = ?",
      "SELECT COUNT(File) FROM File",
      "SELECT * FROM File WHERE Sequence < FileSize",
      "SELECT * FROM File WHERE FileName < 'x'",
      "SELECT * FROM File WHERE Sequence = 1 + 1",
      "SELECT * FROM File WHERE FileName = \"x\"",
      // Integers beyond 32 bits.
      "SELECT * FROM File WHERE Sequence = 2147483648",
      "SELECT * FROM File WHERE Sequence = -2147483649",
      "SELECT * FROM File WHERE Sequence = 99999999999999999999999",
      // Unknown or ambiguous names; names are case-sensitive.
      "SELECT * FROM Nothing",
      "SELECT * FROM file",
      "SELECT file FROM File",
      "SELECT * FROM File WHERE Nothing = 1",
      "SELECT * FROM File ORDER BY Nothing",
      "SELECT Component.Component FROM File",
      "SELECT Component_ FROM File, FeatureComponents",
      "SELECT * FROM File, Component WHERE Component_ = Component AND Attributes = FileSize OR Feature_ = 'x'",
      "SELECT * FROM File, File",
      // Comparisons the column's type cannot take.
      "SELECT * FROM File WHERE FileName = 1",
      "SELECT * FROM File WHERE Sequence = '1'",
      "SELECT * FROM File WHERE Component_ = Sequence",
      "SELECT * FROM Binary WHERE Data = 1",
      "SELECT * FROM Binary, File WHERE Data = File",
      "SELECT * FROM Binary ORDER BY Data",
  };
  for (const char* query : queries) {
    testutil::QueryResult result = testutil::Query(*path_, query);
    EXPECT_EQ(result.failed_step, "view") << query;
    EXPECT_EQ(result.status, installer::kErrorBadQuery) << query;
    EXPECT_EQ(result.last_error, installer::kErrorBadQuery) << query;
  }
  // Nesting too deep for the parser is refused, not followed down the stack.
  const std::string deep = "SELECT * FROM File WHERE " + std::string(100000, '(') + "Sequence = 1" +
                           std::string(100000, ')');
  EXPECT_EQ(testutil::Query(*path_, deep).status, installer::kErrorBadQuery);
}

TEST_F(QueryTest, ExecutesAgainAfterClose) {
  installer::Handle db = 0, view = 0, row = 0;
  ASSERT_EQ(installer::OpenDatabase(path_->c_str(), &db), installer::kSuccess);
  ASSERT_EQ(installer::OpenView(db, "SELECT File FROM File, Component WHERE Component_ = Component ORDER BY File",
                                &view),
            installer::kSuccess);
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(installer::ExecuteView(view), installer::kSuccess);
    int count = 0;
    while (installer::FetchRow(view, &row) == installer::kSuccess) {
      installer::ReleaseHandle(row);
      ++count;
    }
    EXPECT_EQ(count, 4);
    installer::CloseView(view);
  }
  installer::ReleaseHandle(view);
  installer::ReleaseHandle(db);
}

// Five tables of 40 rows: Id 0..39, and Next the Id after (39 wraps to 0).
class QueryLimitTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    DatabaseDef def;
    for (const char* name : {"A", "B", "C", "D", "E"}) {
      TableDef table{name, {Col("Id", Key(coltype::kInt4)), Col("Next", coltype::kInt4)}, {}};
      for (int i = 0; i < 40; ++i) table.rows.push_back({I(i), I((i + 1) % 40)});
      def.tables.push_back(table);
    }
    dir_ = new testutil::TempDir();
    path_ = new std::string(dir_->Write("product.msi", BuildDatabase(def)));
  }
  static void TearDownTestSuite() {
    delete path_;
    delete dir_;
  }

  static testutil::TempDir* dir_;
  static std::string* path_;
};

testutil::TempDir* QueryLimitTest::dir_ = nullptr;
std::string* QueryLimitTest::path_ = nullptr;

// Tables that nothing links multiply; past a bound on the combinations tried
// the query fails to execute rather than exhausting memory or time. The same
// tables linked by equalities are joined through hash tables and stay well
// inside it.
TEST_F(QueryLimitTest, RefusesAProductTooLargeButJoinsTheSameTables) {
  // 40^5 combinations, each of five row numbers: beyond the bound, whether
  // or not the condition would keep them.
  for (const char* query : {"SELECT A.Id FROM A, B, C, D, E",
                            "SELECT A.Id FROM A, B, C, D, E WHERE A.Id = 1 OR E.Id = 1"}) {
    testutil::QueryResult product = testutil::Query(*path_, query);
    EXPECT_EQ(product.failed_step, "execute") << query;
    EXPECT_EQ(product.status, installer::kErrorFunctionFailed) << query;
    EXPECT_EQ(product.last_error, installer::kErrorFunctionFailed) << query;
  }

  // 40^4 combinations are within it: all are tried, 40^4 - (40 * 39)^2 kept.
  testutil::QueryResult four =
      testutil::Query(*path_, "SELECT A.Id FROM A, B, C, D WHERE A.Id = B.Id OR C.Id = D.Id");
  EXPECT_EQ(four.status, installer::kSuccess) << four.failed_step;
  EXPECT_EQ(four.rows.size(), 126400u);

  testutil::QueryResult joined =
      testutil::Query(*path_,
                      "SELECT A.Id, E.Id FROM A, B, C, D, E WHERE A.Next = B.Id "
                      "AND B.Next = C.Id AND C.Next = D.Id AND D.Next = E.Id AND A.Id < 3");
  ASSERT_EQ(joined.status, installer::kSuccess) << joined.failed_step;
  EXPECT_EQ(joined.rows,
            (std::vector<std::vector<std::string>>{{"0", "4"}, {"1", "5"}, {"2", "6"}}));
}

// Too many rows (40^4) to read every key's values ahead: the later keys are
// read while sorting, and must order the ties of the first just the same.
TEST_F(QueryLimitTest, OrdersManyRowsOnSeveralKeys) {
  installer::Handle db = 0, view = 0, row = 0;
  ASSERT_EQ(installer::OpenDatabase(path_->c_str(), &db), installer::kSuccess);
  ASSERT_EQ(installer::OpenView(
                db, "SELECT A.Id, B.Id, C.Id, D.Id FROM A, B, C, D ORDER BY D.Next, C.Id", &view),
            installer::kSuccess);
  ASSERT_EQ(installer::ExecuteView(view), installer::kSuccess);
  // D.Next is smallest (0) for D.Id 39; within it C.Id ascends, and ties
  // keep the order of A's rows, then B's.
  const struct {
    uint32_t index;
    std::vector<int32_t> ids;
  } expected[] = {{0, {0, 0, 0, 39}},    {1, {0, 1, 0, 39}},    {40, {1, 0, 0, 39}},
                  {1600, {0, 0, 1, 39}}, {64000, {0, 0, 0, 0}}, {64001, {0, 1, 0, 0}}};
  uint32_t index = 0;
  for (const auto& e : expected) {
    for (; index <= e.index; ++index) {
      ASSERT_EQ(installer::FetchRow(view, &row), installer::kSuccess) << index;
      if (index == e.index) {
        std::vector<int32_t> ids;
        for (uint32_t f = 1; f <= 4; ++f) ids.push_back(installer::ReadInteger(row, f));
        EXPECT_EQ(ids, e.ids) << "row " << index;
      }
      installer::ReleaseHandle(row);
    }
  }
  installer::ReleaseHandle(view);
  installer::ReleaseHandle(db);
}

}  // namespace
