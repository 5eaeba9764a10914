#include "test_util.h"

#include "installer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testutil {

TempDir::TempDir() {
  char pattern[] = "/tmp/msitable-test-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::string command = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", path_.c_str());
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
  std::string file = path_ + "/" + name;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file);
  return file;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

RunResult RunProgram(const std::vector<std::string>& args, const std::string& stdout_path) {
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    if (stdout_path.empty()) {
      dup2(out_pipe[1], 1);
    } else {
      int fd = open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 1);
    }
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(err_pipe[0]);
    std::vector<char*> argv;
    static std::string binary = MSITABLE_BINARY;
    argv.push_back(binary.data());
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  RunResult result;
  struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[65536];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      } else {
        sinks[i]->append(buffer, size_t(n));
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

std::string CorpusFile(const std::string& name) {
  std::string path = std::string(MSITABLE_CORPUS_DIR) + "/" + name;
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? path : "";
}

namespace {

bool ReadAll(installer::Handle record, uint32_t field, std::string* text) {
  uint32_t capacity = 0;
  char probe[1];
  uint32_t status = installer::ReadString(record, field, probe, &capacity);
  if (status != installer::kErrorMoreData) return false;
  std::vector<char> buffer(size_t(capacity) + 1);
  capacity = uint32_t(buffer.size());
  if (installer::ReadString(record, field, buffer.data(), &capacity) != installer::kSuccess) return false;
  text->assign(buffer.data(), capacity);
  return true;
}

}  // namespace

QueryResult Query(const std::string& path, const std::string& query) {
  QueryResult result;
  auto fail = [&](uint32_t status, const char* step) {
    result.status = status;
    result.last_error = installer::LastError();
    result.failed_step = step;
  };
  installer::Handle db = 0, view = 0;
  uint32_t status = installer::OpenDatabase(path.c_str(), &db);
  if (status != 0) {
    fail(status, "open");
    return result;
  }
  if ((status = installer::OpenView(db, query.c_str(), &view)) != 0) {
    fail(status, "view");
  } else if ((status = installer::ExecuteView(view)) != 0) {
    fail(status, "execute");
  } else {
    for (auto kind : {installer::ColumnInfoKind::kNames, installer::ColumnInfoKind::kTypes}) {
      installer::Handle info = 0;
      installer::GetColumnInfo(view, kind, &info);
      auto& list = kind == installer::ColumnInfoKind::kNames ? result.names : result.types;
      for (uint32_t i = 1; i <= installer::FieldCount(info); ++i) {
        std::string text;
        ReadAll(info, i, &text);
        list.push_back(text);
      }
      installer::ReleaseHandle(info);
    }
    for (;;) {
      installer::Handle row = 0;
      status = installer::FetchRow(view, &row);
      if (status == installer::kErrorNoMoreItems) break;
      if (status != 0) {
        fail(status, "fetch");
        break;
      }
      std::vector<std::string> fields;
      for (uint32_t i = 1; i <= installer::FieldCount(row); ++i) {
        const std::string& type = result.types[i - 1];
        std::string text;
        if (type[0] == 'v' || type[0] == 'V') {
          text = "[stream]";
        } else if (!ReadAll(row, i, &text)) {
          fail(installer::kErrorFunctionFailed, "read");
        }
        fields.push_back(text);
      }
      result.rows.push_back(fields);
      installer::ReleaseHandle(row);
    }
    installer::CloseView(view);
  }
  if (view) installer::ReleaseHandle(view);
  installer::ReleaseHandle(db);
  return result;
}

testsupport::ColumnDef Col(const std::string& name, uint16_t type) { return {name, type}; }
testsupport::Value I(int32_t v) { return testsupport::Value::Int(v); }
testsupport::Value S(const std::string& s) { return testsupport::Value::Str(s); }
testsupport::Value N() { return testsupport::Value::Null(); }

}  // namespace testutil
