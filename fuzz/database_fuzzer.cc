// Fuzz target over the whole read path of the database layer: open the
// input as a database, then read every system table and every table its
// catalog names, down to each field of each row.
//
// The only oracle is that nothing crashes, hangs, leaks or trips a
// sanitizer; failures of any step are expected for most inputs. The same
// function replays the files in tests/fuzz-regressions/ (see
// tests/installer/fuzz_replay_test.cc), so it must build without libFuzzer.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "installer.h"

namespace {

using installer::Handle;

// At most this many tables named by _Tables are read per input.
constexpr size_t kMaxTables = 64;

// The input lives in one memory-backed file, reopened through /proc by the
// layer exactly as a file on disk would be.
int InputFile() {
  static const int fd = memfd_create("database-fuzzer-input", MFD_CLOEXEC);
  return fd;
}

bool WriteInput(int fd, const uint8_t* data, size_t size) {
  if (ftruncate(fd, 0) != 0) return false;
  size_t done = 0;
  while (done < size) {
    ssize_t n = pwrite(fd, data + done, size - done, off_t(done));
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// Reads field `field` as text, growing the buffer once when it is too small.
bool ReadText(Handle record, uint32_t field, std::string* text) {
  char small[16];
  uint32_t capacity = sizeof small;
  installer::Status status = installer::ReadString(record, field, small, &capacity);
  if (status == installer::kSuccess) {
    text->assign(small, capacity);
    return true;
  }
  if (status != installer::kErrorMoreData) return false;
  std::vector<char> buffer(size_t(capacity) + 1);
  capacity = uint32_t(buffer.size());
  if (installer::ReadString(record, field, buffer.data(), &capacity) != installer::kSuccess) return false;
  text->assign(buffer.data(), capacity);
  return true;
}

// Runs "SELECT * FROM `table`" to the end; collects column 1 as text when
// `first_column` is set (the names listed in _Tables).
void ReadTable(Handle database, const std::string& table, std::vector<std::string>* first_column) {
  Handle view = installer::kNoHandle;
  const std::string query = "SELECT * FROM `" + table + "`";
  if (installer::OpenView(database, query.c_str(), &view) != installer::kSuccess) return;
  if (installer::ExecuteView(view) == installer::kSuccess) {
    for (auto kind : {installer::ColumnInfoKind::kNames, installer::ColumnInfoKind::kTypes}) {
      Handle info = installer::kNoHandle;
      if (installer::GetColumnInfo(view, kind, &info) != installer::kSuccess) continue;
      std::string text;
      for (uint32_t i = 1; i <= installer::FieldCount(info); ++i) ReadText(info, i, &text);
      installer::ReleaseHandle(info);
    }
    // Twice, as a caller that closes and re-executes a view would.
    for (int pass = 0; pass < 2; ++pass) {
      Handle row = installer::kNoHandle;
      while (installer::FetchRow(view, &row) == installer::kSuccess) {
        const uint32_t fields = installer::FieldCount(row);
        std::string text;
        for (uint32_t i = 0; i <= fields + 1; ++i) {  // one past each end as well
          bool read = ReadText(row, i, &text);
          installer::ReadInteger(row, i);
          if (pass == 0 && first_column && i == 1 && read) first_column->push_back(text);
        }
        installer::ReleaseHandle(row);
      }
      installer::CloseView(view);
      if (pass == 0 && installer::ExecuteView(view) != installer::kSuccess) break;
    }
  }
  installer::ReleaseHandle(view);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = InputFile();
  if (fd < 0 || !WriteInput(fd, data, size)) {
    std::perror("database fuzzer: cannot prepare the input file");
    std::abort();
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);

  Handle database = installer::kNoHandle;
  if (installer::OpenDatabase(path.c_str(), &database) != installer::kSuccess) return 0;
  std::vector<std::string> tables;
  ReadTable(database, "_Tables", &tables);
  for (const char* system : {"_Columns", "_Streams", "_Storages"}) ReadTable(database, system, nullptr);
  if (tables.size() > kMaxTables) tables.resize(kMaxTables);
  for (const std::string& table : tables) ReadTable(database, table, nullptr);
  installer::ReleaseHandle(database);
  return 0;
}
