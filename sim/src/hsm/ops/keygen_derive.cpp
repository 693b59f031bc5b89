// SP 800-108 counter-mode derivation of a secret key from a base key, the
// PRF chosen by the request's hash type (HMAC with SHA-1 or SHA-2, or
// AES-CMAC), the counter and length fields as the parameter block states.
#include <string.h>

#include "hsm/engine/crypto.h"
#include "hsm/engine/generate.h"
#include "hsm/ops/keygen_common.h"

namespace hsmsim::hsm::keygen {

namespace {

namespace rc = obj::rc;
namespace attr = obj::attr;
namespace kt = obj::key_type;

constexpr uint32_t kAesCmac = 7;           // HashType 7
constexpr uint32_t kLabelAttribute = 1;    // DERIVED_KEY_LABEL
constexpr uint32_t kContextAttribute = 2;  // DERIVED_KEY_CONTEXT
constexpr uint32_t kDkmSumOfSegments = 2;  // L counts every PRF block made
constexpr size_t kFixedBlock = 48;

struct KdfParams {
  uint64_t counter_bits = 0;
  uint32_t dkm_method = 0;
  uint64_t dkm_bits = 0;
  std::span<const uint8_t> label, context;
};

// The parameter block: the counter's byte-order flag and width, the length
// field's method, byte-order flag and width (both flags are read as SP
// 800-108's big-endian order), then the label and context attributes.
bool read_params(std::span<const uint8_t> block, KdfParams &p) {
  wire::BeReader r(block);
  r.skip(8);
  p.counter_bits = r.u64();
  p.dkm_method = r.u32();
  r.skip(4);
  p.dkm_bits = r.u64();
  if (r.u32() != kLabelAttribute) return false;
  p.label = r.bytes(r.u32());
  if (r.u32() != kContextAttribute) return false;
  p.context = r.bytes(r.u32());
  return r.ok() && r.remaining() == 0;
}

bool width_ok(uint64_t bits, bool zero_allowed) {
  return (zero_allowed && bits == 0) || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

void put_field(std::vector<uint8_t> &out, uint64_t v, uint64_t bits) {
  for (uint64_t shift = bits; shift > 0; shift -= 8)
    out.push_back(static_cast<uint8_t>(v >> (shift - 8)));
}

// K(i) = PRF(key, [i]_r || label || context || [L]_w) for i = 1, 2, ...
uint32_t sp800_108_counter(uint32_t prf, std::span<const uint8_t> key, const KdfParams &p,
                           size_t out_len, std::vector<uint8_t> &out) {
  const char *md = prf == kAesCmac ? nullptr : engine::digest_name(prf);
  if (prf != kAesCmac && (!md || prf == 1)) return rc::kInvalidCryptoMechanism;  // no MD5
  if (!width_ok(p.counter_bits, false) || !width_ok(p.dkm_bits, true)) return rc::kInvalidInput;
  std::vector<uint8_t> block;
  out.clear();
  for (uint64_t i = 1; out.size() < out_len; ++i) {
    if (i >> p.counter_bits) return rc::kInvalidInput;  // the counter would wrap
    std::vector<uint8_t> in;
    put_field(in, i, p.counter_bits);
    in.insert(in.end(), p.label.begin(), p.label.end());
    in.insert(in.end(), p.context.begin(), p.context.end());
    if (p.dkm_bits) {
      uint64_t l = uint64_t{out_len} * 8;
      if (p.dkm_method == kDkmSumOfSegments) {
        // Every block this derivation makes; the PRF's width from its first block.
        std::vector<uint8_t> probe;
        if (uint32_t code =
                md ? engine::hmac(md, key, {}, probe) : engine::cmac_aes(key, {}, probe))
          return code;
        l = (uint64_t{out_len} + probe.size() - 1) / probe.size() * probe.size() * 8;
      }
      if (p.dkm_bits < 64 && (l >> p.dkm_bits)) return rc::kInvalidInput;
      put_field(in, l, p.dkm_bits);
    }
    if (uint32_t code = md ? engine::hmac(md, key, in, block) : engine::cmac_aes(key, in, block))
      return code;
    out.insert(out.end(), block.begin(), block.end());
  }
  explicit_bzero(block.data(), block.size());
  out.resize(out_len);
  return rc::kOk;
}

// Command (header, PRF, base key handle, block length, reserved), the
// parameter block, then the new key's template behind its Object head.
void derive_key(HsmState &st, Call &c) {
  auto r = c.reader();
  objop::Head head = objop::read_head(st, r);
  const uint32_t prf = r.u32();
  const uint64_t base_handle = r.u64();
  const uint32_t block_len = r.u32();
  r.u32();
  auto block = r.bytes(block_len);
  if (!head.code && !r.ok()) head.code = rc::kInvalidInput;
  if (head.code) return c.fail(head.code);
  KdfParams params;
  if (block_len < kFixedBlock || !read_params(block, params)) return c.fail(rc::kInvalidInput);
  obj::ParsedTemplate t;
  if (uint32_t code = read_template(r, t)) return c.fail(code);
  obj::Object *base = nullptr;
  if (uint32_t code = obj::object_for(st, head.actor, base_handle, obj::Right::Use, base))
    return c.fail(code);
  if (base->key_class() != obj::key_class::kSecret ||
      (prf == kAesCmac && base->key_type() != kt::kAes))
    return c.fail(rc::kKeyTypeInconsistent);
  if (t.number(attr::kClass) != obj::key_class::kSecret) return c.fail(rc::kTemplateInconsistent);
  auto len = t.number(attr::kValueLen);
  if (!len) return c.fail(rc::kTemplateInconsistent);
  if (*len == 0 || *len > 4096) return c.fail(rc::kKeySizeRange);
  obj::Material m;
  if (uint32_t code = sp800_108_counter(prf, base->key.bytes(), params, *len, m.key))
    return c.fail(code);
  if (t.number(attr::kKeyType) == kt::kDes3 || t.number(attr::kKeyType) == kt::kDes)
    engine::set_odd_parity(m.key);
  uint64_t handle = 0;
  if (uint32_t code = store_object(st, head.actor, t, std::move(m), handle)) return c.fail(code);
  const uint64_t handles[] = {handle};
  answer_new(st, c, false, handles);
}

}  // namespace

void add_keygen_derive_ops(HandlerTable &t) { t.add(kMgmtCommand, op::kDeriveKey, derive_key); }

}  // namespace hsmsim::hsm::keygen
