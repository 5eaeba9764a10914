// Real databases made by other tools: every table of every file reads.
#include <dirent.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "installer.h"
#include "test_util.h"

namespace {

using testutil::CorpusFile;
using testutil::Query;

std::vector<std::string> CorpusDatabases() {
  std::vector<std::string> files;
  if (DIR* dir = opendir(MSITABLE_CORPUS_DIR)) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name.size() > 4 && (name.substr(name.size() - 4) == ".msi" || name.substr(name.size() - 4) == ".msm"))
        files.push_back(name);
    }
    closedir(dir);
  }
  std::sort(files.begin(), files.end());
  return files;
}

const std::vector<std::string>* FindRow(const testutil::QueryResult& r, const std::string& key) {
  for (const auto& row : r.rows)
    if (!row.empty() && row[0] == key) return &row;
  return nullptr;
}

TEST(CorpusTest, EveryTableOfEveryValidDatabaseReads) {
  auto files = CorpusDatabases();
  if (files.empty()) GTEST_SKIP() << "../shared/corpus is not beside the clone";
  for (const std::string& name : files) {
    const std::string path = CorpusFile(name);
    auto tables = Query(path, "SELECT * FROM _Tables");
    if (name == "mimetype-truncated-4096.msi") {
      EXPECT_EQ(tables.failed_step, "open");
      EXPECT_EQ(tables.last_error, 1620u);
      continue;
    }
    ASSERT_EQ(tables.status, 0u) << name << ": " << installer::LastErrorDetail();
    std::vector<std::string> names = {"_Tables", "_Columns", "_Streams", "_Storages"};
    for (const auto& row : tables.rows) names.push_back(row[0]);
    for (const std::string& table : names) {
      auto r = Query(path, "SELECT * FROM `" + table + "`");
      EXPECT_EQ(r.status, 0u) << name << " " << table << " (" << r.failed_step << "): " << installer::LastErrorDetail();
      EXPECT_FALSE(r.names.empty()) << name << " " << table;
    }
  }
}

TEST(CorpusTest, KnownValues) {
  std::string mdk = CorpusFile("mdk-setup1-cp1251.msi");
  std::string clamav = CorpusFile("clamav-setup-int.msi");
  std::string crt = CorpusFile("vc143-crt-x64.msm");
  if (mdk.empty() || clamav.empty() || crt.empty()) GTEST_SKIP() << "../shared/corpus is not beside the clone";

  auto property = Query(mdk, "SELECT * FROM Property");
  ASSERT_NE(FindRow(property, "ProductCode"), nullptr);
  EXPECT_EQ((*FindRow(property, "ProductCode"))[1], "{2AB4BCD7-021B-47B3-AF16-F28110115220}");
  EXPECT_EQ((*FindRow(property, "ProductLanguage"))[1], "1049");
  // Code page 1251: "Среда выполнения .NET".
  EXPECT_EQ((*FindRow(property, "VSDNETRTNAME"))[1],
            "\xD0\xA1\xD1\x80\xD0\xB5\xD0\xB4\xD0\xB0\xC2\xA0\xD0\xB2\xD1\x8B\xD0\xBF\xD0\xBE\xD0\xBB\xD0\xBD"
            "\xD0\xB5\xD0\xBD\xD0\xB8\xD1\x8F\xC2\xA0.NET");

  auto file = Query(clamav, "SELECT * FROM File");
  ASSERT_EQ(file.status, 0u);
  ASSERT_EQ(file.names[3], "FileSize");
  ASSERT_FALSE(file.rows.empty());
  for (const auto& row : file.rows) EXPECT_GT(std::stoll(row[3]), 0) << row[0];

  auto streams = Query(crt, "SELECT * FROM _Streams");
  std::vector<std::string> names;
  for (const auto& row : streams.rows) names.push_back(row[0]);
  EXPECT_EQ(names, (std::vector<std::string>{"\x05" "DigitalSignature", "\x05MsiDigitalSignatureEx",
                                             "\x05SummaryInformation", "MergeModule.CABinet"}));
}

}  // namespace
