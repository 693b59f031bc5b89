// Password checks and the bounded copy that the login methods run before
// every login.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "qel2_errors.h"
#include "qel2_openssl_util.h"

namespace {

constexpr char kLengthMessage[] = "min pswd len 7 and max pswd len 32\n";

struct Outcome {
  Uint32 status;
  std::string printed;
};

template <class Fn>
Outcome run_printing(Fn fn) {
  fflush(stdout);
  testing::internal::CaptureStdout();
  Uint32 status = fn();
  fflush(stdout);
  return {status, testing::internal::GetCapturedStdout()};
}

Uint8 *bytes(std::string &s) { return reinterpret_cast<Uint8 *>(s.data()); }

TEST(EncryptPswd, LengthLimits) {
  struct Case {
    size_t len;
    Uint32 status;
    bool message;
  };
  const Case cases[] = {
      {6, ERR_ARGUMENTS_BAD, true}, {7, 0, false}, {32, 0, false}, {33, ERR_ARGUMENTS_BAD, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.len);
    std::string pswd(c.len, 'p');
    Uint8 buf[256];
    memset(buf, 0xA5, sizeof buf);
    Uint32 len = 0xDEAD;
    Outcome o =
        run_printing([&] { return encrypt_pswd(0, bytes(pswd), Uint32(c.len), buf, &len); });
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.printed, c.message ? kLengthMessage : "");
    if (c.status == 0) {
      EXPECT_EQ(len, c.len);
      EXPECT_EQ(0, memcmp(buf, pswd.data(), c.len));
      EXPECT_EQ(buf[c.len], 0);
      EXPECT_EQ(buf[c.len + 1], 0xA5);  // nothing written past the NUL
    } else {
      EXPECT_EQ(len, 0xDEADu);  // nothing written on a refusal
      EXPECT_EQ(buf[0], 0xA5);
    }
  }
}

TEST(EncryptPswd, MissingArgumentsRefusedWithoutMessage) {
  std::string pswd = "password1";
  Uint8 buf[256] = {};
  Uint32 len = 0;
  struct Case {
    const char *what;
    Uint8 *pswd;
    Uint32 pswd_len;
    Uint8 *out;
    Uint32 *out_len;
  };
  const Case cases[] = {{"null password", nullptr, 9, buf, &len},
                        {"empty password", bytes(pswd), 0, buf, &len},
                        {"null buffer", bytes(pswd), 9, nullptr, &len},
                        {"null length", bytes(pswd), 9, buf, nullptr}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Outcome o = run_printing([&] { return encrypt_pswd(0, c.pswd, c.pswd_len, c.out, c.out_len); });
    EXPECT_EQ(o.status, Uint32(ERR_ARGUMENTS_BAD));
    EXPECT_EQ(o.printed, "");
  }
}

TEST(EncryptPswd, CopiesUpToTheGivenLengthOnly) {
  // The length, not a NUL, bounds what is read of the caller's password.
  std::string pswd = "abcdefghijXYZ";
  Uint8 buf[256];
  memset(buf, 0xA5, sizeof buf);
  Uint32 len = 0;
  ASSERT_EQ(encrypt_pswd2(7, bytes(pswd), 10, buf, &len, nullptr, 0), 0u);
  EXPECT_EQ(len, 10u);
  EXPECT_STREQ(reinterpret_cast<char *>(buf), "abcdefghij");
}

TEST(EncryptPswdInZeroize, AcceptsOnlyTheFixedText) {
  struct Case {
    const char *pswd;
    Uint32 status;
  };
  const Case cases[] = {{"quillop", 0},
                        {"quillopx", RET_USER_LOGIN_FAILURE},
                        {"Quillop", RET_USER_LOGIN_FAILURE},
                        {"quillo", ERR_ARGUMENTS_BAD}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.pswd);
    std::string pswd = c.pswd;
    Uint8 buf[256];
    memset(buf, 0xA5, sizeof buf);
    Uint32 len = 0xDEAD;
    Outcome o = run_printing(
        [&] { return encrypt_pswd_in_zeroize(0, bytes(pswd), Uint32(pswd.size()), buf, &len); });
    EXPECT_EQ(o.status, c.status);
    if (c.status == 0) {
      EXPECT_EQ(len, 7u);
      EXPECT_STREQ(reinterpret_cast<char *>(buf), "quillop");
    } else {
      EXPECT_EQ(len, 0xDEADu);
      EXPECT_EQ(buf[0], 0xA5);
    }
  }
}

TEST(Y5devStrncpy, BoundsAndPadding) {
  char dest[8];
  memset(dest, 'Z', sizeof dest);
  // srcstr_len equal to the buffer: nothing copied.
  EXPECT_EQ(y5dev_strncpy(dest, "abcdefgh", 8, 8), Uint32(ERR_INVALID_STRING_OP));
  EXPECT_EQ(std::string(dest, 8), "ZZZZZZZZ");
  // A NUL in the source ends the copy; the rest up to srcstr_len is zeroed.
  EXPECT_EQ(y5dev_strncpy(dest, "ab", 8, 5), 0u);
  EXPECT_EQ(std::string(dest, 8), std::string("ab\0\0\0\0ZZ", 8));
  EXPECT_EQ(y5dev_strncpy(dest, "abcdefgh", 8, 7), 0u);
  EXPECT_EQ(std::string(dest, 8), std::string("abcdefg\0", 8));
}

}  // namespace
