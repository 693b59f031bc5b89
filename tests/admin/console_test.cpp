// Hidden input as an administration tool uses it: a child process whose
// standard input and output are a pseudo-terminal; the test plays the
// operator on the other side and watches the terminal's echo flag.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>

#include "qel2_console.h"

namespace {

using Clock = std::chrono::steady_clock;

class Terminal {
 public:
  Terminal() { EXPECT_EQ(0, openpty(&master_, &slave_, nullptr, nullptr, nullptr)); }
  ~Terminal() {
    if (child_ > 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
    close(master_);
    close(slave_);
  }

  // Runs fn in a child on the terminal; its exit status is fn's result.
  void start(std::function<int()> fn) {
    child_ = fork();
    ASSERT_GE(child_, 0);
    if (child_ == 0) {
      alarm(10);  // never outlive a test that went wrong
      dup2(slave_, 0);
      dup2(slave_, 1);
      _exit(fn());
    }
  }
  // Reads what the child showed until `text` appears (or 5 seconds pass).
  bool wait_for(const std::string &text) {
    auto end = Clock::now() + std::chrono::seconds(5);
    while (screen_.find(text) == std::string::npos && Clock::now() < end) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 50) > 0) {
        char buf[256];
        ssize_t n = read(master_, buf, sizeof buf);
        if (n > 0) screen_.append(buf, static_cast<size_t>(n));
      }
    }
    return screen_.find(text) != std::string::npos;
  }
  bool echo() const {
    termios t{};
    tcgetattr(slave_, &t);
    return t.c_lflag & ECHO;
  }
  void type(const std::string &keys) {
    ASSERT_EQ(static_cast<ssize_t>(keys.size()), write(master_, keys.data(), keys.size()));
  }
  int result() {
    int st = 0;
    EXPECT_EQ(child_, waitpid(child_, &st, 0));
    child_ = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  const std::string &screen() const { return screen_; }

 private:
  int master_ = -1, slave_ = -1;
  pid_t child_ = -1;
  std::string screen_;
};

TEST(ConsoleOnAPseudoTerminal, EchoOffWhileReadingAndBackAfter) {
  Terminal t;
  ASSERT_TRUE(t.echo());
  t.start([] {
    char pswd[33] = {};
    Uint32 len = 0;
    int r = read_and_verify_hidden_passwd(pswd, &len, const_cast<char *>("Password:"),
                                          const_cast<char *>("Again:"));
    return r == 0 && len == 9 && std::strcmp(pswd, "s3cret_pw") == 0 ? 0 : 10 + r;
  });
  ASSERT_TRUE(t.wait_for("Password: "));
  EXPECT_FALSE(t.echo());
  t.type("s3cret_pw\n");
  ASSERT_TRUE(t.wait_for("Again: "));
  EXPECT_FALSE(t.echo());
  t.type("s3cret_pw\n");
  EXPECT_EQ(0, t.result());
  EXPECT_TRUE(t.echo());
  EXPECT_EQ(std::string::npos, t.screen().find("s3cret"));  // never shown
}

TEST(ConsoleOnAPseudoTerminal, FailedReadRestoresEcho) {
  Terminal t;
  t.start([] {
    char *text = nullptr;
    return readhiddenstring(&text, 0, const_cast<char *>("Secret:"));
  });
  ASSERT_TRUE(t.wait_for("Secret: "));
  EXPECT_FALSE(t.echo());
  t.type("\x04");  // end of input at the prompt
  EXPECT_EQ(HIDE_STRING_READ_RET_FAILURE, t.result());
  EXPECT_TRUE(t.echo());
}

TEST(ConsoleOnAPseudoTerminal, MismatchAndTooLongRestoreEcho) {
  const struct {
    const char *what;
    std::string first, second;
    int code;
  } cases[] = {
      {"confirmation one longer", "abcdefg\n", "abcdefgh\n", HIDE_PSWD_READ_RET_PSWD_MISMATCH},
      {"33 characters", std::string(33, 'x') + "\n", "", HIDE_PSWD_READ_RET_MAX_LEN_ERR},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Terminal t;
    t.start([] {
      char pswd[33] = {};
      return read_and_verify_hidden_passwd(pswd, nullptr, const_cast<char *>("P:"),
                                           const_cast<char *>("Q:"));
    });
    ASSERT_TRUE(t.wait_for("P: "));
    t.type(c.first);
    if (!c.second.empty()) {
      ASSERT_TRUE(t.wait_for("Q: "));
      t.type(c.second);
    }
    EXPECT_EQ(c.code, t.result());
    EXPECT_TRUE(t.echo());
  }
}

}  // namespace
