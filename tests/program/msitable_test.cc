// The console program end to end: command line, output format, failure
// lines and exit statuses.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "test_util.h"

namespace {

using namespace testsupport;
using testutil::Col;
using testutil::I;
using testutil::N;
using testutil::RunProgram;
using testutil::S;

const char kUsage[] =
    "run the application with argumnets <application name> <Msidatabase(with full path)> "
    "<table name in MSI database>\n";

DatabaseDef Fixture() {
  DatabaseDef def;
  def.tables.push_back(TableDef{
      "Property",
      {Col("Property", coltype::kString | 72 | coltype::kKey), Col("Value", coltype::kLocalized)},
      {{S("ProductCode"), S("{11111111-2222-3333-4444-555555555555}")},
       {S("Multi"), S("line one\r\nline\ttwo")},
       {S("Empty"), N()}}});
  def.tables.push_back(TableDef{"Mixed",
                                {Col("Key", coltype::kInt2 | coltype::kKey),
                                 Col("Count", coltype::kInt4 | coltype::kNullable),
                                 Col("Data", coltype::kBinary | coltype::kNullable),
                                 Col("Name", coltype::kString | 32 | coltype::kNullable)},
                                {{I(-5), I(-2000000000), Value::Stream("abc"), S("minus")},
                                 {I(0), N(), N(), N()},
                                 {I(7), I(2147483647), Value::Stream("x"), S("")}}});
  def.tables.push_back(TableDef{"NoRows", {Col("A", coltype::kString | 10 | coltype::kKey)}, {}});
  def.tables.push_back(TableDef{"Odd%sName", {Col("A", coltype::kInt2 | coltype::kKey)}, {{I(1)}}});
  def.tables.push_back(TableDef{"Long", {Col("Text", coltype::kString)}, {{S(std::string(70000, 'q'))}}});
  return def;
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { db_ = dir_.Write("fixture.msi", BuildDatabase(Fixture())); }
  testutil::TempDir dir_;
  std::string db_;
};

TEST_F(ProgramTest, PrintsHeaderAndRowsByColumnType) {
  auto r = RunProgram({db_, "Mixed"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out,
            "The column Headers follow\n"
            "Key Count Data Name \n"
            "\n"
            "-5 -2000000000 binary  minus \n"
            "0  binary   \n"  // null integer and null string: just their spaces
            "7 2147483647 binary   \n");
  EXPECT_EQ(r.err, "");
}

TEST_F(ProgramTest, StringsArePrintedRawAndWhole) {
  auto r = RunProgram({db_, "Property"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out,
            "The column Headers follow\n"
            "Property Value \n"
            "\n"
            "ProductCode {11111111-2222-3333-4444-555555555555} \n"
            "Multi line one\r\nline\ttwo \n"
            "Empty  \n");

  auto long_text = RunProgram({db_, "Long"});
  EXPECT_EQ(long_text.exit_code, 0);
  EXPECT_EQ(long_text.out, "The column Headers follow\nText \n\n" + std::string(70000, 'q') + " \n");
}

TEST_F(ProgramTest, TableArgumentIsInsertedUnchanged) {
  const std::string header_only = "The column Headers follow\nA \n\n";
  struct Case {
    std::string table;
    int exit_code;
    std::string out;
  } cases[] = {
      {"NoRows", 0, header_only},
      {"`NoRows`", 0, header_only},
      {"`Odd%sName`", 0, header_only + "1 \n"},  // not a format: printed as is
      {"%s%n%s", 1, "error in Opening View\t1615\n"},
      {"  NoRows  ", 0, header_only},  // surrounding blanks are white space to the query
      {"Missing", 1, "error in Opening View\t1615\n"},
      {"norows", 1, "error in Opening View\t1615\n"},  // names are case-sensitive
      {"", 1, "error in Opening View\t1615\n"},
      {"NoRows extra", 1, "error in Opening View\t1615\n"},
      {std::string(300, 'T'), 1, "error in Opening View\t1615\n"},
  };
  for (const Case& c : cases) {
    auto r = RunProgram({db_, c.table});
    EXPECT_EQ(r.exit_code, c.exit_code) << c.table;
    EXPECT_EQ(r.out, c.out) << c.table;
  }
}

TEST_F(ProgramTest, WrongArgumentCountShowsUsage) {
  const std::vector<std::vector<std::string>> cases = {{}, {db_}, {db_, "Mixed", "extra"}};
  for (const auto& args : cases) {
    auto r = RunProgram(args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(ProgramTest, TwoEmptyArgumentsStillRunTheDump) {
  auto r = RunProgram({"", ""});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "error in opening the MSI database\t2\n");
}

TEST_F(ProgramTest, OpenFailuresGiveTheSystemErrorNumber) {
  std::string text = dir_.Write("text.msi", "just some text, not a database at all");
  std::string empty = dir_.Write("empty.msi", "");
  struct Case {
    std::string path;
    std::string out;
  } cases[] = {
      {dir_.path() + "/missing.msi", "error in opening the MSI database\t2\n"},
      {dir_.path(), "error in opening the MSI database\t21\n"},
      {text, "error in opening the MSI database\t1620\n"},
      {empty, "error in opening the MSI database\t1620\n"},
      {"/dev/null", "error in opening the MSI database\t1620\n"},
      {"/dev/zero", "error in opening the MSI database\t1620\n"},
  };
  for (const Case& c : cases) {
    auto r = RunProgram({c.path, "Mixed"});
    EXPECT_EQ(r.exit_code, 1) << c.path;
    EXPECT_EQ(r.out, c.out) << c.path;
  }
}

// A FIFO without a writer would block a reader that opens or reads it
// blindly; it is rejected at once as not a database.
TEST_F(ProgramTest, FifoIsRejectedWithoutBlocking) {
  const std::string fifo = dir_.path() + "/fifo.msi";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto r = RunProgram({fifo, "Mixed"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "error in opening the MSI database\t1620\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(ProgramTest, UnreadableFileGivesPermissionError) {
  if (geteuid() == 0) GTEST_SKIP() << "running as root: file permissions are not enforced";
  chmod(db_.c_str(), 0);
  auto r = RunProgram({db_, "Mixed"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "error in opening the MSI database\t13\n");
}

TEST_F(ProgramTest, DamagedTableFailsAtExecute) {
  Layout layout;
  std::string bytes = BuildDatabase(Fixture(), &layout);
  // Shrink the Mixed table's stream by one byte: no longer a whole number of rows.
  const Layout::StreamInfo& stream = layout.streams.at("!Mixed");
  uint64_t size_field = layout.DirectoryEntryOffset(stream.directory_entry) + 0x78;
  bytes[size_field] = char(bytes[size_field] - 1);
  auto r = RunProgram({dir_.Write("damaged.msi", bytes), "Mixed"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "error in executing the View\t1627\n");
}

TEST_F(ProgramTest, ReadOnlyFileIsNeitherChangedNorNeededWritable) {
  chmod(db_.c_str(), 0444);
  struct stat before, after;
  ASSERT_EQ(stat(db_.c_str(), &before), 0);
  const std::string bytes = testutil::ReadFile(db_);
  auto r = RunProgram({db_, "Property"});
  EXPECT_EQ(r.exit_code, 0);
  ASSERT_EQ(stat(db_.c_str(), &after), 0);
  EXPECT_EQ(testutil::ReadFile(db_), bytes);
  EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
}

TEST_F(ProgramTest, OutputErrorsEndTheRunWithFailure) {
  auto full = RunProgram({db_, "Property"}, "/dev/full");
  EXPECT_EQ(full.exit_code, 1);
  EXPECT_EQ(full.err, "");

  // A reader that stops early: no signal death and nothing on standard error.
  std::string command = std::string("'") + MSITABLE_BINARY + "' '" + db_ +
                        "' Long | head -c 10 >/dev/null; echo ${PIPESTATUS[0]}";
  testutil::TempDir scripts;
  std::string script = scripts.Write("run.sh", command);
  FILE* pipe = popen(("bash '" + script + "' 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char line[256] = {};
  std::string all;
  while (fgets(line, sizeof line, pipe)) all += line;
  pclose(pipe);
  EXPECT_EQ(all, "1\n");
}

// The usage line waits for one key when standard input is a terminal.
TEST(ProgramKeyWait, WaitsForOneKeyWithoutEchoAndRestoresTheTerminal) {
  for (char key : {'x', '\x03'}) {  // Ctrl-C is just a key
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      execl(MSITABLE_BINARY, MSITABLE_BINARY, (char*)nullptr);
      _exit(127);
    }
    struct termios original;
    ASSERT_EQ(tcgetattr(master, &original), 0);
    std::string seen;
    char buffer[512];
    while (seen.find('\n') == std::string::npos) {
      ssize_t n = read(master, buffer, sizeof buffer);
      ASSERT_GT(n, 0);
      seen.append(buffer, size_t(n));
    }
    EXPECT_EQ(seen, std::string(kUsage, sizeof kUsage - 2) + "\r\n");
    // Wait until the program has switched the terminal to raw input.
    struct termios now;
    for (int i = 0; i < 500; ++i) {
      ASSERT_EQ(tcgetattr(master, &now), 0);
      if (!(now.c_lflag & ICANON)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(now.c_lflag & (ICANON | ECHO | ISIG));
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the program did not wait for a key";
    ASSERT_EQ(write(master, &key, 1), 1);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(status), 1);
    // The key was not echoed, and the terminal is back as it was.
    std::string rest;
    int flags = fcntl(master, F_GETFL);
    fcntl(master, F_SETFL, flags | O_NONBLOCK);
    ssize_t n;
    while ((n = read(master, buffer, sizeof buffer)) > 0) rest.append(buffer, size_t(n));
    EXPECT_EQ(rest.find(key), std::string::npos);
    ASSERT_EQ(tcgetattr(master, &now), 0);
    EXPECT_EQ(now.c_lflag, original.c_lflag);
    close(master);
  }
}

TEST(ProgramCorpus, PrintsTablesOfRealDatabases) {
  std::string db = testutil::CorpusFile("mdk-setup1-cp1251.msi");
  if (db.empty()) GTEST_SKIP() << "../shared/corpus is not beside the clone";
  auto r = RunProgram({db, "Property"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("\nProductCode {2AB4BCD7-021B-47B3-AF16-F28110115220} \n"), std::string::npos);
  EXPECT_NE(r.out.find("\nVSDNETRTNAME \xD0\xA1\xD1\x80\xD0\xB5\xD0\xB4\xD0\xB0\xC2\xA0"), std::string::npos)
      << "code page 1251 text is printed as UTF-8";
  auto truncated = testutil::CorpusFile("mimetype-truncated-4096.msi");
  auto t = RunProgram({truncated, "Property"});
  EXPECT_EQ(t.exit_code, 1);
  EXPECT_EQ(t.out, "error in opening the MSI database\t1620\n");
}

}  // namespace
