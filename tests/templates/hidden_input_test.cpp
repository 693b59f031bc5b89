// Console hidden input, driven through a pseudo-terminal that stands in for
// the operator's console (descriptors 0 and 1 are switched to it).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "qel2_console.h"

namespace {

// One prompt the operator waits for and the keys typed in answer.
struct Step {
  std::string prompt;
  std::string keys;
};

class Console {
 public:
  explicit Console(std::vector<Step> script) : script_(std::move(script)) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master_, 0);
    EXPECT_EQ(grantpt(master_), 0);
    EXPECT_EQ(unlockpt(master_), 0);
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    EXPECT_GE(slave_, 0);
    fflush(stdout);
    saved_in_ = dup(0);
    saved_out_ = dup(1);
    dup2(slave_, 0);
    dup2(slave_, 1);
    clearerr(stdin);
    operator_ = std::thread([this] { run(); });
  }

  // Puts the real descriptors back; returns everything the console showed.
  std::string finish() {
    fflush(stdout);
    struct termios t;
    echo_after_ = tcgetattr(slave_, &t) == 0 && (t.c_lflag & ECHO);
    dup2(saved_in_, 0);
    dup2(saved_out_, 1);
    close(saved_in_);
    close(saved_out_);
    clearerr(stdin);
    done_ = true;
    operator_.join();
    close(slave_);
    close(master_);
    return screen_;
  }

  bool echo_off_at_every_prompt() const {
    return echo_off_at_prompts_ == steps_done_ && steps_done_ > 0;
  }
  size_t prompts_answered() const { return steps_done_; }
  bool echo_after() const { return echo_after_; }

 private:
  void run() {
    size_t searched = 0;
    char buf[512];
    for (;;) {
      struct pollfd p {
        master_, POLLIN, 0
      };
      if (poll(&p, 1, 20) > 0) {
        ssize_t n = read(master_, buf, sizeof buf);
        if (n > 0) screen_.append(buf, static_cast<size_t>(n));
      } else if (done_) {
        return;
      }
      if (steps_done_ < script_.size()) {
        size_t at = screen_.find(script_[steps_done_].prompt, searched);
        if (at != std::string::npos) {
          searched = at + script_[steps_done_].prompt.size();
          struct termios t;
          if (tcgetattr(master_, &t) == 0 && !(t.c_lflag & ECHO)) ++echo_off_at_prompts_;
          const std::string &keys = script_[steps_done_].keys;
          EXPECT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
          ++steps_done_;
        }
      }
    }
  }

  std::vector<Step> script_;
  int master_ = -1, slave_ = -1, saved_in_ = -1, saved_out_ = -1;
  std::thread operator_;
  std::atomic<bool> done_{false};
  std::string screen_;
  size_t steps_done_ = 0;
  size_t echo_off_at_prompts_ = 0;
  bool echo_after_ = false;
};

const std::string kEof = "\x04";  // end of input typed at the start of a line

char kPrompt1[] = "Password:";
char kPrompt2[] = "Again:";
char kName[] = "secret";

struct PasswdRun {
  int rc;
  std::string password;
  Uint32 len;
  std::string screen;
  bool echo_off, echo_after;
};

PasswdRun read_password(std::vector<Step> script, bool confirm) {
  char buf[33];
  std::memset(buf, 'Z', sizeof buf);
  Uint32 len = 0xFFFF;
  Console c(std::move(script));
  int rc = read_and_verify_hidden_passwd(buf, &len, kPrompt1, confirm ? kPrompt2 : nullptr);
  std::string screen = c.finish();
  return {rc,
          rc == 0 ? std::string(buf) : std::string(),
          len,
          screen,
          c.echo_off_at_every_prompt(),
          c.echo_after()};
}

TEST(HiddenPassword, LengthLimit) {
  const std::string p32(32, 'p');
  PasswdRun ok = read_password({{"Password: ", p32 + "\n"}}, false);
  EXPECT_EQ(ok.rc, 0);
  EXPECT_EQ(ok.password, p32);
  EXPECT_EQ(ok.len, 32u);
  EXPECT_TRUE(ok.echo_off);
  EXPECT_TRUE(ok.echo_after);

  PasswdRun too_long = read_password({{"Password: ", p32 + "q\n"}}, false);
  EXPECT_EQ(too_long.rc, 3);
  EXPECT_EQ(too_long.len, 0u);
  EXPECT_EQ(too_long.screen.find("Failed"), std::string::npos);
  EXPECT_TRUE(too_long.echo_after);
}

TEST(HiddenPassword, ConfirmationFromSevenCharacters) {
  PasswdRun six = read_password({{"Password: ", "abcdef\n"}}, true);
  EXPECT_EQ(six.rc, 0);
  EXPECT_EQ(six.screen.find("Again:"), std::string::npos);
  EXPECT_EQ(six.len, 6u);

  PasswdRun seven = read_password({{"Password: ", "abcdefg\n"}, {"Again: ", "abcdefg\n"}}, true);
  EXPECT_EQ(seven.rc, 0);
  EXPECT_EQ(seven.len, 7u);
  EXPECT_TRUE(seven.echo_off);

  PasswdRun longer = read_password({{"Password: ", "abcdefg\n"}, {"Again: ", "abcdefgh\n"}}, true);
  EXPECT_EQ(longer.rc, 4);
  EXPECT_NE(longer.screen.find("Password Mismatch"), std::string::npos);
  EXPECT_EQ(longer.len, 0u);
}

