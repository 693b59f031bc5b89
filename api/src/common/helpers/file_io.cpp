// Whole-file reading and writing.
#include <sys/stat.h>

#include <cstdio>

#include "qel2_errors.h"
#include "qel2_helpers.h"

namespace {

constexpr size_t kReadPiece = 100;

Uint32 write_with_mode(const char *file, const Uint8 *data, Uint32 data_len, const char *mode) {
  if (!file || !data) {
    printf("Null parameters are passed");
    return ERR_INVALID_INPUT;
  }
  FILE *f = fopen(file, mode);
  if (!f) return ERR_OPEN_FILE;
  const size_t items = fwrite(data, data_len, 1, f);
  // Data still buffered is written by fclose; its failure is a failed write.
  const bool closed = fclose(f) == 0;
  return items == 1 && closed ? 0 : ERR_WRITE_OUTPUT_FILE;
}

}  // namespace

Uint32 write_file(const char *file, const Uint8 *data, Uint32 data_len) {
  return write_with_mode(file, data, data_len, "wb+e");
}

Uint32 append_file(const char *file, const Uint8 *data, Uint32 data_len) {
  return write_with_mode(file, data, data_len, "ae");
}

Uint32 read_file(const char *file, Uint8 *buffer, Uint32 buffer_size, Uint32 *data_len) {
  if (data_len) *data_len = 0;
  if (!file || !buffer) {
    printf("Null parameters are passed");
    return ERR_INVALID_INPUT;
  }
  FILE *f = fopen(file, "rbe");
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
