// Util natives for key material the Java provider builds its own key objects
// from: RSA private key components, EC domain parameters, the point check
// and the public point of an EC key held on the HSM.
//
// Arrays the natives only read are released with kDiscard whatever happens:
// copying them back would overwrite what Java may have changed meanwhile.
#define OPENSSL_API_COMPAT 30000
#define OPENSSL_NO_DEPRECATED
#include <openssl/bn.h>
#include <openssl/ec.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <vector>

#include "com_ostrel_qel2_Util.h"
#include "curve_data.h"
#include "jniutils.h"
#include "qel2_crypto.h"
#include "qel2_errors.h"
#include "qel2_openssl_util.h"

namespace jce {
namespace {

// Util.getRSAPrivateKeyComponents: the fixed-width component block of a
// PKCS#8 RSA key. Element 0 of components_len_out is the capacity on entry.
class get_rsa_private_key_components {
 public:
  get_rsa_private_key_components(JNIEnv *env, const jbyteArray &encoded_key,
                                 const jbyteArray &components_out,
                                 const jintArray &components_len_out, const jintArray &mod_size_out)
      : encoded_key_ptr(env, encoded_key, kDiscard),
        components_out_ptr(env, components_out, flag),
        components_len_out_ptr(env, components_len_out, flag),
        mod_size_out_ptr(env, mod_size_out, flag) {}

  jint call() {
    if (!encoded_key_ptr.pin() || encoded_key_ptr.length() == 0) return kUnusableArgument;
    if (!components_out_ptr.pin()) return kUnusableArgument;
    if (!components_len_out_ptr.holds(1) || !components_len_out_ptr.pin()) return kUnusableArgument;
    if (!mod_size_out_ptr.holds(1)) return kUnusableArgument;
    // The helper writes up to the capacity: it must not claim more than the array has.
    const jint capacity = components_len_out_ptr.get()[0];
    if (capacity < 0 || capacity > components_out_ptr.length()) return kUnusableArgument;

    Uint32 length = static_cast<Uint32>(capacity);
    Uint32 mod_length = 0;
    const Uint32 r = getRawKeyFromRsaPkcs8(reinterpret_cast<Uint8 *>(encoded_key_ptr.get()),
                                           static_cast<Uint32>(encoded_key_ptr.length()),
                                           reinterpret_cast<Uint8 *>(components_out_ptr.get()),
                                           &length, &mod_length);
    if (r != 0 && r != ERR_BUFFER_TOO_SMALL) return static_cast<jint>(r);
    components_len_out_ptr.get()[0] = static_cast<jint>(length);
    if (!mod_size_out_ptr.pin()) return kUnusableArgument;
    mod_size_out_ptr.get()[0] = r == 0 ? static_cast<jint>(mod_length) : 0;
    flag = kCopyBack;
    return static_cast<jint>(r);
  }

 private:
  int flag = kDiscard;
  byte_array_pin encoded_key_ptr;
  byte_array_pin components_out_ptr;
  int_array_pin components_len_out_ptr;
  int_array_pin mod_size_out_ptr;
};

// Util.getECKeyDomainParameters: P-256, P-384 and secp256k1 from the table.
class get_ec_key_domain_parameters {
 public:
  get_ec_key_domain_parameters(JNIEnv *env, const jint &curveId, const jbyteArray &seed,
                               const jbyteArray &p, const jbyteArray &gx, const jbyteArray &gy,
                               const jbyteArray &a, const jbyteArray &b, const jbyteArray &order,
                               const jintArray &h)
      : curveId(curveId),
        seed_ptr(env, seed, flag),
        p_ptr(env, p, flag),
        gx_ptr(env, gx, flag),
        gy_ptr(env, gy, flag),
        a_ptr(env, a, flag),
        b_ptr(env, b, flag),
        order_ptr(env, order, flag),
        h_ptr(env, h, flag) {}

  jint call() {
    if (curveId != P256 && curveId != P384 && curveId != Secp256k1) return kUnusableArgument;
    const ec_curve &c = curve[curveId];
    const size_t plen = curve_prime_length(curveId);
    struct Field {
      byte_array_pin &out;
      const Uint8 *value;
      size_t length;
    };
    Field fields[] = {{seed_ptr, c.seed, curve_seed_length(curveId)},
                      {p_ptr, c.p, plen},
                      {gx_ptr, c.x, plen},
                      {gy_ptr, c.y, plen},
                      {a_ptr, c.a, plen},
                      {b_ptr, c.b, plen},
                      {order_ptr, c.order, plen}};
    for (Field &f : fields)
      if (!f.out.pin() || f.out.length() == 0) return kUnusableArgument;
    if (!h_ptr.holds(1) || !h_ptr.pin()) return kUnusableArgument;
    for (Field &f : fields)
      memcpy(f.out.get(), f.value, std::min(static_cast<size_t>(f.out.length()), f.length));
    h_ptr.get()[0] = 1;
    flag = kCopyBack;
    return 0;
  }

