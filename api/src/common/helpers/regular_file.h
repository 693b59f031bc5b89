// Key files (those under /opt/hsm and the key pairs the host helpers write)
// are regular files: opening one never waits on a FIFO or a device, and
// writing one never goes through a symlink planted at its name.
#ifndef QEL2_COMMON_HELPERS_REGULAR_FILE_H
#define QEL2_COMMON_HELPERS_REGULAR_FILE_H

#include <cstdio>

#include "qel2_defs.h"

namespace qel2 {

// `path` opened for reading (binary) when it is a regular file (a symlink to
// one is followed); null for anything else or a failed open.
FILE *fopen_regular_for_reading(const char *path);

// `path` opened for writing (binary), the file created (mode 0666 less the
// umask) or truncated; null when its name holds a symlink, a FIFO, a device
// or a directory, or the open fails.
FILE *fopen_regular_for_writing(const char *path);

// read_file and write_file (same results) on files opened as above: a name
// that is no regular file cannot be opened (ERR_OPEN_FILE).
Uint32 read_regular_file(const char *file, Uint8 *buffer, Uint32 buffer_size, Uint32 *data_len);
Uint32 write_regular_file(const char *file, const Uint8 *data, Uint32 data_len);

}  // namespace qel2

#endif
