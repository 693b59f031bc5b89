// The template builders with fuzzed arguments, every caller buffer a heap
// block exactly as long as its stated length (or count), so ASan sees a read
// one byte past. What comes back must be a well-formed template within its
// 4096-byte buffer, and the template readers and checks then run over it and
// over the raw fuzzed bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/template/attr_walk.h"
#include "qel2_attributes.h"
#include "qel2_template.h"

namespace {

constexpr Uint32 kTemplateBuffer = 4096;

// A heap block of exactly n bytes filled from the input; null when n is 0
// and the input says "no buffer".
struct Blob {
  uint8_t *p = nullptr;
  Uint32 n = 0;
  Blob(FuzzedDataProvider &in, Uint32 max_len) {
    n = in.ConsumeIntegralInRange<Uint32>(0, max_len);
    if (n == 0 && in.ConsumeBool()) return;
    p = static_cast<uint8_t *>(malloc(n ? n : 1));
    std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(n);
    memset(p, 0, n);
    if (!bytes.empty()) memcpy(p, bytes.data(), bytes.size());
  }
  ~Blob() { free(p); }
  Blob(const Blob &) = delete;
  Blob &operator=(const Blob &) = delete;
};

template <class T>
struct Array {
  T *p = nullptr;
  Uint8 n = 0;
  explicit Array(FuzzedDataProvider &in) {
    n = in.ConsumeIntegral<Uint8>();
    p = static_cast<T *>(malloc(n ? n * sizeof(T) : 1));
    for (Uint8 i = 0; i < n; ++i) p[i] = in.ConsumeIntegral<T>();
  }
  ~Array() { free(p); }
  Array(const Array &) = delete;
  Array &operator=(const Array &) = delete;
};

const Uint8 kModes[] = {TEMPLATE_MODE_CREATE, TEMPLATE_MODE_KEY_GEN, TEMPLATE_MODE_SET_ATTRIBUTE,
                        TEMPLATE_MODE_DERIVE, TEMPLATE_MODE_UNWRAP,  TEMPLATE_MODE_FIND};
const Uint32 kClasses[] = {OBJ_CLASS_PUBLIC_KEY, OBJ_CLASS_PRIVATE_KEY, OBJ_CLASS_SECRET_KEY,
                           0xFFFFFFFFu, 7};
const Uint32 kTypes[] = {
    KEY_TYPE_RSA, KEY_TYPE_AES, KEY_TYPE_EC, KEY_TYPE_DES3, KEY_TYPE_GENERIC_SECRET, 0xFFFFFFFFu};

// A block of exactly bits / 8 bytes (1 when that is 0).
Uint8 *bits_block(Uint32 bits, uint8_t fill) {
  const size_t n = bits / 8 ? bits / 8 : 1;
  Uint8 *p = static_cast<Uint8 *>(malloc(n));
  memset(p, fill, n);
  return p;
}

// A built template must walk cleanly to its stated end, within its buffer.
void check_built(Uint8 *t, Uint32 size, Uint32 count) {
  if (size > kTemplateBuffer) abort();
  qel2::tmpl::AttrWalker walk(t, size);
  qel2::tmpl::AttrView a;
  while (walk.next(&a)) {
  }
  if (walk.malformed() || walk.count() != count || walk.offset() != size) abort();
}

// The readers and checks over a template of exactly `size` heap bytes.
void read_template(Uint8 *t, Uint32 size, FuzzedDataProvider &in) {
  const Uint32 type = in.ConsumeBool() ? in.ConsumeIntegral<Uint32>() : OBJ_ATTR_LABEL;
  if (Attribute *a = get_attribute_template(t, type, size)) {
    const uint8_t *p = reinterpret_cast<const uint8_t *>(a);
    if (p < t || p + sizeof(Attribute) > t + size) abort();
  }
  Blob value(in, 64);
  UpdateAttribute(t, size, type, value.p, value.n);
  const Uint8 mode = kModes[in.ConsumeIntegralInRange<size_t>(0, sizeof kModes - 1)];
  Uint32 count = 0;
  validateTemplateFromUser2(size, t, &count, mode);
  validateTemplateFromUser(size, t, kTypes[count % (sizeof kTypes / sizeof kTypes[0])], &count,
                           mode);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // The builders and checks report on standard output.
  if (!freopen("/dev/null", "w", stdout)) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int builder = in.ConsumeIntegralInRange<int>(0, 3);
  if (builder == 3) {  // raw fuzzed bytes as a caller's template
    Blob t(in, 8192);
    if (t.p) read_template(t.p, t.n, in);
    return 0;
  }
  const Uint8 mode = in.ConsumeBool() ? in.ConsumeIntegral<Uint8>()
                                      : kModes[in.ConsumeIntegralInRange<size_t>(0, 5)];
  const Uint32 key_class = kClasses[in.ConsumeIntegralInRange<size_t>(0, 4)];
  const Uint32 key_type = kTypes[in.ConsumeIntegralInRange<size_t>(0, 5)];
  const Uint8 location = in.ConsumeIntegral<Uint8>();
  Array<Uint32> sessions(in);
  Array<Uint16> users(in);
  // 255 owners: no access attribute, in the older builder only.
  const Uint8 owners = builder == 2 && in.ConsumeBool() ? 255 : users.n;
  const Uint32 m_value = in.ConsumeIntegralInRange<Uint32>(0, 300);
  Blob id(in, 300), label(in, 300), kcv(in, 16);
  const Uint32 key_len = in.ConsumeIntegral<Uint32>();
  const Uint32 mod_bits = in.ConsumeIntegralInRange<Uint32>(0, 8 * 1100);
  const bool with_modulus = in.ConsumeBool();
  const Uint32 crt_len = in.ConsumeIntegral<Uint32>();
  const Uint32 pub_exp = in.ConsumeIntegral<Uint32>();
  const Uint32 curve = in.ConsumeIntegral<Uint32>();
  const Uint32 prime_bits = in.ConsumeIntegralInRange<Uint32>(0, 8 * 600);
  const bool with_prime = in.ConsumeBool();
  Blob base(in, 600);
  const Uint8 extractable = in.ConsumeIntegral<Uint8>();
  // Modulus and prime: exactly bits / 8 bytes each.
  Uint8 *mod_exact = with_modulus ? bits_block(mod_bits, 0xC3) : nullptr;
  Uint8 *prime_exact = with_prime ? bits_block(prime_bits, 0x3C) : nullptr;

  Uint32 tsize = 0, count = 0;
  Uint8 *t = nullptr;
  if (builder == 0) {
    Blob wrap(in, 300), unwrap(in, 300), ekcv(in, 16);
    extendedTemplateArgs ext{};
    ext.pWrapTemplate = wrap.p;
    ext.ulWrapTemplateLen = wrap.n;
    ext.pUnWrapTemplate = unwrap.p;
    ext.ulUnWrapTemplateLen = unwrap.n;
    ext.ucDerive = in.ConsumeIntegral<Uint8>();
    ext.pEKCV = ekcv.p;
    ext.ulEKCVLen = ekcv.n;
    t = SetTemplate3(0, mode, key_class, key_type, location, sessions.p, sessions.n, users.p,
                     owners, m_value, id.p, id.n, label.p, label.n, kcv.p, kcv.n, key_len, mod_bits,
                     mod_exact, crt_len, pub_exp, curve, prime_bits, prime_exact, base.n, base.p,
                     extractable, in.ConsumeBool() ? &ext : nullptr, &tsize, &count);
  } else if (builder == 1) {
    t = SetTemplate2(0, mode, key_class, key_type, location, sessions.p, sessions.n, users.p,
                     owners, m_value, id.p, id.n, label.p, label.n, key_len, mod_bits, mod_exact,
                     crt_len, pub_exp, curve, prime_bits, prime_exact, base.n, base.p, extractable,
                     &tsize, &count);
  } else {
    t = SetTemplate(0, mode, key_class, key_type, location, sessions.p, sessions.n, users.p, owners,
                    m_value, id.p, id.n, label.p, label.n, kcv.p, kcv.n, key_len, mod_bits,
                    mod_exact, crt_len, pub_exp, curve, prime_bits, prime_exact, base.n, base.p,
                    &tsize, &count);
  }
  free(mod_exact);
  free(prime_exact);
  if (!t) return 0;
  check_built(t, tsize, count);
  // The readers over the template, moved into a block of exactly its size.
  Uint8 *exact = static_cast<Uint8 *>(malloc(tsize ? tsize : 1));
  memcpy(exact, t, tsize);
  free(t);
  read_template(exact, tsize, in);
  free(exact);
  return 0;
}
