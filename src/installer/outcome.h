// The layer's one error channel.
//
// Every internal operation that can fail returns an Outcome. A failure carries
// either the errno value of a failed system call or nothing (the data is
// damaged), a short reason and the source line that detected it, so that a
// damaged file leads straight to the check that rejected it. The public
// functions turn an Outcome into a status and the thread's last-error value.
#pragma once

#include <cstdint>

namespace installer {

class [[nodiscard]] Outcome {
 public:
  Outcome() = default;

  static Outcome Damaged(const char* reason, int line) { return Outcome(0, reason, line); }
  static Outcome SystemError(int errno_value, const char* reason, int line) {
    return Outcome(errno_value, reason, line);
  }

  bool ok() const { return reason_ == nullptr; }
  int errno_value() const { return errno_value_; }
  const char* reason() const { return reason_ ? reason_ : "no error"; }
  int line() const { return line_; }

 private:
  Outcome(int errno_value, const char* reason, int line)
      : errno_value_(errno_value), reason_(reason), line_(line) {}

  int errno_value_ = 0;
  const char* reason_ = nullptr;
  int line_ = 0;
};

#define INSTALLER_DAMAGED(reason) ::installer::Outcome::Damaged(reason, __LINE__)
#define INSTALLER_SYSTEM_ERROR(err, reason) ::installer::Outcome::SystemError(err, reason, __LINE__)

// Returns from the enclosing function when `expr` fails.
#define INSTALLER_TRY(expr)                          \
  do {                                               \
    ::installer::Outcome installer_outcome_ = (expr); \
    if (!installer_outcome_.ok()) return installer_outcome_; \
  } while (0)

}  // namespace installer
