// LoginManager natives: the provider's login to an HSM partition, logout,
// the session check, a login into an existing session, and SHA-256 on the host.
#include <openssl/evp.h>

#include <cstring>

#include "com_ostrel_qel2_LoginManager.h"
#include "common/be_codec.h"
#include "jniutils.h"
#include "qel2_errors.h"
#include "qel2_openssl_util.h"
#include "qel2_records.h"
#include "qel2_sdk.h"

namespace jce {
namespace {

constexpr int kDevice = 0;
constexpr Uint32 kHsmFipsStateOff = 0xFFFFFFFFu;
constexpr Uint8 kPartitionFipsStateOff = 0xFF;
constexpr size_t kSha256Len = 32;

constexpr Uint32 kRefused = static_cast<Uint32>(kUnusableArgument);

// Checks the password, copies it into a login buffer that is wiped on every
// way out, and logs the user in as a crypto user.
Uint32 login_crypto_user(Uint32 session, const char *user, const java_secret_pin &password) {
  const size_t user_len = strlen(user);
  if (!fits_u32(user_len) || !fits_u32(password.length())) return kRefused;
  wiped_buffer<QEL2_PSWD_BUF_LEN> buf;
  Uint32 len = 0;
  if (Uint32 r =
          encrypt_pswd(session, reinterpret_cast<Uint8 *>(const_cast<char *>(password.get())),
                       static_cast<Uint32>(password.length()), buf.data, &len))
    return r;
  return Qel2LoginHSM(session, KQ_CRYPTO_USER, reinterpret_cast<const Uint8 *>(user),
                      static_cast<Uint32>(user_len), buf.data, len);
}

// LoginManager.login: start the SDK for a partition, check the FIPS states,
// open a session and log a crypto user in. The application id and session
// handle reach Java as soon as they exist, even when a later step fails.
class hsm_login {
 public:
  hsm_login(JNIEnv *env, const jstring &partition_name, const jstring &user_name,
            const jstring &password, const jintArray &appIdOut, const jintArray &sessionIdOut)
      : partition_name_ptr(env, partition_name),
        user_name_ptr(env, user_name),
        password_ptr(env, password),
        application_id(env, appIdOut, flag),
        session_id(env, sessionIdOut, flag) {}

  jint call() {
    // Both id arrays take one element each; an unusable one is refused
    // before the SDK is started.
    if (!application_id.holds(1) || !session_id.holds(1)) return kUnusableArgument;
    if (!partition_name_ptr.pin() || !fits_u32(strlen(partition_name_ptr.get())))
      return kUnusableArgument;
    const jint status = start_and_login();
    if (status != 0) {
      Qel2SDKCleanup();
      return status;
    }
    flag = kCopyBack;
    return 0;
  }

 private:
  jint start_and_login() {
    const char *partition = partition_name_ptr.get();
    Uint32 app_id = 0;
    if (Uint32 r = Qel2Initialize3(kDevice, OSTREL_DIRECT, partition, &app_id))
      return static_cast<jint>(r);
    if (!publish(application_id, app_id)) return kUnusableArgument;

    HSMInfo hsm_info;
    if (Uint32 r = Qel2GetHSMInfo(kDevice, &hsm_info)) return static_cast<jint>(r);
    if (qel2::from_be32(hsm_info.uiFipsState) == kHsmFipsStateOff) return kUnusableArgument;

    Uint32 session = 0;
    if (Uint32 r = Qel2OpenSession2(app_id, &session)) return static_cast<jint>(r);
    if (!publish(session_id, session)) return kUnusableArgument;

    PartitionInfo partition_info;
    if (Uint32 r = Qel2GetPartitionInfo(session, reinterpret_cast<const Uint8 *>(partition),
                                        static_cast<Uint32>(strlen(partition)), &partition_info))
      return static_cast<jint>(r);
    if (partition_info.FipsState == kPartitionFipsStateOff) return kUnusableArgument;

    if (!password_ptr.pin() || !user_name_ptr.pin()) return kUnusableArgument;
    return static_cast<jint>(login_crypto_user(session, user_name_ptr.get(), password_ptr));
  }

