// Wrapping a key object's value with another key (opcode 225): AES key
// wrap (RFC 3394 with the given initial value, RFC 5649, PKCS#7 then RFC
// 3394), AES-CBC with PKCS#7 padding, AES-GCM, RSA-OAEP, RSAES-PKCS1-v1_5
// and RSA-AES. Three input segments (command, IV, additional data) make the
// extended form; AES-GCM then answers the IV used and the tag in output
// segments 1 and 2 before the wrapped key.
#include <algorithm>
#include <array>

#include "hsm/engine/crypto.h"
#include "hsm/engine/secure.h"
#include "hsm/ops/object_common.h"
#include "hsm/ops/wrap_common.h"

namespace hsmsim::hsm::wrapop {

namespace {

constexpr uint32_t kIsPkcsPad = 0x2000;

void answer(Call &c, uint32_t code, uint32_t key_len) {
  c.respond(objop::record(code, key_len, key_len, std::array<uint32_t, 1>{key_len}));
}

void wrap_key(HsmState &st, Call &c) {
  auto r = c.reader();
  objop::Head hd = objop::read_head(st, r);
  const uint32_t mech = r.u32();
  const uint64_t wrapping = r.u64();
  const uint64_t target = r.u64();
  if (!hd.code && !r.ok()) hd.code = obj::rc::kInvalidInput;
  if (hd.code) return answer(c, hd.code, 0);
  // The record is input segment 0 alone; the IV and additional data follow.
  const bool extended = c.input_count() >= 3;
  const engine::In iv = c.input_count() >= 2 ? c.input(1) : engine::In{};
  const engine::In aad = extended ? c.input(2) : engine::In{};

  // The fixed wrapping key never leaves the HSM.
  if ((target & obj::kHandleMask) == kFixedWrappingKey)
    return answer(c, obj::rc::kKeyUnextractable, 0);
  obj::Object *o = nullptr;
  if (uint32_t code = obj::object_for(st, hd.actor, target, obj::Right::Use, o))
    return answer(c, code, 0);
  if (!o->flag(obj::attr::kExtractable)) return answer(c, obj::rc::kKeyUnextractable, 0);
  if (o->key.empty()) return answer(c, obj::rc::kKeyTypeInconsistent, 0);
  const engine::In value = o->key.bytes();

  const bool aes_mech = mech != 9 && mech != 4180;
  engine::Key key;
  if (uint32_t code = wrapping_key(st, hd.actor, wrapping, true, obj::attr::kWrap, aes_mech, key))
    return answer(c, code, 0);
  if (!aes_mech && key.kind() != engine::Kind::Rsa)
    return answer(c, rc::kWrappingKeyTypeInconsistent, 0);

  const uint32_t hash = hd.h.common_flags & 0xFF;
  engine::RsaPadding oaep{engine::kPadOaep};
  oaep.md = engine::digest_name(hash) ? engine::digest_name(hash) : "SHA1";

  engine::Bytes out, gcm_iv, tag;
  uint32_t code = 0;
  const size_t klen = key.bytes().size();
  switch (mech) {
    case 4240:
    case 4242: {
      if (iv.size() != 8) return answer(c, obj::rc::kInvalidInput, 0);
      engine::Bytes data(value.begin(), value.end());
      if (mech == 4242) data.insert(data.end(), 8 - data.size() % 8, uint8_t(8 - data.size() % 8));
      if (data.size() % 8 || data.size() < 16)
        code = obj::rc::kKeySizeRange;
      else
        code =
            engine::cipher(engine::aes_name(klen, "wrap"), key.bytes(), iv, true, false, data, out);
      explicit_bzero(data.data(), data.size());
      break;
    }
    case 4241:
      if (std::any_of(iv.begin(), iv.end(), [](uint8_t b) { return b != 0; }))
        return answer(c, obj::rc::kInvalidInput, 0);
      code = engine::cipher(engine::aes_name(klen, "wrap-pad"), key.bytes(), {}, true, false, value,
                            out);
      break;
    case 4229:
      if (iv.size() != 16) return answer(c, obj::rc::kInvalidInput, 0);
      code = engine::cipher(engine::aes_name(klen, "CBC"), key.bytes(), iv, true, true, value, out);
      break;
    case 4231: {
      // The IV is the first 12 bytes of its field; a zero IV lets the HSM choose.
      if (!extended || iv.size() < 12 || c.out.count() < 4)
        return answer(c, obj::rc::kInvalidInput, 0);
      gcm_iv.assign(iv.begin(), iv.begin() + 12);
      if (std::all_of(gcm_iv.begin(), gcm_iv.end(), [](uint8_t b) { return b == 0; }))
        engine::fill_random(gcm_iv);
      const size_t tag_len = c.out.capacity(2);
      if (tag_len < 4 || tag_len > 16) return answer(c, obj::rc::kInvalidInput, 0);
      code = engine::gcm_encrypt(engine::aes_name(klen, "GCM"), key.bytes(), gcm_iv, aad, value,
                                 tag_len, out, tag);
      break;
    }
    case 9: {
      engine::RsaPadding pad = oaep;
      if (hd.h.common_flags & kIsPkcsPad) pad = engine::RsaPadding{engine::kPadPkcs1};
      code = engine::rsa_encrypt(key, pad, value, out);
      break;
    }
    case 4180: {
      // A fresh AES-256 key sealed with OAEP, then the value wrapped with it.
      engine::Bytes eph(32), sealed, wrapped;
      engine::fill_random(eph);
      code = engine::rsa_encrypt(key, oaep, eph, sealed);
      if (!code) code = engine::cipher("id-aes256-wrap-pad", eph, {}, true, false, value, wrapped);
      explicit_bzero(eph.data(), eph.size());
      out = std::move(sealed);
      out.insert(out.end(), wrapped.begin(), wrapped.end());
      break;
    }
    default:
      return answer(c, obj::rc::kInvalidCryptoMechanism, 0);
  }
  if (code) return answer(c, code == code::kBadLength ? obj::rc::kKeySizeRange : code, 0);

  const size_t data_seg = mech == 4231 ? 3 : 1;
  const uint32_t n = static_cast<uint32_t>(out.size());
  // Without a segment for the key: its length alone (a size query).
  if (c.out.count() <= data_seg) return answer(c, 0, n);
  if (out.size() > c.out.capacity(data_seg)) return answer(c, obj::rc::kResultSize, n);
  if (mech == 4231) {
    // The IV field as sent, its first 12 bytes the IV used.
    engine::Bytes field(c.out.capacity(1), 0);
    std::copy_n(iv.begin(), std::min(field.size(), iv.size()), field.begin());
    std::copy_n(gcm_iv.begin(), std::min(field.size(), gcm_iv.size()), field.begin());
    c.out.segment(1) = std::move(field);
    c.out.segment(2) = tag;
  }
  c.out.segment(data_seg) = std::move(out);
  answer(c, 0, n);
}

}  // namespace

}  // namespace hsmsim::hsm::wrapop

namespace hsmsim::hsm {

void add_wrap_key_ops(HandlerTable &t) { t.add(kMgmtCommand, op::kWrapKey2, wrapop::wrap_key); }

}  // namespace hsmsim::hsm
