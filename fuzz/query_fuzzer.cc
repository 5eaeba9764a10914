// Fuzz target over the query path: each input is the text of a query, run
// against one fixed database built at the first call and opened once.
//
// The database has tables linked by their columns (features, components,
// files...), nulls, negative and extreme integers, repeated values, a
// string needing code page conversion and binary streams, besides the
// system tables every database has. Each query is prepared, executed,
// described and fetched to the end, every field read both as text and as
// an integer.
//
// The only oracle is that nothing crashes, hangs, leaks or trips a
// sanitizer; most inputs are not valid queries. The same function replays
// the files in tests/fuzz-regressions/queries/ (see
// tests/installer/fuzz_replay_test.cc), so it must build without libFuzzer.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "database_writer.h"
#include "installer.h"

namespace {

using installer::Handle;

// At most this many rows are fetched per query; a product of several
// tables can have many more.
constexpr uint32_t kMaxFetchedRows = 100000;

using testsupport::Value;
namespace coltype = testsupport::coltype;

Value I(int32_t v) { return Value::Int(v); }
Value S(const std::string& s) { return Value::Str(s); }
Value N() { return Value::Null(); }

constexpr uint16_t Key(uint16_t type) { return type | coltype::kKey; }
constexpr uint16_t Opt(uint16_t type) { return type | coltype::kNullable; }
constexpr uint16_t Str(uint16_t width) { return coltype::kString | width; }

// The same names recur across tables so that joins find partners, and
// every table has a column with repeated values and one with nulls.
testsupport::DatabaseDef Fixture() {
  using testsupport::TableDef;
  const char* const features[] = {"Main", "Docs", "Tools", "Extras", "Help", "Samples"};
  const int kFeatures = 6, kComponents = 24, kFiles = 48;
  uint32_t state = 12345;
  auto next = [&state](uint32_t range) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % range;
  };

  TableDef feature{"Feature",
                   {{"Feature", Key(Str(38))},
                    {"Feature_Parent", Opt(Str(38))},
                    {"Title", Opt(coltype::kLocalized | 64)},
                    {"Display", Opt(coltype::kInt2)},
                    {"Level", coltype::kInt2}},
                   {}};
  for (int f = 0; f < kFeatures; ++f) {
    feature.rows.push_back({S(features[f]), f ? S(features[f / 2]) : N(),
                            f % 3 == 2 ? N() : S(std::string("Feature ") + features[f]),
                            f % 2 ? I(-f) : N(), I(f % 3)});
  }

  TableDef component{"Component",
                     {{"Component", Key(Str(72))},
                      {"Directory_", Str(72)},
                      {"Attributes", coltype::kInt2},
                      {"Condition", Opt(Str(255))},
                      {"KeyPath", Opt(Str(72))}},
                     {}};
  TableDef feature_components{
      "FeatureComponents", {{"Feature_", Key(Str(38))}, {"Component_", Key(Str(72))}}, {}};
  for (int c = 0; c < kComponents; ++c) {
    const std::string name = "C" + std::to_string(c);
    component.rows.push_back({S(name), S(c % 4 ? "INSTALLDIR" : "DOCS"), I(int32_t(next(5)) - 2),
                              c % 5 == 0 ? N() : S(c % 2 ? "NOT Installed" : "VersionNT >= 600"),
                              c % 3 ? S("f" + std::to_string(c * 2)) : N()});
    feature_components.rows.push_back({S(features[c % kFeatures]), S(name)});
    if (c % 3 == 0) feature_components.rows.push_back({S(features[(c + 1) % kFeatures]), S(name)});
  }
  // A link to a component that does not exist.
  feature_components.rows.push_back({S("Main"), S("Missing")});

  TableDef file{"File",
                {{"File", Key(Str(72))},
                 {"Component_", Str(72)},
                 {"FileName", Str(255)},
                 {"FileSize", Opt(coltype::kInt4)},
                 {"Version", Opt(Str(72))},
                 {"Attributes", Opt(coltype::kInt2)},
                 {"Sequence", coltype::kInt2}},
                {}};
  const int32_t sizes[] = {0, 1, -1, 2147483647, -2147483647, 1000, 70000, -32768};
  for (int i = 0; i < kFiles; ++i) {
    file.rows.push_back({S("f" + std::to_string(i)), S("C" + std::to_string(next(kComponents + 2))),
                         S(i == 7 ? "\xC9tude.txt" : "FILE" + std::to_string(i % 10) + ".DAT"),
                         i % 7 == 3 ? N() : I(sizes[i % 8]),
                         i % 4 ? N() : S("1.0." + std::to_string(i % 3)),
                         i % 5 ? I(int32_t(i % 3) * 512 - 512) : N(), I(int32_t(next(40)) - 10)});
  }

