#include "console.h"

#include <errno.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

namespace msitable {

void Output::Flush() {
  const char* p = line_.data();
  size_t left = used_;
  while (ok_ && left > 0) {
    ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok_ = false;
      break;
    }
    p += n;
    left -= size_t(n);
  }
  used_ = 0;
}

namespace {

struct termios saved_terminal;
volatile sig_atomic_t terminal_changed = 0;

void RestoreTerminal() {
  if (terminal_changed) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
    terminal_changed = 0;
  }
}

// A signal that ends the process while it waits must not leave the terminal
// without echo.
void RestoreAndRaise(int signal_number) {
  RestoreTerminal();
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

}  // namespace

void WaitForKey() {
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_terminal) != 0) return;
  struct termios raw = saved_terminal;
  raw.c_lflag &= tcflag_t(~(ICANON | ECHO | ISIG));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;

  struct sigaction action = {}, old_term = {}, old_hup = {};
  action.sa_handler = RestoreAndRaise;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, &old_term);
  sigaction(SIGHUP, &action, &old_hup);

  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
    terminal_changed = 1;
    char key;
    ssize_t n;
    do {
      n = ::read(STDIN_FILENO, &key, 1);
    } while (n < 0 && errno == EINTR);
    RestoreTerminal();
  }
  sigaction(SIGTERM, &old_term, nullptr);
  sigaction(SIGHUP, &old_hup, nullptr);
}

}  // namespace msitable