TEST(HiddenPassword, EndOfInput) {
  PasswdRun eof = read_password({{"Password: ", kEof}}, false);
  EXPECT_EQ(eof.rc, 1);
  EXPECT_NE(eof.screen.find("Failed to read password"), std::string::npos);
  EXPECT_TRUE(eof.echo_after);

  PasswdRun eof2 = read_password({{"Password: ", "abcdefgh\n"}, {"Again: ", kEof}}, true);
  EXPECT_EQ(eof2.rc, 1);
  EXPECT_NE(eof2.screen.find("Failed to read confirm password"), std::string::npos);
  EXPECT_TRUE(eof2.echo_after);
}

TEST(HiddenPassword, InvalidInput) {
  testing::internal::CaptureStdout();
  char buf[33];
  EXPECT_EQ(read_and_verify_hidden_passwd(nullptr, nullptr, kPrompt1, nullptr), 2);
  EXPECT_EQ(read_and_verify_hidden_passwd(buf, nullptr, nullptr, nullptr), 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid inputInvalid input");
}

struct StringRun {
  int rc;
  char *text;
  Uint32 len;
  std::string screen;
};

StringRun read_string(std::vector<Step> script, bool confirm) {
  char *text = nullptr;
  Uint32 len = 0xFFFF;
  Console c(std::move(script));
  int rc =
      read_and_verify_hidden_string(&text, &len, kName, kPrompt1, confirm ? kPrompt2 : nullptr);
  std::string screen = c.finish();
  return {rc, text, len, screen};
}

TEST(HiddenString, ConfirmedText) {
  const std::string long_text(300, 's');
  StringRun r =
      read_string({{"Password: ", long_text + "\n"}, {"Again: ", long_text + "\n"}}, true);
  EXPECT_EQ(r.rc, 0);
  ASSERT_NE(r.text, nullptr);
  EXPECT_EQ(std::string(r.text), long_text);
  EXPECT_EQ(r.len, 300u);
  free(r.text);
}

TEST(HiddenString, Failures) {
  StringRun empty = read_string({{"Password: ", "\n"}}, false);
  EXPECT_EQ(empty.rc, 2);
  EXPECT_EQ(empty.text, nullptr);
  EXPECT_NE(empty.screen.find("Entered invalid secret\r\n"), std::string::npos);

  StringRun empty_again = read_string({{"Password: ", "abc\n"}, {"Again: ", "\n"}}, true);
  EXPECT_EQ(empty_again.rc, 2);
  EXPECT_EQ(empty_again.text, nullptr);
  EXPECT_NE(empty_again.screen.find("Entered invalid secret confirmation"), std::string::npos);

  StringRun shorter = read_string({{"Password: ", "abcd\n"}, {"Again: ", "abc\n"}}, true);
  EXPECT_EQ(shorter.rc, 4);
  EXPECT_EQ(shorter.text, nullptr);
  EXPECT_NE(shorter.screen.find("secret Mismatch"), std::string::npos);

  StringRun eof = read_string({{"Password: ", kEof}}, false);
  EXPECT_EQ(eof.rc, 1);
  EXPECT_NE(eof.screen.find("Failed to read secret"), std::string::npos);

  testing::internal::CaptureStdout();
  char *given = kName;
  EXPECT_EQ(read_and_verify_hidden_string(&given, nullptr, kName, kPrompt1, nullptr), 2);
  char *none = nullptr;
  EXPECT_EQ(read_and_verify_hidden_string(&none, nullptr, nullptr, kPrompt1, nullptr), 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid inputInvalid input");
}

TEST(HiddenString, CallerBufferAndHandedOverLine) {
  char small[1] = {'x'};
  char *dst = small;
  int rc;
  {
    Console c(std::vector<Step>{{"Name: ", "\n"}});
    char prompt[] = "Name:";
    rc = readhiddenstring(&dst, 0, prompt);
    c.finish();
  }
  EXPECT_EQ(rc, 3);  // length 0: even the empty line does not fit
  EXPECT_EQ(small[0], 'x');

  char *line = nullptr;
  std::string screen;
  {
    Console c(std::vector<Step>{{"Name: ", "hello\n"}});
    char prompt[] = "Name:";
    rc = readhiddenstring(&line, 0, prompt);
    screen = c.finish();
  }
  EXPECT_EQ(rc, 0);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(std::string(line), "hello");
  EXPECT_EQ(screen.find("hello"), std::string::npos);  // never echoed
  free(line);
}

TEST(HiddenString, NotATerminal) {
  fflush(stdout);
  int saved = dup(0);
  int null_fd = open("/dev/null", O_RDONLY);
  ASSERT_GE(null_fd, 0);
  dup2(null_fd, 0);
  char *line = nullptr;
  char prompt[] = "Name:";
  testing::internal::CaptureStdout();
  int rc = readhiddenstring(&line, 0, prompt);
  std::string out = testing::internal::GetCapturedStdout();
  dup2(saved, 0);
  close(saved);
  close(null_fd);
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(line, nullptr);
  EXPECT_EQ(out, "Error: Failed to get console attribute");
}

}  // namespace