  // Writes an id into element 0 of its Java array and lets it go back to
  // Java whatever happens next.
  static bool publish(int_array_pin &out, Uint32 id) {
    jint *p = out.pin();
    if (!p) return false;
    p[0] = static_cast<jint>(id);
    if (id != 0) out.copy_back_always();
    return true;
  }

  int flag = kDiscard;  // before the pins: they read it when released
  java_string_pin partition_name_ptr;
  java_string_pin user_name_ptr;
  java_secret_pin password_ptr;
  int_array_pin application_id;
  int_array_pin session_id;
};

// LoginManager.loginWithOutInit: log a crypto user into an open session.
class login_without_initialization {
 public:
  login_without_initialization(JNIEnv *env, const jint &session_handle, const jstring &user_name,
                               const jstring &password)
      : session_handle(session_handle),
        user_name_ptr(env, user_name),
        password_ptr(env, password) {}

  jint call() {
    if (!password_ptr.pin() || !user_name_ptr.pin()) return kUnusableArgument;
    return static_cast<jint>(
        login_crypto_user(static_cast<Uint32>(session_handle), user_name_ptr.get(), password_ptr));
  }

 private:
  const jint &session_handle;
  java_string_pin user_name_ptr;
  java_secret_pin password_ptr;
};

// LoginManager.getSHA256Hash: digest of all of input into output[0..31].
class sha256 {
 public:
  sha256(JNIEnv *env, const jbyteArray &input, const jbyteArray &output)
      : input_ptr(env, input, kDiscard), output_ptr(env, output, flag) {}  // input only read

  jint call() {
    if (!input_ptr.pin() || !output_ptr.pin()) return static_cast<jint>(ERR_INVALID_INPUT);
    const jsize in_len = input_ptr.length();
    const jsize out_len = output_ptr.length();
    if (in_len == 0 || out_len == 0) return kUnusableArgument;
    if (static_cast<size_t>(out_len) < kSha256Len) return static_cast<jint>(ERR_INVALID_INPUT);
    if (EVP_Digest(input_ptr.get(), static_cast<size_t>(in_len),
                   reinterpret_cast<unsigned char *>(output_ptr.get()), nullptr, EVP_sha256(),
                   nullptr) != 1)
      return kUnusableArgument;
    flag = kCopyBack;
    return 0;
  }

 private:
  int flag = kDiscard;
  byte_array_pin input_ptr;
  byte_array_pin output_ptr;
};

}  // namespace
}  // namespace jce

extern "C" {

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_LoginManager_login(JNIEnv *env, jobject,
                                                               jstring partition_name,
                                                               jstring user_name, jstring password,
                                                               jintArray appIdOut,
                                                               jintArray sessionIdOut) {
  return jce::guarded_call([&] {
    jce::hsm_login cmd(env, partition_name, user_name, password, appIdOut, sessionIdOut);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_LoginManager_logout(JNIEnv *, jobject, jint appId,
                                                                jint sessionId) {
  return jce::guarded_call([&] {
    Uint32 status = 0;
    if (sessionId != 0) {
      status = Qel2LogoutHSM2(static_cast<Uint32>(sessionId));
      if (status == 0) status = Qel2CloseSession(static_cast<Uint32>(sessionId));
    }
    if (appId != 0) status = Qel2Shutdown2(static_cast<Uint32>(appId));
    Qel2SDKCleanup();
    return static_cast<jint>(status);
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_LoginManager_validSession(JNIEnv *, jobject,
                                                                      jint sessionId) {
  return jce::guarded_call([&] {
    SessionInfo info;
    return static_cast<jint>(Qel2GetSessionInfo(static_cast<Uint32>(sessionId), &info));
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_LoginManager_loginWithOutInit(JNIEnv *env, jobject,
                                                                          jint session_handle,
                                                                          jstring user_name,
                                                                          jstring password) {
  return jce::guarded_call([&] {
    jce::login_without_initialization cmd(env, session_handle, user_name, password);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_LoginManager_getSHA256Hash(JNIEnv *env, jobject,
                                                                       jbyteArray input,
                                                                       jbyteArray output) {
  return jce::guarded_call([&] {
    jce::sha256 cmd(env, input, output);
    return cmd.call();
  });
}

}  // extern "C"
