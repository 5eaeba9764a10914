// Replays every file of a regression directory through a fuzz target linked
// in: tests/fuzz-regressions/ through fuzz/database_fuzzer.cc (the whole read
// path), tests/fuzz-regressions/queries/ through fuzz/query_fuzzer.cc (the
// query path). FUZZ_REGRESSIONS names the directory, relative to the source
// tree. The only oracle is that nothing crashes; in the sanitizer build
// (MSITABLE_SANITIZE=ON) that also means no memory error, no undefined
// behaviour and no leak.
#include <dirent.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::string> RegressionFiles() {
  const std::string dir_path = std::string(MSITABLE_SOURCE_DIR) + "/" + FUZZ_REGRESSIONS;
  std::vector<std::string> files;
  if (DIR* dir = opendir(dir_path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string path = dir_path + "/" + entry->d_name;
      struct stat info;
      if (entry->d_name[0] != '.' && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        files.push_back(path);
    }
    closedir(dir);
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(FuzzRegressionTest, EveryRegressionFileRunsThroughTheFuzzTarget) {
  const std::vector<std::string> files = RegressionFiles();
  ASSERT_FALSE(files.empty());
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    const std::string bytes = testutil::ReadFile(file);
    EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
  }
}

}  // namespace
