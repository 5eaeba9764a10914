// Helpers shared by the tests: temporary files and running the program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "database_writer.h"

namespace testutil {

// A directory removed (with its contents) when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes `bytes` to a file of that name in the directory; returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);

struct RunResult {
  std::string out;       // standard output
  std::string err;       // standard error
  int exit_code = -1;    // -1 when ended by a signal
  int signal = 0;
};

// Runs the msitable binary with `args`; standard input is /dev/null.
// `stdout_path`, when set, receives standard output instead of a pipe.
RunResult RunProgram(const std::vector<std::string>& args, const std::string& stdout_path = "");

// The path of a corpus file, or "" when the corpus is not beside the clone.
std::string CorpusFile(const std::string& name);

// Runs `query` through the library and collects the result as text: each
// field as ReadString gives it, a binary field as "[stream]", a null integer
// as "". `status` is the first failing status (with `last_error`), else 0.
struct QueryResult {
  uint32_t status = 0;
  uint32_t last_error = 0;
  std::string failed_step;  // "open", "view", "execute", "fetch", "read"
  std::vector<std::string> names;
  std::vector<std::string> types;
  std::vector<std::vector<std::string>> rows;
};
QueryResult Query(const std::string& path, const std::string& query);

// Shorthands for table descriptions.
testsupport::ColumnDef Col(const std::string& name, uint16_t type);
testsupport::Value I(int32_t v);
testsupport::Value S(const std::string& s);
testsupport::Value N();

}  // namespace testutil
