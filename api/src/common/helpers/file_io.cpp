// Whole-file reading and writing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "common/helpers/regular_file.h"
#include "qel2_errors.h"
#include "qel2_helpers.h"

namespace {

constexpr size_t kReadPiece = 100;

// fd when it is a regular file, made blocking again; else closed and -1.
int keep_if_regular(int fd) {
  if (fd < 0) return -1;
  struct stat st {};
  const int flags = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? fcntl(fd, F_GETFL) : -1;
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A stream over fd (-1: none); fd is closed when no stream can be made.
FILE *stream_of(int fd, const char *mode) {
  if (fd < 0) return nullptr;
  FILE *f = fdopen(fd, mode);
  if (!f) close(fd);
  return f;
}

using Opener = FILE *(*)(const char *);

FILE *fopen_truncated(const char *file) { return fopen(file, "wb+e"); }
FILE *fopen_appended(const char *file) { return fopen(file, "ae"); }
FILE *fopen_any_for_reading(const char *file) { return fopen(file, "rbe"); }

Uint32 write_with(Opener opener, const char *file, const Uint8 *data, Uint32 data_len) {
  if (!file || !data) {
    printf("Null parameters are passed");
    return ERR_INVALID_INPUT;
  }
  FILE *f = opener(file);
  if (!f) return ERR_OPEN_FILE;
  const size_t items = fwrite(data, data_len, 1, f);
  // Data still buffered is written by fclose; its failure is a failed write.
  const bool closed = fclose(f) == 0;
  return items == 1 && closed ? 0 : ERR_WRITE_OUTPUT_FILE;
}

Uint32 read_with(Opener opener, const char *file, Uint8 *buffer, Uint32 buffer_size,
                 Uint32 *data_len) {
  if (data_len) *data_len = 0;
  if (!file || !buffer) {
    printf("Null parameters are passed");
    return ERR_INVALID_INPUT;
  }
  FILE *f = opener(file);
  if (!f) return ERR_OPEN_FILE;
  struct stat st {};
  if (fstat(fileno(f), &st) != 0) {
    fclose(f);
    return ERR_READ_INPUT_FILE;
  }
  if (static_cast<unsigned long long>(st.st_size) > buffer_size) {
    fclose(f);
    return ERR_INVALID_INPUT;
  }
  Uint32 total = 0;
  unsigned char piece[kReadPiece];
  for (;;) {
    const size_t n = fread(piece, 1, kReadPiece, f);
    if (n > buffer_size - total) {  // the file grew after its size was taken
      fclose(f);
      return ERR_INVALID_INPUT;
    }
    for (size_t i = 0; i < n; ++i) buffer[total + i] = piece[i];
    total += static_cast<Uint32>(n);
    if (n < kReadPiece) break;
  }
  const bool failed = ferror(f) != 0;
  fclose(f);
  if (failed || total == 0) return ERR_READ_INPUT_FILE;
  if (data_len) *data_len = total;
  return 0;
}

}  // namespace

namespace qel2 {

FILE *fopen_regular_for_reading(const char *path) {
  // Without O_NONBLOCK, opening a FIFO would wait for a writer before fstat
  // could tell what it is.
  return stream_of(keep_if_regular(open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)), "rb");
}

Uint32 read_regular_file(const char *file, Uint8 *buffer, Uint32 buffer_size, Uint32 *data_len) {
  return read_with(qel2::fopen_regular_for_reading, file, buffer, buffer_size, data_len);
}

}  // namespace qel2

Uint32 write_file(const char *file, const Uint8 *data, Uint32 data_len) {
  return write_with(fopen_truncated, file, data, data_len);
}

Uint32 append_file(const char *file, const Uint8 *data, Uint32 data_len) {
  return write_with(fopen_appended, file, data, data_len);
}

Uint32 read_file(const char *file, Uint8 *buffer, Uint32 buffer_size, Uint32 *data_len) {
  return read_with(fopen_any_for_reading, file, buffer, buffer_size, data_len);
}
