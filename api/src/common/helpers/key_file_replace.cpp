// Key files replaced whole: each new text goes to a file of its own beside
// the name, is synced, and is then renamed over the name. A hard link or a
// symlink at the name is replaced rather than written through, and a crash
// leaves the old file or the new one, never part of either.
#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "common/helpers/regular_file.h"
#include "qel2_errors.h"

namespace {

// Names already taken (left by a process that died, or planted) are passed
// over; this many in a row means something else is wrong.
constexpr int kNameTries = 100;

// The directory part of path, "" when there is none.
std::string directory_part(const std::string &path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A new file's name in the directory of path: the process, a count within
// it and random bits keep it apart from any other writer's.
std::string new_name_beside(const std::string &path) {
  static std::atomic<unsigned> count{0};
  unsigned bits = 0;
  if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) bits = 0;
  char name[64];
  snprintf(name, sizeof name, ".qel2-key.%ld.%u.%08x", static_cast<long>(getpid()), count++, bits);
  return directory_part(path) + name;
}

bool write_all(int fd, const unsigned char *p, size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// New files not (yet) renamed over their names; removed when the set goes.
struct NewFiles {
  std::vector<std::string> names;
  ~NewFiles() {
    for (const std::string &n : names)
      if (!n.empty()) unlink(n.c_str());
  }
};

// The text written and synced in a new file beside its name; its name in
// `made` (empty when none was made).
Uint32 write_beside(const qel2::KeyFileText &f, std::string &made) {
  if (!qel2::key_file_name_usable(f.path)) return ERR_OPEN_FILE;
  const bool priv = f.access == qel2::KeyFileAccess::kPrivate;
  int fd = -1;
  for (int i = 0; i < kNameTries && fd < 0; ++i) {
    made = new_name_beside(f.path);
    fd = open(made.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
              priv ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    made.clear();
    return ERR_OPEN_FILE;
  }
  // The umask may have taken the owner's bits too; a private file is 0600.
  bool ok = (!priv || fchmod(fd, 0600) == 0) &&
            write_all(fd, static_cast<const unsigned char *>(f.data), f.len) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  return ok ? 0 : ERR_WRITE_OUTPUT_FILE;
}

// The rename recorded on disk.
bool sync_directory(const std::string &path) {
  const std::string dir = directory_part(path);
  const int fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

}  // namespace

namespace qel2 {

bool key_file_name_usable(const char *path) {
  if (!path || !*path) return false;
  struct stat st {};
  if (lstat(path, &st) != 0) return errno == ENOENT;
  return S_ISREG(st.st_mode) || S_ISLNK(st.st_mode);
}

Uint32 replace_key_files(std::span<const KeyFileText> files, size_t *failed) {
  NewFiles made;
  made.names.resize(files.size());
  auto fail = [&](size_t i, Uint32 code) {
    if (failed) *failed = i;
    return code;
  };
  for (size_t i = 0; i < files.size(); ++i)
    if (!files[i].path || (!files[i].data && files[i].len)) return fail(i, ERR_INVALID_INPUT);
  for (size_t i = 0; i < files.size(); ++i)
    if (Uint32 r = write_beside(files[i], made.names[i])) return fail(i, r);
  for (size_t i = 0; i < files.size(); ++i) {
    if (rename(made.names[i].c_str(), files[i].path) != 0) return fail(i, ERR_WRITE_OUTPUT_FILE);
    made.names[i].clear();
  }
  for (size_t i = 0; i < files.size(); ++i)
    if (!sync_directory(files[i].path)) return fail(i, ERR_WRITE_OUTPUT_FILE);
  return 0;
}

}  // namespace qel2
