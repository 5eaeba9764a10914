// How the layer uses the database file: opened for reading only, and read
// with positioned reads that fail cleanly when the file shrinks underneath.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "file_reader.h"
#include "installer.h"
#include "test_util.h"

namespace {

using namespace testsupport;
using testutil::Col;
using testutil::I;

DatabaseDef Fixture() {
  DatabaseDef def;
  TableDef big{"Big", {Col("N", coltype::kInt4 | coltype::kKey)}, {}};
  for (int i = 0; i < 3000; ++i) big.rows.push_back({I(i)});  // 12,000 bytes at the end of the file
  def.tables.push_back(big);
  return def;
}

// The descriptors of this process that refer to `path`.
std::vector<int> DescriptorsOf(const std::string& path) {
  std::vector<int> found;
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return found;
  while (dirent* entry = readdir(dir)) {
    char target[PATH_MAX];
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, size_t(n)) == path) found.push_back(std::stoi(entry->d_name));
  }
  closedir(dir);
  return found;
}

// The "flags:" line of /proc/self/fdinfo/FD (octal open flags).
int OpenFlags(int fd) {
  std::ifstream info("/proc/self/fdinfo/" + std::to_string(fd));
  std::string key;
  while (info >> key) {
    if (key == "flags:") {
      std::string octal;
      info >> octal;
      return int(std::stoul(octal, nullptr, 8));
    }
  }
  return -1;
}

TEST(FileAccessTest, DatabaseIsOpenedForReadingOnly) {
  testutil::TempDir dir;
  const std::string path = dir.Write("db.msi", BuildDatabase(Fixture()));
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(path.c_str(), resolved), nullptr);
  ASSERT_TRUE(DescriptorsOf(resolved).empty());

  installer::Handle db = installer::kNoHandle;
  ASSERT_EQ(installer::OpenDatabase(path.c_str(), &db), installer::kSuccess);
  const std::vector<int> fds = DescriptorsOf(resolved);
  ASSERT_EQ(fds.size(), 1u) << "the open database holds one descriptor of its file";
  const int flags = OpenFlags(fds[0]);
  ASSERT_NE(flags, -1);
  EXPECT_EQ(flags & O_ACCMODE, O_RDONLY);
  EXPECT_EQ(flags & (O_CREAT | O_TRUNC | O_APPEND), 0);
  EXPECT_NE(flags & O_CLOEXEC, 0);
  installer::ReleaseHandle(db);
  EXPECT_TRUE(DescriptorsOf(resolved).empty()) << "releasing the database closes the file";
}

TEST(FileAccessTest, ReaderFailsCleanlyWhenTheFileShrinks) {
  testutil::TempDir dir;
  const std::string path = dir.Write("data.bin", std::string(8192, 'x'));
  std::unique_ptr<installer::FileReader> reader;
  ASSERT_TRUE(installer::FileReader::Open(path.c_str(), &reader).ok());
  ASSERT_EQ(reader->size(), 8192u);
  ASSERT_EQ(truncate(path.c_str(), 1000), 0);

  uint8_t buffer[4096];
  EXPECT_TRUE(reader->ReadAt(0, 1000, buffer).ok());
  installer::Outcome past = reader->ReadAt(4096, 4096, buffer);  // wholly past the new end
  EXPECT_FALSE(past.ok());
  EXPECT_EQ(past.errno_value(), 0) << "damage, not a system error";
  EXPECT_FALSE(reader->ReadAt(512, 1024, buffer).ok());  // straddles the new end
  EXPECT_FALSE(reader->ReadAt(8000, 193, buffer).ok()) << "beyond the size it had when opened";
}

TEST(FileAccessTest, TableOfAFileThatShrankFailsAtExecute) {
  testutil::TempDir dir;
  const std::string bytes = BuildDatabase(Fixture());
  const std::string path = dir.Write("db.msi", bytes);
  installer::Handle db = installer::kNoHandle, view = installer::kNoHandle;
  ASSERT_EQ(installer::OpenDatabase(path.c_str(), &db), installer::kSuccess);
  ASSERT_EQ(installer::OpenView(db, "SELECT * FROM Big", &view), installer::kSuccess);
  ASSERT_EQ(truncate(path.c_str(), off_t(bytes.size() / 2)), 0);
  EXPECT_EQ(installer::ExecuteView(view), installer::kErrorFunctionFailed);
  EXPECT_EQ(installer::LastError(), installer::kErrorFunctionFailed);
  installer::ReleaseHandle(view);
  installer::ReleaseHandle(db);
}

}  // namespace
