/* write_lines FILE
 *
 * The floor for printing a table: loads FILE (the lines msitable prints)
 * into memory with one read, then writes it to standard output one line at
 * a time, one write(2) per line, as msitable's line-flushed output does.
 * Nothing else: no parsing, no formatting, no allocation per line. */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int write_all(const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(STDOUT_FILENO, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return -1;
    p += w;
    n -= (size_t)w;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: write_lines FILE\n");
    return 2;
  }
  int fd = open(argv[1], O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    perror(argv[1]);
    return 1;
  }
  size_t size = (size_t)st.st_size;
  char* text = malloc(size ? size : 1);
  if (!text) return 1;
  size_t got = 0;
  while (got < size) {
    ssize_t r = read(fd, text + got, size - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      perror(argv[1]);
      return 1;
    }
    got += (size_t)r;
  }
  close(fd);

  const char* p = text;
  const char* end = text + size;
  while (p < end) {
    const char* nl = memchr(p, '\n', (size_t)(end - p));
    const char* line_end = nl ? nl + 1 : end;
    if (write_all(p, (size_t)(line_end - p)) != 0) return 1;
    p = line_end;
  }
  free(text);
  return 0;
}
