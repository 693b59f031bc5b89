// AES key wrap of bytes the host holds (opcode 227): RFC 3394 with the
// given initial value (4240, and 4242 whose padding the host added), RFC
// 5649 with its own (4241). The result follows the response record in
// output segment 1.
#include "hsm/engine/crypto.h"
#include "hsm/ops/object_common.h"
#include "hsm/ops/wrap_common.h"

namespace hsmsim::hsm::wrapop {

namespace {

constexpr uint32_t kRfc3394 = 4240;
constexpr uint32_t kRfc5649 = 4241;
constexpr uint32_t kPkcsPadThen3394 = 4242;
constexpr uint32_t kMaxData = 8192;

void aes_wrap_unwrap(HsmState &st, Call &c) {
  auto r = c.reader();
  objop::Head hd = objop::read_head(st, r);
  r.u32();  // reserved
  const uint64_t handle = r.u64();
  const uint32_t flag = r.u32();
  const uint32_t len = r.u32();
  const uint64_t iv_value = r.u64();
  auto data = r.bytes(len);
  if (!hd.code && (!r.ok() || len == 0 || len > kMaxData)) hd.code = obj::rc::kInvalidInput;
  if (hd.code) return c.fail(hd.code);
  const uint32_t mech = hd.h.flags;
  if (mech != kRfc3394 && mech != kRfc5649 && mech != kPkcsPadThen3394)
    return c.fail(obj::rc::kInvalidCryptoMechanism);
  if (flag > 1) return c.fail(rc::kInvalidWrapFlag);
  const bool wrap = flag == 1;
  engine::Key key;
  if (uint32_t code = wrapping_key(st, hd.actor, handle, wrap,
                                   wrap ? obj::attr::kEncrypt : obj::attr::kDecrypt, true, key))
    return c.fail(code);
  const char *name = engine::aes_name(key.bytes().size(), mech == kRfc5649 ? "wrap-pad" : "wrap");
  if (!name)
    return c.fail(wrap ? rc::kWrappingKeyTypeInconsistent : rc::kUnwrappingKeyTypeInconsistent);
  // RFC 3394 takes the given initial value as it stands (zero included);
  // RFC 5649 its own, with the length indicator.
  uint8_t iv[8];
  for (int i = 0; i < 8; ++i) iv[i] = static_cast<uint8_t>(iv_value >> (56 - 8 * i));
  const engine::In iv_in = mech == kRfc5649 ? engine::In{} : engine::In{iv, sizeof iv};
  if (mech == kRfc5649 && iv_value != 0) return c.fail(obj::rc::kInvalidInput);
  // RFC 3394 wraps whole blocks of at least two.
  if (mech != kRfc5649 && (len % 8 || len < 16)) return c.fail(obj::rc::kInvalidInput);
  engine::Bytes out;
  if (uint32_t code = engine::cipher(name, key.bytes(), iv_in, wrap, false, data, out))
    return c.fail(wrap ? obj::rc::kInvalidInput : unwrap_code(code));
  const uint32_t n = static_cast<uint32_t>(out.size());
  if (c.out.count() < 2 || out.size() > c.out.capacity(1)) {
    explicit_bzero(out.data(), out.size());
    return c.respond(std_response(obj::rc::kResultSize, 0, n, n));
  }
  c.out.segment(1).assign(out.begin(), out.end());
  explicit_bzero(out.data(), out.size());
  c.respond(std_response(0, 0, n, n));
}

}  // namespace

}  // namespace hsmsim::hsm::wrapop

namespace hsmsim::hsm {

void add_wrap_host_buffer_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kNistAesWrapUnwrap2, wrapop::aes_wrap_unwrap);
}

}  // namespace hsmsim::hsm
