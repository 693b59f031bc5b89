// Key files replaced whole: each new text goes to a file of its own beside
// the name, is synced, and is then swapped with what the name held. A hard
// link or a symlink at the name is replaced rather than written through, and
// a crash leaves the old file or the new one, never part of either. The old
// files stay reachable until every name holds its new file, so a set that
// cannot be replaced whole is put back as it was.
//
// Each name's directory is opened once, before anything changes, and every
// step works relative to it: a symlink on the path that is flipped during
// the call cannot split the set across two directories. Writers of one set
// take turns, by a lock on each directory.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "common/helpers/regular_file.h"
#include "qel2_errors.h"

namespace {

// Names already taken (left by a process that died, or planted) are passed
// over; this many in a row means something else is wrong.
constexpr int kNameTries = 100;

// How long a call waits for another writer of its directories; a writer
// holds them only while it writes, syncs and swaps files it made already.
constexpr auto kLockWait = std::chrono::seconds(5);
// How often it tries again meanwhile (a writer holds its lock for
// milliseconds).
constexpr auto kLockPoll = std::chrono::milliseconds(1);

// A new file's name for a directory: the process, a count within it and
// random bits keep it apart from any other writer's.
std::string new_name() {
  static std::atomic<unsigned> count{0};
  unsigned bits = 0;
  if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) bits = 0;
  char name[64];
  snprintf(name, sizeof name, ".qel2-key.%ld.%u.%08x", static_cast<long>(getpid()), count++, bits);
  return name;
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

bool same_inode(const struct stat &a, const struct stat &b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool file_or_symlink(const struct stat &st) { return S_ISREG(st.st_mode) || S_ISLNK(st.st_mode); }

// A key file's name as every step uses it: its directory, opened once
// before anything changes, and the name's last part within it.
struct Name {
  Fd dir;
  struct stat dir_st {};
  std::string last;
  bool readable = false;  // opened for reading, so it can be locked and synced

  int at() const { return dir.get(); }
  // What is at the name now (a symlink itself, not what it points to).
  bool look(const std::string &name, struct stat &st) const {
    return fstatat(at(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  }
  bool holds(const std::string &name, const struct stat &expected) const {
    struct stat st {};
    return look(name, st) && same_inode(st, expected);
  }
  // Removed only while it is still the file expected: another writer's
  // file at the name stays.
  void unlink_if(const std::string &name, const struct stat &expected) const {
    if (holds(name, expected)) unlinkat(at(), name.c_str(), 0);
  }
};

// Whether the name may take a key file: nothing there yet (*there false),
// or a regular file or a symlink (old: what is there).
bool takes_key_file(const Name &n, struct stat &old, bool &there) {
  there = n.look(n.last, old);
  return there ? file_or_symlink(old) : errno == ENOENT;
}

// Opens path's directory for n; false when it cannot be opened at all or the
// path names no entry in it.
bool open_name(const char *path, Name &n) {
  const std::string_view p(path);
  const size_t slash = p.rfind('/');
  const std::string dir =
      slash == std::string_view::npos ? "." : std::string(p.substr(0, slash + 1));
  n.last = std::string(slash == std::string_view::npos ? p : p.substr(slash + 1));
  if (n.last.empty()) return false;
  n.dir = Fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY));
  n.readable = n.dir.get() >= 0;
  // A directory the caller may write and enter but not read still takes
  // the files, through a descriptor that only names it.
  if (!n.readable) n.dir = Fd(open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  return n.dir.get() >= 0 && fstat(n.dir.get(), &n.dir_st) == 0;
}

// The same entry of one directory, or names that now lead to the same file.
bool names_collide(const Name &a, const Name &b) {
  if (same_inode(a.dir_st, b.dir_st) && a.last == b.last) return true;
  struct stat sa {};
  struct stat sb {};
  return fstatat(a.at(), a.last.c_str(), &sa, 0) == 0 &&
         fstatat(b.at(), b.last.c_str(), &sb, 0) == 0 && same_inode(sa, sb);
}

// Only the directory's owner could have created or replaced a name in it:
// neither its group nor others may write there. With an access control list
// the group bits are its mask, so a named user or group that may write
// counts too.
bool only_owner_writes(const struct stat &dir) { return (dir.st_mode & (S_IWGRP | S_IWOTH)) == 0; }

// One writer of a set at a time: each directory's lock, taken in the order
// of device and inode (so two calls never wait on each other crosswise),
// once however many names it holds, and held until the names' directories
// are closed. A directory that cannot be read, or whose file system takes no
// such lock, goes unlocked. False (and *which the first name in that
// directory) when another writer held a lock for the whole wait.
bool lock_directories(const std::vector<Name> &names, size_t *which) {
  std::vector<size_t> order(names.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  auto key = [&](size_t i) { return std::pair(names[i].dir_st.st_dev, names[i].dir_st.st_ino); };
  // Stable: of the names in one directory, the first given comes first.
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return key(a) < key(b); });
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  for (size_t k = 0; k < order.size(); ++k) {
    const Name &n = names[order[k]];
    if (!n.readable || (k > 0 && key(order[k - 1]) == key(order[k]))) continue;
    for (;;) {
      if (flock(n.at(), LOCK_EX | LOCK_NB) == 0) break;
      if (errno != EWOULDBLOCK) break;  // the file system refuses it
      if (std::chrono::steady_clock::now() >= deadline) {
        *which = order[k];
        return false;
      }
      std::this_thread::sleep_for(kLockPoll);
    }
  }
  return true;
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
  struct stat made_st {};  // the new file
  struct stat old_st {};   // what the swap took out of the name
};

// The text written and synced in a new file beside its name (step.made).
Uint32 write_beside(const qel2::KeyFileText &f, const Name &n, Step &step) {
  struct stat old {};
  bool there = false;
  if (!takes_key_file(n, old, there)) return ERR_OPEN_FILE;
  // A name that anyone but the directory's owner could have made first is
  // taken as empty: whoever plants a file there never chooses who owns the
  // next key. A symlink may point anywhere, so it gives nothing either.
  const bool follow_old = there && S_ISREG(old.st_mode) && only_owner_writes(n.dir_st);
  const bool priv = f.access == qel2::KeyFileAccess::kPrivate;
  Fd fd;
  for (int i = 0; i < kNameTries && fd.get() < 0; ++i) {
    step.made = new_name();
    fd = Fd(openat(n.at(), step.made.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                   priv ? 0600 : 0666));
    if (fd.get() < 0 && errno != EEXIST) break;
  }
  if (fd.get() < 0 || fstat(fd.get(), &step.made_st) != 0) {
    if (fd.get() >= 0) unlinkat(n.at(), step.made.c_str(), 0);
    return ERR_OPEN_FILE;
  }
  step.state = Step::State::kWritten;
  bool ok = take_attributes(fd.get(), follow_old ? &old : nullptr, priv) &&
            write_all(fd.get(), static_cast<const unsigned char *>(f.data), f.len) &&
            fsync(fd.get()) == 0;
  ok = fd.close_now() && ok;
  return ok ? 0 : ERR_WRITE_OUTPUT_FILE;
}

// The new file at a name that held nothing, as long as it still holds
// nothing: whatever came there meanwhile is not lost.
bool put_at_empty_name(Step &step, const Name &n) {
  bool ok = renameat2(n.at(), step.made.c_str(), n.at(), n.last.c_str(), RENAME_NOREPLACE) == 0;
  if (!ok && errno == EINVAL) {  // a file system without it: a link cannot replace either
    ok = linkat(n.at(), step.made.c_str(), n.at(), n.last.c_str(), 0) == 0;
    if (ok) n.unlink_if(step.made, step.made_st);
  }
  if (!ok) return false;
  step.made.clear();
  step.state = Step::State::kCreated;
  return true;
}

// The name as it was before the step, as far as it still holds what this
// call put there: another writer's file at the name stays, and what this
// call took out then stays where it was kept.
void put_back(Step &step, const Name &n) {
  switch (step.state) {
    case Step::State::kNone:
      return;
    case Step::State::kWritten:
      n.unlink_if(step.made, step.made_st);
      break;
    case Step::State::kCreated:
      n.unlink_if(n.last, step.made_st);
      break;
    case Step::State::kExchanged:
      // Swapped back, so that whatever came out (a directory too) returns.
      if (n.holds(n.last, step.made_st) &&
          renameat2(n.at(), step.made.c_str(), n.at(), n.last.c_str(), RENAME_EXCHANGE) == 0)
        n.unlink_if(step.made, step.made_st);
      break;
    case Step::State::kLinked:
      if (n.holds(n.last, step.made_st) && n.holds(step.backup, step.old_st))
        renameat(n.at(), step.backup.c_str(), n.at(), n.last.c_str());
      break;
  }
  step.state = Step::State::kNone;
}

// The new file at its name; the old one stays reachable beside it until
// the whole set is in place. What comes out must be a file or a symlink, as
// the check found: anything put at the name since goes back, and the name is
// refused as the check would have refused it.
Uint32 put_in_place(Step &step, const Name &n) {
  if (renameat2(n.at(), step.made.c_str(), n.at(), n.last.c_str(), RENAME_EXCHANGE) == 0) {
    step.state = Step::State::kExchanged;
    if (n.look(step.made, step.old_st) && file_or_symlink(step.old_st)) return 0;
    put_back(step, n);
    return ERR_OPEN_FILE;
  }
  if (errno == ENOENT) return put_at_empty_name(step, n) ? 0 : ERR_WRITE_OUTPUT_FILE;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return ERR_WRITE_OUTPUT_FILE;
  // The file system swaps no names: a hard link keeps the old file instead.
  // In a sticky directory only the file's owner or the directory's (or root)
  // may take the name: any other caller's rename would fail after the link
  // was made, and the link could not be removed again.
  struct stat old {};
  if (n.look(n.last, old) && (n.dir_st.st_mode & S_ISVTX) && geteuid() != 0 &&
      old.st_uid != geteuid() && n.dir_st.st_uid != geteuid()) {
    errno = EPERM;
    return ERR_WRITE_OUTPUT_FILE;
  }
  for (int i = 0; i < kNameTries; ++i) {
    step.backup = new_name();
    if (linkat(n.at(), n.last.c_str(), n.at(), step.backup.c_str(), 0) == 0) break;
    const int err = errno;
    step.backup.clear();
    if (err == ENOENT) return put_at_empty_name(step, n) ? 0 : ERR_WRITE_OUTPUT_FILE;
    if (err != EEXIST) return ERR_WRITE_OUTPUT_FILE;  // a directory, too, cannot be linked
  }
  if (step.backup.empty() || !n.look(step.backup, step.old_st)) return ERR_WRITE_OUTPUT_FILE;
  if (!file_or_symlink(step.old_st)) {
    n.unlink_if(step.backup, step.old_st);
    return ERR_OPEN_FILE;
  }
  if (renameat(n.at(), step.made.c_str(), n.at(), n.last.c_str()) != 0) {
    n.unlink_if(step.backup, step.old_st);
    return ERR_WRITE_OUTPUT_FILE;
  }
  step.made.clear();
  step.state = Step::State::kLinked;
  return 0;
}

// The old file let go once every name holds its new one.
void let_old_go(Step &step, const Name &n) {
  if (step.state == Step::State::kExchanged) n.unlink_if(step.made, step.old_st);
  if (step.state == Step::State::kLinked) n.unlink_if(step.backup, step.old_st);
  step.state = Step::State::kNone;
}

// A replacement of a set of names: put back unless committed, before the
// directories (and their locks) are let go.
struct Replacement {
  std::vector<Name> names;
  std::vector<Step> steps;
  bool committed = false;

  explicit Replacement(size_t n) : names(n), steps(n) {}
  ~Replacement() {
    if (committed) return;
    for (size_t i = steps.size(); i-- > 0;) put_back(steps[i], names[i]);
  }
  Replacement(const Replacement &) = delete;
  Replacement &operator=(const Replacement &) = delete;

  // Done: nothing after this can fail the call.
  void commit() {
    committed = true;
    for (size_t i = 0; i < steps.size(); ++i) let_old_go(steps[i], names[i]);
    // Each directory synced once (those the caller may read).
    for (size_t i = 0; i < names.size(); ++i) {
      bool seen = false;
      for (size_t j = 0; j < i; ++j) seen = seen || same_inode(names[j].dir_st, names[i].dir_st);
      if (names[i].readable && !seen) fsync(names[i].at());
    }
  }
};

}  // namespace

namespace qel2 {

bool key_file_name_usable(const char *path) {
  if (!path || !*path) return false;
  Name n;
  struct stat st {};
  bool there = false;
  return open_name(path, n) && takes_key_file(n, st, there);
}

bool key_file_names_collide(const char *a, const char *b) {
  if (!a || !b) return false;
  Name na, nb;
  return open_name(a, na) && open_name(b, nb) && names_collide(na, nb);
}

Uint32 replace_key_files(std::span<const KeyFileText> files, size_t *failed) {
  auto fail = [&](size_t i, Uint32 code) {
    if (failed) *failed = i;
    return code;
  };
  for (size_t i = 0; i < files.size(); ++i)
    if (!files[i].path || (!files[i].data && files[i].len)) return fail(i, ERR_INVALID_INPUT);
  Replacement r(files.size());
  for (size_t i = 0; i < files.size(); ++i)
    if (!open_name(files[i].path, r.names[i])) return fail(i, ERR_OPEN_FILE);
  for (size_t i = 0; i < files.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (names_collide(r.names[j], r.names[i])) return fail(i, ERR_INVALID_INPUT);
  size_t busy = 0;
  if (!lock_directories(r.names, &busy)) return fail(busy, ERR_OPEN_FILE);
  for (size_t i = 0; i < files.size(); ++i)
    if (Uint32 code = write_beside(files[i], r.names[i], r.steps[i])) return fail(i, code);
  for (size_t i = 0; i < files.size(); ++i)
    if (Uint32 code = put_in_place(r.steps[i], r.names[i])) return fail(i, code);
  r.commit();
  return 0;
}

}  // namespace qel2