 private:
  int flag = kDiscard;
  const jint &curveId;
  byte_array_pin seed_ptr;
  byte_array_pin p_ptr;
  byte_array_pin gx_ptr;
  byte_array_pin gy_ptr;
  byte_array_pin a_ptr;
  byte_array_pin b_ptr;
  byte_array_pin order_ptr;
  int_array_pin h_ptr;
};

struct GroupFree {
  void operator()(EC_GROUP *g) const { EC_GROUP_free(g); }
};
struct PointFree {
  void operator()(EC_POINT *p) const { EC_POINT_clear_free(p); }
};

// Fields above this many bytes are refused (no curve comes near).
constexpr size_t kMaxFieldBytes = 512;

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A coordinate of at most 2 * width hex digits, right-aligned into width
// bytes (missing leading digits are zeros). False for anything else.
bool decode_coordinate(const char *hex, size_t width, Uint8 *out) {
  const size_t digits = strlen(hex);
  if (digits > 2 * width) return false;
  memset(out, 0, width);
  // Digit i from the right lands in byte width - 1 - i / 2.
  for (size_t i = 0; i < digits; ++i) {
    const int v = hex_value(hex[digits - 1 - i]);
    if (v < 0) return false;
    out[width - 1 - i / 2] |= static_cast<Uint8>(i % 2 ? v << 4 : v);
  }
  return true;
}

// Util.isPointOnCurve: (x, y) in hex as a point of the OpenSSL curve nid.
class is_point_on_curve {
 public:
  is_point_on_curve(JNIEnv *env, const jint &nid, const jstring &x, const jstring &y)
      : nid(nid), x_ptr(env, x), y_ptr(env, y) {}

  bool call() {
    if (!x_ptr.pin() || !y_ptr.pin()) return false;
    std::unique_ptr<EC_GROUP, GroupFree> group(EC_GROUP_new_by_curve_name(nid));
    if (!group) return false;
    const size_t width = (static_cast<size_t>(EC_GROUP_get_degree(group.get())) + 7) / 8;
    if (width == 0 || width > kMaxFieldBytes) return false;
    // The uncompressed encoding 04 || X || Y; decoding it checks the curve equation.
    std::vector<Uint8> encoded(1 + 2 * width);
    encoded[0] = POINT_CONVERSION_UNCOMPRESSED;
    if (!decode_coordinate(x_ptr.get(), width, &encoded[1]) ||
        !decode_coordinate(y_ptr.get(), width, &encoded[1 + width]))
      return false;
    std::unique_ptr<EC_POINT, PointFree> point(EC_POINT_new(group.get()));
    if (!point) return false;
    return EC_POINT_oct2point(group.get(), point.get(), encoded.data(), encoded.size(), nullptr) ==
               1 &&
           EC_POINT_is_on_curve(group.get(), point.get(), nullptr) == 1;
  }

 private:
  const jint &nid;
  java_string_pin x_ptr;
  java_string_pin y_ptr;
};

// Util.getECPublicPoint: G times the private key held on the HSM.
class get_ec_public_point {
 public:
  get_ec_public_point(JNIEnv *env, const jint &session_handle, const jlong &key_handle,
                      const jint &curveId, const jbyteArray &x_out, const jbyteArray &y_out)
      : session_handle(session_handle),
        key_handle(key_handle),
        curveId(curveId),
        x_out_ptr(env, x_out, flag),
        y_out_ptr(env, y_out, flag) {}

  jint call() {
    if (!x_out_ptr.pin() || !y_out_ptr.pin()) return kUnusableArgument;
    const size_t plen = curve_prime_length(curveId);
    if (plen == 0) return kUnusableArgument;
    if (!x_out_ptr.holds(plen) || !y_out_ptr.holds(plen)) return kUnusableArgument;
    const ec_curve &c = curve[curveId];
    const Uint32 r = Qel2PointMulWithScalarOnHSM(
        static_cast<Uint32>(session_handle), OSTREL_BLOCKING, static_cast<CurveId>(curveId),
        const_cast<Uint8 *>(c.p), static_cast<Uint64>(key_handle), const_cast<Uint8 *>(c.x),
        const_cast<Uint8 *>(c.y), reinterpret_cast<Uint8 *>(x_out_ptr.get()),
        reinterpret_cast<Uint8 *>(y_out_ptr.get()), nullptr);
    if (r == 0) flag = kCopyBack;
    return static_cast<jint>(r);
  }

 private:
  int flag = kDiscard;
  const jint &session_handle;
  const jlong &key_handle;
  const jint &curveId;
  byte_array_pin x_out_ptr;
  byte_array_pin y_out_ptr;
};

}  // namespace
}  // namespace jce

extern "C" {

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_getRSAPrivateKeyComponents(
    JNIEnv *env, jclass, jbyteArray encoded_key, jbyteArray components_out,
    jintArray components_len_out, jintArray mod_size_out) {
  return jce::guarded_call([&] {
    jce::get_rsa_private_key_components cmd(env, encoded_key, components_out, components_len_out,
                                            mod_size_out);
    return cmd.call();
  });
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_getECKeyDomainParameters(
    JNIEnv *env, jclass, jint curveId, jbyteArray seed, jbyteArray p, jbyteArray gx, jbyteArray gy,
    jbyteArray a, jbyteArray b, jbyteArray order, jintArray h) {
  return jce::guarded_call([&] {
    jce::get_ec_key_domain_parameters cmd(env, curveId, seed, p, gx, gy, a, b, order, h);
    return cmd.call();
  });
}

JNIEXPORT jboolean JNICALL Java_com_ostrel_qel2_Util_isPointOnCurve(JNIEnv *env, jclass, jint nid,
                                                                    jstring x, jstring y) {
  const jint on_curve = jce::guarded_call([&] {
    jce::is_point_on_curve cmd(env, nid, x, y);
    return cmd.call() ? jint{1} : jint{0};
  });
  return on_curve == 1 ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jint JNICALL Java_com_ostrel_qel2_Util_getECPublicPoint(JNIEnv *env, jclass,
                                                                  jint session_handle,
                                                                  jlong key_handle, jint curveId,
                                                                  jbyteArray x_out,
                                                                  jbyteArray y_out) {
  return jce::guarded_call([&] {
    jce::get_ec_public_point cmd(env, session_handle, key_handle, curveId, x_out, y_out);
    return cmd.call();
  });
}

}  // extern "C"
