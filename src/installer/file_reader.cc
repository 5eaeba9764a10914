#include "file_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace installer {

Outcome FileReader::Open(const char* path, std::unique_ptr<FileReader>* out) {
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return INSTALLER_SYSTEM_ERROR(errno, "cannot open the file");

  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    return INSTALLER_SYSTEM_ERROR(err, "cannot stat the file");
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    return INSTALLER_SYSTEM_ERROR(EISDIR, "the path is a directory");
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return INSTALLER_DAMAGED("not a regular file");
  }
  out->reset(new FileReader(fd, uint64_t(st.st_size)));
  return Outcome();
}

FileReader::~FileReader() { ::close(fd_); }

Outcome FileReader::ReadAt(uint64_t offset, uint64_t length, uint8_t* out) const {
  if (offset > size_ || size_ - offset < length) return INSTALLER_DAMAGED("read past the end of the file");
  while (length > 0) {
    size_t chunk = size_t(std::min<uint64_t>(length, 1u << 30));
    ssize_t got = ::pread(fd_, out, chunk, off_t(offset));
    if (got < 0) {
      if (errno == EINTR) continue;
      return INSTALLER_SYSTEM_ERROR(errno, "read failed");
    }
    if (got == 0) return INSTALLER_DAMAGED("the file ended early (it shrank while being read)");
    bytes_read_ += uint64_t(got);
    out += got;
    offset += uint64_t(got);
    length -= uint64_t(got);
  }
  return Outcome();
}

}  // namespace installer
