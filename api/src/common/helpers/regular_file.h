// Key files (those under /opt/hsm and the key pairs the host helpers write)
// are regular files: opening one never waits on a FIFO or a device. Writing
// one replaces it whole through a new file swapped in at its name, so a link
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

// Who may read a key file. A new file's mode; a file that replaces a
// regular file keeps that file's owner, group and permission bits as far as
// the caller may set them (a private one then loses the others' bits, and
// the group's too when its group could not be kept), but only where nobody
// but the directory's owner could have put that file there: the directory
// grants no write to its group or others (nor, with an access control list,
// to a named user or group). Anywhere else the new file is the caller's, as
// if the name held nothing.
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

// True when two key file names lead to one file: the same directory entry
// (however spelled), or names that now resolve to the same file.
bool key_file_names_collide(const char *a, const char *b);

// Replaces the files whole, as a set. Each name's directory is opened once,
// before anything changes, and every step works in it, so a symlink on the
// path flipped during the call changes nothing. Writers of the same
// directories take turns: each directory is locked (once, in a fixed order)
// before the first new file is written, until the call ends; a call that
// waits more than a few seconds for another writer fails with nothing
// changed (a directory that cannot be read, or whose file system takes no
// lock, goes unlocked). Each text is first written to a new file beside its
// name (in the same directory) and synced; only when all are written are
// they swapped in, in order, the old files kept beside their names until the
// last is in place, then let go and the directories synced (those the caller
// may read). What a swap takes out of a name must be a regular file or a
// symlink: anything else is swapped back and the name refused. A failed call
// leaves every name as it was, with nothing new left beside it: names
// already replaced get their old files back, names that held nothing hold
// nothing again; a name that no longer holds the file this call put there is
// left alone. Once every name holds its new file the call has succeeded. 0;
// ERR_INVALID_INPUT (a null path, null data with a length, or two names that
// collide as above); ERR_OPEN_FILE (a name or its directory refused as
// above, another writer's lock held for the whole wait, or no new file could
// be made beside it); ERR_WRITE_OUTPUT_FILE (a write, sync or rename
// failed). On a failure *failed (when given) is the index of the file
// concerned.
Uint32 replace_key_files(std::span<const KeyFileText> files, size_t *failed = nullptr);

}  // namespace qel2

#endif
