// Console input and output for the program.
#pragma once

#include <string>
#include <string_view>

namespace msitable {

// Standard output, written one line at a time: text collects in a buffer and
// every EndLine() writes the line and its newline with a single write(2),
// which flushes it. After a failed write (a full disk, a closed pipe) every
// later write is skipped and ok() turns false, so the run can end with a
// failure status.
class Output {
 public:
  explicit Output(int fd) : fd_(fd) {}
  ~Output() { Flush(); }

  void Write(std::string_view text) {
    if (ok_) line_.append(text.data(), text.size());
  }
  void EndLine() {
    line_.push_back('\n');
    Flush();
  }
  // Writes whatever is buffered.
  void Flush();
  bool ok() const { return ok_; }
  bool mid_line() const { return !line_.empty(); }

 private:
  int fd_;
  std::string line_;
  bool ok_ = true;
};

// When standard input is a terminal, waits for one key press, read without
// echo and with the terminal's signal keys off (Ctrl-C is just a key); the
// terminal's settings are always restored. Does nothing otherwise.
void WaitForKey();

}  // namespace msitable
