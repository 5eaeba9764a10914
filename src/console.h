// Console input and output for the program.
#pragma once

#include <algorithm>
#include <cstring>
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
    if (text.size() > line_.size() - used_) Grow(text.size());
    std::memcpy(line_.data() + used_, text.data(), text.size());
    used_ += text.size();
  }
  void EndLine() {
    Write("\n");
    Flush();
  }
  // Writes whatever is buffered.
  void Flush();
  bool ok() const { return ok_; }
  bool mid_line() const { return used_ != 0; }

 private:
  void Grow(size_t more) { line_.resize(std::max(line_.size() * 2, used_ + more)); }

  int fd_;
  std::string line_ = std::string(4096, '\0');  // the line so far: line_[0, used_)
  size_t used_ = 0;
  bool ok_ = true;
};

// When standard input is a terminal, waits for one key press, read without
// echo and with the terminal's signal keys off (Ctrl-C is just a key); the
// terminal's settings are always restored. Does nothing otherwise.
void WaitForKey();

}  // namespace msitable
