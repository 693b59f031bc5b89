// The bridge's secret string pin against a stand-in JNI function table: what
// it asks the JVM for, and what it refuses before copying.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "jniutils.h"

namespace {

// What the fake JVM holds and saw.
struct FakeString {
  std::string utf;
  jsize chars = 0;
  jsize reported_utf_len = 0;  // what GetStringUTFLength answers
  int region_calls = 0;
};
FakeString *g_string = nullptr;

jsize JNICALL string_length(JNIEnv *, jstring) { return g_string->chars; }
jsize JNICALL string_utf_length(JNIEnv *, jstring) { return g_string->reported_utf_len; }
void JNICALL string_utf_region(JNIEnv *, jstring, jsize, jsize, char *buf) {
  ++g_string->region_calls;
  memcpy(buf, g_string->utf.c_str(), g_string->utf.size() + 1);
}
jboolean JNICALL exception_check(JNIEnv *) { return JNI_FALSE; }

class SecretPin : public ::testing::Test {
 protected:
  void SetUp() override {
    table_.GetStringLength = string_length;
    table_.GetStringUTFLength = string_utf_length;
    table_.GetStringUTFRegion = string_utf_region;
    table_.ExceptionCheck = exception_check;
    env_.functions = &table_;
    g_string = &str_;
  }
  void TearDown() override { g_string = nullptr; }

  JNINativeInterface_ table_{};
  JNIEnv env_{};
  FakeString str_;
  jstring ref_ = reinterpret_cast<jstring>(&str_);
};

TEST_F(SecretPin, CopiesTheCharactersAndTheirLength) {
  str_.utf = "jce-secret-1";
  str_.chars = str_.reported_utf_len = static_cast<jsize>(str_.utf.size());
  jce::java_secret_pin pin(&env_, ref_);
  ASSERT_NE(pin.pin(), nullptr);
  EXPECT_STREQ(pin.get(), "jce-secret-1");
  EXPECT_EQ(pin.length(), str_.utf.size());
  EXPECT_EQ(pin.pin(), pin.get());  // pinned once
  EXPECT_EQ(str_.region_calls, 1);
}

TEST_F(SecretPin, NullReferenceAsksTheJvmNothing) {
  jstring none = nullptr;
  jce::java_secret_pin pin(&env_, none);
  EXPECT_EQ(pin.pin(), nullptr);
  EXPECT_EQ(str_.region_calls, 0);
}

TEST_F(SecretPin, StringTooLongToMeasureIsRefusedBeforeTheCopy) {
  // A JVM counts the UTF length in an int: for a billion characters of three
  // bytes each it wraps, here to 16, which must not size the copy.
  str_.utf = std::string(16, 'x');
  str_.chars = 1'000'000'000;
  str_.reported_utf_len = 16;
  jce::java_secret_pin pin(&env_, ref_);
  EXPECT_EQ(pin.pin(), nullptr);
  EXPECT_EQ(str_.region_calls, 0);
}

}  // namespace
