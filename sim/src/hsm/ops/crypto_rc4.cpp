// RC4 with its state in an HSM context. OpenSSL keeps RC4 in its legacy
// provider, so the stand-in runs the cipher itself: the key schedule when a
// key object is loaded, the key stream for each request, the advanced state
// stored back when the request asks for it.
#include "hsm/codes.h"
#include "hsm/objects/attributes.h"
#include "hsm/ops/crypto_engine.h"
#include "hsm/ops/table.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm {

namespace {

using namespace crypto;

void schedule(Rc4State &st, std::span<const uint8_t> key) {
  for (int i = 0; i < 256; ++i) st.s[i] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + st.s[i] + key[static_cast<size_t>(i) % key.size()]);
    std::swap(st.s[i], st.s[j]);
  }
  st.i = st.j = 0;
}

void stream(Rc4State &st, std::span<const uint8_t> in, engine::Bytes &out) {
  out.resize(in.size());
  for (size_t n = 0; n < in.size(); ++n) {
    st.i = static_cast<uint8_t>(st.i + 1);
    st.j = static_cast<uint8_t>(st.j + st.s[st.i]);
    std::swap(st.s[st.i], st.s[st.j]);
    out[n] = in[n] ^ st.s[static_cast<uint8_t>(st.s[st.i] + st.s[st.j])];
  }
}

void load_key(HsmState &st, Call &c) {
  RawCall rc(st, c);
  engine::Key key;
  if (rc.inputs() != 1) return (void)rc.fail(code::kBadRecord);
  if (!rc.key(0, {obj::key_type::kRc4}, key)) return;
  if (key.bytes().empty()) return (void)rc.fail(code::kKeyTypeInconsistent);
  schedule(st.contexts.rc4[{rc.partition(), c.req.ctx_ptr}], key.bytes());
}

void run(HsmState &st, Call &c) {
  RawCall rc(st, c);
  if (!rc.session()) return;
  if (rc.inputs() != 1) return (void)rc.fail(code::kBadRecord);
  auto it = st.contexts.rc4.find({rc.partition(), c.req.ctx_ptr});
  if (it == st.contexts.rc4.end()) return (void)rc.fail(code::kInvalidInput);
  const bool update = minor_of(c.req.opcode) == 0x20;
  Rc4State scratch = it->second;
  Rc4State &state = update ? it->second : scratch;
  engine::Bytes out;
  stream(state, rc.in(0), out);
  rc.put(0, out);
}

}  // namespace

void add_crypto_rc4_ops(HandlerTable &t) {
  t.add(kCryptoKeyCommand, raw_opcode(major::kRandom, 9), load_key);
  t.add(kCryptoCommand, raw_opcode(major::kCipher, 0), run);
  t.add(kCryptoCommand, raw_opcode(major::kCipher, 0x20), run);
}

}  // namespace hsmsim::hsm
