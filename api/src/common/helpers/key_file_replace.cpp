// Key files replaced whole: each new text goes to a file of its own beside
// the name, is synced, and is then swapped with what the name held. A hard
// link or a symlink at the name is replaced rather than written through, and
// a crash leaves the old file or the new one, never part of either. The old
// files stay reachable until every name holds its new file, so a set that
// cannot be replaced whole is put back as it was.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <utility>
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

// The directory that holds path, as open and stat take it.
std::string directory_of(const std::string &path) {
  const std::string dir = directory_part(path);
  return dir.empty() ? "." : dir;
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

// A file descriptor closed when it goes.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(Fd &&o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  Fd &operator=(Fd &&o) noexcept {
    if (this != &o) {
      close_now();
      fd_ = std::exchange(o.fd_, -1);
    }
    return *this;
  }

  int get() const { return fd_; }
  // Closed now, its result reported (a write may only fail here).
  bool close_now() {
    const int fd = std::exchange(fd_, -1);
    return fd < 0 || close(fd) == 0;
  }

 private:
  int fd_;
};

// Only the directory's owner could have created or replaced a name in it:
// neither its group nor others may write there. With an access control list
// the group bits are its mask, so a named user or group that may write
// counts too.
bool only_owner_writes(const std::string &path) {
  struct stat dir {};
  return stat(directory_of(path).c_str(), &dir) == 0 && (dir.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The old file's owner, group and permission bits on the new one, as far as
// the caller may set them; with no old file to follow, a new file's mode. A
// private key file never lets others in, nor a group other than the old
// file's.
bool take_attributes(int fd, const struct stat *old, bool priv) {
  // The umask may have taken the owner's bits too; a new private file is 0600.
  if (!old) return !priv || fchmod(fd, 0600) == 0;
  mode_t mode = old->st_mode & 0777;
  // Only root may give the file away; a member of the old group may still
  // keep that. Whatever cannot be kept stays the caller's.
  const bool group_kept = fchown(fd, old->st_uid, old->st_gid) == 0 ||
                          fchown(fd, static_cast<uid_t>(-1), old->st_gid) == 0;
  if (priv) {
    mode &= ~static_cast<mode_t>(S_IRWXO);
    if (!group_kept) mode &= ~static_cast<mode_t>(S_IRWXG);
  }
  return fchmod(fd, mode) == 0;
}

// One name's replacement, and how to put the name back.
struct Step {
  enum class State {
    kNone,       // no new file made
    kWritten,    // the new file at `made`, the name untouched
    kCreated,    // the new file at the name, where there was nothing
    kExchanged,  // the new file at the name, the old one at `made`
    kLinked,     // the new file at the name, the old one also at `backup`
  };
  State state = State::kNone;
  std::string made;
  std::string backup;
  Fd dir;  // the name's directory, for its sync; none when it cannot be opened
};

// The text written and synced in a new file beside its name (step.made).
Uint32 write_beside(const qel2::KeyFileText &f, Step &step) {
  if (!qel2::key_file_name_usable(f.path)) return ERR_OPEN_FILE;
  const bool priv = f.access == qel2::KeyFileAccess::kPrivate;
  struct stat old {};
  // A name that anyone but the directory's owner could have made first is
  // taken as empty: whoever plants a file there never chooses who owns the
  // next key. A symlink may point anywhere, so it gives nothing either.
  const bool follow_old =
      lstat(f.path, &old) == 0 && S_ISREG(old.st_mode) && only_owner_writes(f.path);
  Fd fd;
  for (int i = 0; i < kNameTries && fd.get() < 0; ++i) {
    step.made = new_name_beside(f.path);
    fd = Fd(open(step.made.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                 priv ? 0600 : 0666));
    if (fd.get() < 0 && errno != EEXIST) break;
  }
  if (fd.get() < 0) return ERR_OPEN_FILE;
  step.state = Step::State::kWritten;
  bool ok = take_attributes(fd.get(), follow_old ? &old : nullptr, priv) &&
            write_all(fd.get(), static_cast<const unsigned char *>(f.data), f.len) &&
            fsync(fd.get()) == 0;
  ok = fd.close_now() && ok;
  return ok ? 0 : ERR_WRITE_OUTPUT_FILE;
}

// The new file at a name that held nothing, as long as it still holds
// nothing: whatever came there meanwhile is not lost.
bool put_at_empty_name(Step &step, const char *path) {
  bool ok = renameat2(AT_FDCWD, step.made.c_str(), AT_FDCWD, path, RENAME_NOREPLACE) == 0;
  if (!ok && errno == EINVAL) {  // a file system without it: a link cannot replace either
    ok = link(step.made.c_str(), path) == 0;
    if (ok) unlink(step.made.c_str());
  }
  if (!ok) return false;
  step.made.clear();
  step.state = Step::State::kCreated;
  return true;
}

// The new file at its name; the old one stays reachable beside it until
// the whole set is in place.
bool put_in_place(Step &step, const char *path) {
  if (renameat2(AT_FDCWD, step.made.c_str(), AT_FDCWD, path, RENAME_EXCHANGE) == 0) {
    step.state = Step::State::kExchanged;
    return true;
  }
  if (errno == ENOENT) return put_at_empty_name(step, path);
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
  // The file system swaps no names: a hard link keeps the old file instead.
  // In a sticky directory only the file's owner or the directory's (or root)
  // may take the name: any other caller's rename would fail after the link
  // was made, and the link could not be removed again.
  struct stat old {
  }, dir{};
  if (lstat(path, &old) == 0 && stat(directory_of(path).c_str(), &dir) == 0 &&
      (dir.st_mode & S_ISVTX) && geteuid() != 0 && old.st_uid != geteuid() &&
      dir.st_uid != geteuid()) {
    errno = EPERM;
    return false;
  }
  for (int i = 0; i < kNameTries; ++i) {
    step.backup = new_name_beside(path);
    if (linkat(AT_FDCWD, path, AT_FDCWD, step.backup.c_str(), 0) == 0) break;
    const int err = errno;
    step.backup.clear();
    if (err == ENOENT) return put_at_empty_name(step, path);
    if (err != EEXIST) return false;
  }
  if (step.backup.empty()) return false;
  if (rename(step.made.c_str(), path) != 0) {
    unlink(step.backup.c_str());
    step.backup.clear();
    return false;
  }
  step.made.clear();
  step.state = Step::State::kLinked;
  return true;
}

// The name as it was before the step.
void put_back(Step &step, const char *path) {
  switch (step.state) {
    case Step::State::kNone:
      return;
    case Step::State::kWritten:
      unlink(step.made.c_str());
      break;
    case Step::State::kCreated:
      unlink(path);
      break;
    case Step::State::kExchanged:
      rename(step.made.c_str(), path);  // the old file over the new one
      break;
    case Step::State::kLinked:
      rename(step.backup.c_str(), path);
      break;
  }
  step.state = Step::State::kNone;
}

// The old file let go once every name holds its new one.
void let_old_go(Step &step) {
  if (step.state == Step::State::kExchanged) unlink(step.made.c_str());
  if (step.state == Step::State::kLinked) unlink(step.backup.c_str());
  step.state = Step::State::kNone;
}

// A replacement of a set of names: put back unless committed.
struct Replacement {
  std::span<const qel2::KeyFileText> files;
  std::vector<Step> steps;
  bool committed = false;

  explicit Replacement(std::span<const qel2::KeyFileText> f) : files(f), steps(f.size()) {}
  ~Replacement() {
    if (committed) return;
    for (size_t i = steps.size(); i-- > 0;) put_back(steps[i], files[i].path);
  }
  Replacement(const Replacement &) = delete;
  Replacement &operator=(const Replacement &) = delete;

  // Done: nothing after this can fail the call.
  void commit() {
    committed = true;
    for (Step &s : steps) let_old_go(s);
    for (Step &s : steps)
      if (s.dir.get() >= 0) fsync(s.dir.get());
  }
};

bool same_inode(const struct stat &a, const struct stat &b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

namespace qel2 {

bool key_file_name_usable(const char *path) {
  if (!path || !*path) return false;
  struct stat st {};
  if (lstat(path, &st) != 0) return errno == ENOENT;
  return S_ISREG(st.st_mode) || S_ISLNK(st.st_mode);
}

bool key_file_names_collide(const char *a, const char *b) {
  if (!a || !b) return false;
  struct stat sa {};
  struct stat sb {};
  if (stat(a, &sa) == 0 && stat(b, &sb) == 0 && same_inode(sa, sb)) return true;
  // Else the same last part in the same directory, however each is spelled.
  const std::string dir_a = directory_part(a), dir_b = directory_part(b);
  return std::string_view(a).substr(dir_a.size()) == std::string_view(b).substr(dir_b.size()) &&
         stat(directory_of(a).c_str(), &sa) == 0 && stat(directory_of(b).c_str(), &sb) == 0 &&
         same_inode(sa, sb);
}

Uint32 replace_key_files(std::span<const KeyFileText> files, size_t *failed) {
  auto fail = [&](size_t i, Uint32 code) {
    if (failed) *failed = i;
    return code;
  };
  for (size_t i = 0; i < files.size(); ++i)
    if (!files[i].path || (!files[i].data && files[i].len)) return fail(i, ERR_INVALID_INPUT);
  for (size_t i = 0; i < files.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (key_file_names_collide(files[j].path, files[i].path)) return fail(i, ERR_INVALID_INPUT);
  Replacement r(files);
  // Opened before anything changes: a directory the caller may not read is
  // left unsynced rather than failing a call whose files are all in place.
  for (size_t i = 0; i < files.size(); ++i) {
    r.steps[i].dir = Fd(
        open(directory_of(files[i].path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY));
  }
  for (size_t i = 0; i < files.size(); ++i)
    if (Uint32 code = write_beside(files[i], r.steps[i])) return fail(i, code);
  for (size_t i = 0; i < files.size(); ++i)
    if (!put_in_place(r.steps[i], files[i].path)) return fail(i, ERR_WRITE_OUTPUT_FILE);
  r.commit();
  return 0;
}

}  // namespace qel2