  TableDef binary{"Binary", {{"Name", Key(Str(72))}, {"Data", Opt(coltype::kBinary)}}, {}};
  const char* const blobs[] = {"icon", "banner", "dialog", "empty"};
  for (int b = 0; b < 4; ++b)
    binary.rows.push_back({S(blobs[b]), b == 3 ? N() : Value::Stream(std::string(b * 10u, 'x'))});

  TableDef numbers{
      "Numbers",
      {{"Id", Key(coltype::kInt4)}, {"Small", Opt(coltype::kInt2)}, {"Name", Opt(Str(0))}},
      {}};
  for (int i = 0; i < 30; ++i) {
    numbers.rows.push_back({I(i * 37 - 500), i % 4 ? I(int32_t(i % 7) - 3) : N(),
                            i % 6 ? S(features[i % kFeatures]) : N()});
  }

  testsupport::DatabaseDef def;
  def.tables = {feature, component, feature_components, file, binary, numbers};
  def.storages = {"Feature", "Nested"};
  def.streams = {testsupport::ExtraStream{"cab1.cab", std::string(300, 'c'), 0, 0, false}};
  testsupport::SortRowsByKey(&def);
  return def;
}

// The fixture, written once to a memory-backed file and opened once.
Handle FixtureDatabase() {
  static const Handle database = [] {
    const std::string bytes = testsupport::BuildDatabase(Fixture());
    const int fd = memfd_create("query-fuzzer-database", MFD_CLOEXEC);
    size_t done = 0;
    while (fd >= 0 && done < bytes.size()) {
      ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, off_t(done));
      if (n <= 0) break;
      done += size_t(n);
    }
    Handle opened = installer::kNoHandle;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (done != bytes.size() ||
        installer::OpenDatabase(path.c_str(), &opened) != installer::kSuccess) {
      std::fprintf(stderr, "query fuzzer: cannot open the fixture database: %s\n",
                   installer::LastErrorDetail());
      std::abort();
    }
    return opened;
  }();
  return database;
}

// Reads field `field` as text, growing the buffer once when it is too small.
void ReadText(Handle record, uint32_t field) {
  char small[8];
  uint32_t capacity = sizeof small;
  if (installer::ReadString(record, field, small, &capacity) != installer::kErrorMoreData) return;
  std::vector<char> buffer(size_t(capacity) + 1);
  capacity = uint32_t(buffer.size());
  if (installer::ReadString(record, field, buffer.data(), &capacity) != installer::kSuccess) {
    std::fprintf(stderr, "query fuzzer: a field does not fit the length it asked for\n");
    std::abort();
  }
}

void ReadFields(Handle record) {
  const uint32_t fields = installer::FieldCount(record);
  for (uint32_t i = 0; i <= fields + 1; ++i) {  // one past each end as well
    ReadText(record, i);
    installer::ReadInteger(record, i);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Handle database = FixtureDatabase();
  const std::string query(reinterpret_cast<const char*>(data), size);  // c_str() ends it

  Handle view = installer::kNoHandle;
  if (installer::OpenView(database, query.c_str(), &view) != installer::kSuccess) return 0;
  for (auto kind : {installer::ColumnInfoKind::kNames, installer::ColumnInfoKind::kTypes}) {
    Handle info = installer::kNoHandle;
    if (installer::GetColumnInfo(view, kind, &info) != installer::kSuccess) continue;
    ReadFields(info);
    installer::ReleaseHandle(info);
  }
  if (installer::ExecuteView(view) == installer::kSuccess) {
    Handle row = installer::kNoHandle;
    uint32_t fetched = 0;
    while (fetched < kMaxFetchedRows && installer::FetchRow(view, &row) == installer::kSuccess) {
      ++fetched;
      ReadFields(row);
      installer::ReleaseHandle(row);
    }
    installer::CloseView(view);
  }
  installer::ReleaseHandle(view);
  return 0;
}
