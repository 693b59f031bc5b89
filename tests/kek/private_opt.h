// Runs a check in a child process that sees a fresh temporary directory as
// /opt/hsm: a user and mount namespace of its own (mounts private), a tmpfs
// over /opt where /opt/hsm does not exist, and the directory bound there.
// Nothing reaches the real /opt. The child starts its own stand-in, so the
// parent's threads and connections play no part.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

namespace kek_test {

inline constexpr int kNoNamespace = 77;

// The ids the child's files are seen with: the caller's alone (a user
// namespace of its own, open to any caller), or every id as it is (a mount
// namespace alone, for root only), for files owned by other users.
enum class Ids { kCallers, kAll };

inline bool write_proc(const char *file, const std::string &text) {
  int fd = open(file, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

// In the child: the private /opt/hsm over dir; false when the system allows
// no such namespace.
inline bool enter_private_opt(const std::string &dir, Ids ids) {
  const uid_t uid = getuid();
  const gid_t gid = getgid();
  if (ids == Ids::kAll) {
    if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0) return false;
  } else {
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    if (!write_proc("/proc/self/setgroups", "deny") ||
        !write_proc("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
        !write_proc("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1"))
      return false;
  }
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  struct stat st {};
  if (stat("/opt/hsm", &st) != 0) {
    if (mount("tmpfs", "/opt", "tmpfs", 0, "mode=0755") != 0) return false;
    if (mkdir("/opt/hsm", 0755) != 0) return false;
  }
  return mount(dir.c_str(), "/opt/hsm", nullptr, MS_BIND, nullptr) == 0;
}

// Runs body in a child whose /opt/hsm is an empty temporary directory;
// failures inside count as the test's. Skips where namespaces are missing
// (or, for every id, where the caller is not root).
inline void with_private_opt(const std::function<void()> &body, Ids ids = Ids::kCallers) {
  char tmpl[] = "/tmp/qel2-kek.XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  const std::string dir = tmpl;
  fflush(stdout);
  fflush(stderr);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (!enter_private_opt(dir, ids)) _exit(kNoNamespace);
    body();
    fflush(stdout);
    fflush(stderr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  std::filesystem::remove_all(dir);
  ASSERT_TRUE(WIFEXITED(status)) << "the check ended by signal " << WTERMSIG(status);
  if (WEXITSTATUS(status) == kNoNamespace)
    GTEST_SKIP() << (ids == Ids::kAll
                         ? "not root, or no private mount namespace: /opt/hsm with every id "
                           "cannot be stood in for"
                         : "no private user and mount namespace here: /opt/hsm cannot be stood in "
                           "for");
  EXPECT_EQ(0, WEXITSTATUS(status)) << "the check in the private namespace failed (see above)";
}

}  // namespace kek_test
