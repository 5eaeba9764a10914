// Positioned reads from a database file, opened for reading only.
//
// Reads go through pread() rather than a memory mapping, so that a file that
// shrinks while it is read gives a short read (an error) instead of a SIGBUS.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "outcome.h"

namespace installer {

class FileReader {
 public:
  // Opens `path` read-only. Only regular files are accepted: a directory
  // fails with EISDIR, a FIFO, socket or device as a damaged database (a
  // FIFO is opened without blocking and never read).
  static Outcome Open(const char* path, std::unique_ptr<FileReader>* out);
  ~FileReader();

  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // The size the file had when it was opened.
  uint64_t size() const { return size_; }

  // Reads exactly `length` bytes at `offset`; anything less is an error.
  Outcome ReadAt(uint64_t offset, uint64_t length, uint8_t* out) const;

  // Total bytes read so far, for measurements.
  uint64_t bytes_read() const { return bytes_read_; }

 private:
  FileReader(int fd, uint64_t size) : fd_(fd), size_(size) {}

  int fd_;
  uint64_t size_;
  mutable uint64_t bytes_read_ = 0;
};

}  // namespace installer
