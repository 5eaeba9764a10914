// Replays every file of tests/fuzz-regressions/ through the fuzz target's
// read path (fuzz/database_fuzzer.cc, linked in). The only oracle is that
// nothing crashes; in the sanitizer build (MSITABLE_SANITIZE=ON) that also
// means no memory error, no undefined behaviour and no leak.
#include <dirent.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::string> RegressionFiles() {
  const std::string dir_path = std::string(MSITABLE_SOURCE_DIR) + "/tests/fuzz-regressions";
  std::vector<std::string> files;
  if (DIR* dir = opendir(dir_path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') files.push_back(dir_path + "/" + entry->d_name);
    }
    closedir(dir);
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(FuzzRegressionTest, EveryRegressionFileRunsThroughTheWholeReadPath) {
  const std::vector<std::string> files = RegressionFiles();
  ASSERT_FALSE(files.empty());
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    const std::string bytes = testutil::ReadFile(file);
    EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
  }
}

}  // namespace
