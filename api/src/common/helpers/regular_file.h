// Key files (those under /opt/hsm and the key pairs the host helpers write)
// are regular files: opening one never waits on a FIFO or a device. Writing
// one replaces it whole through a new file renamed over its name, so a link
// planted at the name is replaced, never written through, and a crash leaves
// the old file or the new one.
#ifndef QEL2_COMMON_HELPERS_REGULAR_FILE_H
#define QEL2_COMMON_HELPERS_REGULAR_FILE_H

#include <cstddef>
#include <cstdio>
#include <span>

#include "qel2_defs.h"

namespace qel2 {

// `path` opened for reading (binary) when it is a regular file (a symlink to
// one is followed); null for anything else or a failed open.
FILE *fopen_regular_for_reading(const char *path);

// read_file (same results) on a file opened as above: a name that is no
// regular file cannot be opened (ERR_OPEN_FILE).
Uint32 read_regular_file(const char *file, Uint8 *buffer, Uint32 buffer_size, Uint32 *data_len);

// Who may read a key file.
enum class KeyFileAccess {
  kPublic,   // mode 0666 less the umask
  kPrivate,  // mode 0600 whatever the umask: private or secret key material
};

// A key file's new contents.
struct KeyFileText {
  const char *path;
  const void *data;
  size_t len;
  KeyFileAccess access;
};

// True when `path` may take a key file: nothing is there yet, or a regular
// file or a symlink (either replaced by the write). A FIFO, a device, a
// socket or a directory at the name, or a name that cannot be looked at, is
// refused. A symlinked parent directory is followed.
bool key_file_name_usable(const char *path);

// Replaces the files whole, in order. Each text is first written to a new
// file beside its name (in the same directory) and synced; only when all are
// written are they renamed over their names, then their directories synced.
// Nothing at any name changes before the first rename, and a failed rename
// leaves its name and the later ones as they were; new files not renamed are
// removed. 0; ERR_INVALID_INPUT (a null path, or null data with a length);
// ERR_OPEN_FILE (a name refused as above, or no new file could be made
// beside it); ERR_WRITE_OUTPUT_FILE (a write, sync or rename failed). On a
// failure *failed (when given) is the index of the file concerned.
Uint32 replace_key_files(std::span<const KeyFileText> files, size_t *failed = nullptr);

}  // namespace qel2

#endif
