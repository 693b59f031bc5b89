// Runs a Java test program against an in-process stand-in daemon.
//
//   jvm_launcher <scenario> <java> <jvm args...>
//
// Starts hsmsim::Daemon, exports its endpoint into the environment (the JVM
// inherits it), prepares the HSM for the scenario, runs the JVM as a child
// with its output captured, and passes only when the child exited with 0,
// reported "N passed, 0 failed" with N > 0, printed no warning of the JNI
// checker (-Xcheck:jni), and the requests the daemon saw fit the scenario.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <hsmsim/daemon.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>
#include "jce_keys.h"

extern char **environ;

namespace {

constexpr uint16_t kOpLogin = 13;
constexpr uint16_t kOpLogout = 14;
constexpr uint16_t kOpCloseSession = 38;
constexpr uint32_t kRetInvalidSession = 0x8B;
constexpr uint16_t kOpOpenSession = 36;
constexpr uint16_t kOpHsmInfo = 148;
constexpr uint16_t kOpPartitionInfo = 162;
constexpr auto kChildDeadline = std::chrono::seconds(100);

constexpr char kPartition[] = "PARTITION_1";
constexpr char kUser[] = "jce_user";
constexpr char kPassword[] = "jce-secret-1";

void seed_user(hsmsim::Daemon &d) {
  if (!d.hsm().add_user(kPartition, kUser, hsmsim::UserType::CryptoUser, kPassword))
    throw std::runtime_error("cannot add the test user");
}

size_t full_requests(const std::vector<hsmsim::Captured> &seen, uint16_t opcode) {
  size_t n = 0;
  for (const auto &c : seen)
    if (c.operation <= 1 && c.opcode == opcode) ++n;
  return n;
}

struct Scenario {
  const char *name;
  bool needs_summary;  // a test program's "N passed, N failed" line
  std::function<void(hsmsim::Daemon &)> prepare;
  // Returns an explanation when the traffic does not fit.
  std::function<std::optional<std::string>(const std::vector<hsmsim::Captured> &)> check_traffic;
};

const Scenario kScenarios[] = {
    {"login", true, seed_user,
     [](const auto &seen) -> std::optional<std::string> {
       if (full_requests(seen, kOpLogin) == 0) return "no login request reached the daemon";
       return std::nullopt;
     }},
    {"refusals", true, seed_user,
     [](const auto &seen) -> std::optional<std::string> {
       if (!seen.empty())
         return std::to_string(seen.size()) + " requests reached the daemon; expected none";
       return std::nullopt;
     }},
    {"hsm_fips_off", true,
     [](hsmsim::Daemon &d) {
       seed_user(d);
       d.hsm().set_fips_state(0xFFFFFFFFu);
     },
     [](const auto &seen) -> std::optional<std::string> {
       if (full_requests(seen, kOpHsmInfo) == 0) return "no HSM information request";
       if (full_requests(seen, kOpOpenSession) != 0) return "a session was opened";
       return std::nullopt;
     }},
    {"partition_fips_off", true,
     [](hsmsim::Daemon &d) {
       seed_user(d);
       if (!d.hsm().set_partition_fips_state(kPartition, 0xFF))
         throw std::runtime_error("no partition");
     },
     [](const auto &seen) -> std::optional<std::string> {
       if (full_requests(seen, kOpPartitionInfo) == 0) return "no partition information request";
       if (full_requests(seen, kOpLogin) != 0) return "a login was sent";
       return std::nullopt;
     }},
    {"logout_fails", true,
     [](hsmsim::Daemon &d) {
       seed_user(d);
       d.hsm().inject_request_status(kOpLogout, kRetInvalidSession, 1000);
     },
     [](const auto &seen) -> std::optional<std::string> {
       if (full_requests(seen, kOpLogout) == 0) return "no logout request";
       if (full_requests(seen, kOpCloseSession) != 0)
         return "a session was closed after its logout failed";
       return std::nullopt;
     }},
    {"login_without_init", true,
     [](hsmsim::Daemon &d) {
       seed_user(d);
       d.hsm().inject_request_status(kOpCloseSession, kRetInvalidSession, 1);
     },
     [](const auto &seen) -> std::optional<std::string> {
       if (full_requests(seen, kOpLogin) < 5) return "fewer login requests than the program made";
       return std::nullopt;
     }},
    // The Java demo of examples/java: exit status and traffic only.
    {"demo", false, seed_user,
     [](const auto &seen) -> std::optional<std::string> {
       if (full_requests(seen, kOpLogin) == 0) return "no login request reached the daemon";
       return std::nullopt;
     }},
    // CryptoTest: keys made on the host and seeded for the Java side.
    {"crypto", true,
     [](hsmsim::Daemon &d) {
       seed_user(d);
       jce_keys::seed_and_export(d, kUser);
     },
     [](const auto &seen) -> std::optional<std::string> {
       if (full_requests(seen, kOpLogin) == 0) return "no login request reached the daemon";
       return std::nullopt;
     }},
    // CryptoTest: host-side natives and refusals only; nothing may be sent.
    {"crypto_host", true, seed_user,
     [](const auto &seen) -> std::optional<std::string> {
       if (!seen.empty())
         return std::to_string(seen.size()) + " requests reached the daemon; expected none";
       return std::nullopt;
     }},
};

struct ChildResult {
  int status = -1;
  std::string output;
  bool timed_out = false;
};

// Runs argv with stdout and stderr going into one pipe that is read here.
std::optional<ChildResult> run_child(char **argv) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    fprintf(stderr, "cannot start %s: %s\n", argv[0], strerror(rc));
    return std::nullopt;
  }

  ChildResult result;
  const auto deadline = std::chrono::steady_clock::now() + kChildDeadline;
  char buf[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    const int n = poll(&p, 1, static_cast<int>(left.count()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) continue;
    const ssize_t got = read(fds[0], buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    result.output.append(buf, static_cast<size_t>(got));
  }
  close(fds[0]);
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return result;
}

// Every verdict of the child's output; empty when it passed.
std::vector<std::string> judge_output(const ChildResult &r, bool needs_summary) {
  std::vector<std::string> faults;
  if (r.timed_out) faults.push_back("the JVM did not finish in time");
  if (r.status != 0) faults.push_back("the JVM exited with " + std::to_string(r.status));
  // -Xcheck:jni reports its findings as "WARNING in native method: ...".
  if (r.output.find("WARNING") != std::string::npos) faults.push_back("the JVM printed a warning");
  if (!needs_summary) return faults;
  std::smatch m;
  static const std::regex summary(R"((\d+) passed, (\d+) failed)");
  if (!std::regex_search(r.output, m, summary))
    faults.push_back("no summary line");
  else if (std::stoul(m[1]) == 0 || std::stoul(m[2]) != 0)
    faults.push_back("summary: " + m.str());
  return faults;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s <scenario> <java> <jvm args...>\n", argv[0]);
    return 2;
  }
  const Scenario *scenario = nullptr;
  for (const Scenario &s : kScenarios)
    if (std::strcmp(s.name, argv[1]) == 0) scenario = &s;
  if (!scenario) {
    fprintf(stderr, "unknown scenario %s\n", argv[1]);
    return 2;
  }

  hsmsim::Daemon daemon;
  daemon.export_env();
  scenario->prepare(daemon);

  const auto child = run_child(argv + 2);
  if (!child) return 1;
  fwrite(child->output.data(), 1, child->output.size(), stdout);

  std::vector<std::string> faults = judge_output(*child, scenario->needs_summary);
  if (auto traffic = scenario->check_traffic(daemon.captured())) faults.push_back(*traffic);
  for (const auto &f : faults) printf("launcher: %s\n", f.c_str());
  printf("launcher: scenario %s %s\n", scenario->name, faults.empty() ? "passed" : "FAILED");
  return faults.empty() ? 0 : 1;
}
