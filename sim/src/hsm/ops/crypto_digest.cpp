// Random bytes, digests (one-shot and in three steps over a context) and HMAC.
#include "hsm/codes.h"
#include "hsm/engine/secure.h"
#include "hsm/objects/attributes.h"
#include "hsm/ops/crypto_engine.h"
#include "hsm/ops/table.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm {

namespace {

using namespace crypto;

// Types 4 to 6 send their initial value first; `first` is the first data segment.
bool leading_iv(RawCall &rc, uint32_t type, size_t &first) {
  first = 0;
  if (type < 4 || type > 6) return true;
  if (rc.inputs() < 1) return rc.fail(code::kBadRecord);
  first = 1;
  return rc.sha2_iv(type, rc.in(0));
}

const char *md_of(RawCall &rc, uint32_t type) {
  const char *md = engine::digest_name(type);
  if (!md) rc.fail(code::kBadAuthType);
  return md;
}

void random_bytes(HsmState &st, Call &c) {
  RawCall rc(st, c);
  if (!rc.session()) return;
  engine::Bytes out(c.req.param1);
  engine::fill_random(out);
  rc.put(0, out);
}

void hash_once(HsmState &st, Call &c) {
  RawCall rc(st, c);
  size_t first = 0;
  if (!rc.session() || !leading_iv(rc, rc.p2(), first)) return;
  if (rc.inputs() != first + 1) return (void)rc.fail(code::kBadRecord);
  const char *md = md_of(rc, rc.p2());
  engine::Bytes out;
  if (md && rc.ok(engine::digest(md, rc.in(first), out))) rc.put(0, out);
}

HashContext *context_of(RawCall &rc) {
  auto &all = rc.state().contexts.hashes;
  auto it = all.find({rc.partition(), rc.req().ctx_ptr});
  if (it == all.end() || it->second.hash_type != rc.p2())
    return rc.fail(code::kInvalidInput), nullptr;
  return &it->second;
}

bool feed(RawCall &rc, HashContext &h, size_t from) {
  for (size_t i = from; i < rc.inputs(); ++i)
    if (!h.digest->update(rc.in(i))) return rc.fail(code::kBadRecord);
  return true;
}

void hash_start(HsmState &st, Call &c) {
  RawCall rc(st, c);
  size_t first = 0;
  if (!rc.session() || !leading_iv(rc, rc.p2(), first)) return;
  if (rc.inputs() > first + 1) return (void)rc.fail(code::kBadRecord);
  const char *md = md_of(rc, rc.p2());
  if (!md) return;
  HashContext h{std::make_unique<engine::Digest>(md), rc.p2()};
  if (!h.digest->ok()) return (void)rc.fail(code::kUnsupportedOpcode);
  if (feed(rc, h, first)) st.contexts.hashes[{rc.partition(), c.req.ctx_ptr}] = std::move(h);
}

void hash_update(HsmState &st, Call &c) {
  RawCall rc(st, c);
  if (!rc.session()) return;
  if (rc.inputs() != 1) return (void)rc.fail(code::kBadRecord);
  if (HashContext *h = context_of(rc)) feed(rc, *h, 0);
}

void hash_finish(HsmState &st, Call &c) {
  RawCall rc(st, c);
  if (!rc.session()) return;
  if (rc.inputs() > 1) return (void)rc.fail(code::kBadRecord);
  HashContext *h = context_of(rc);
  if (!h || !feed(rc, *h, 0)) return;
  engine::Bytes out;
  const uint32_t r = h->digest->finish(out);
  st.contexts.hashes.erase({rc.partition(), c.req.ctx_ptr});
  if (rc.ok(r)) rc.put(0, out);
}

void hmac(HsmState &st, Call &c) {
  RawCall rc(st, c);
  size_t first = 0;
  if (!rc.session() || !leading_iv(rc, rc.p2(), first)) return;
  if (rc.inputs() != first + 2) return (void)rc.fail(code::kBadRecord);
  const char *md = rc.p2() == 1 ? nullptr : md_of(rc, rc.p2());
  if (!md) return (void)rc.fail(code::kBadAuthType);
  engine::Key key;
  using namespace obj::key_type;
  if (!rc.key(first, {kGenericSecret, kAes, kDes3, kRc4}, key)) return;
  engine::Bytes out;
  if (rc.ok(engine::hmac(md, key.bytes(), rc.in(first + 1), out))) rc.put(0, out);
}

}  // namespace

void add_crypto_digest_ops(HandlerTable &t) {
  t.add(kCryptoCommand, raw_opcode(major::kRandom, 1), random_bytes);
  t.add(kCryptoCommand, raw_opcode(major::kHash, 6), hash_once);
  t.add(kCryptoCommand, raw_opcode(major::kHash, 2), hash_start);
  t.add(kCryptoCommand, raw_opcode(major::kHash, 0), hash_update);
  t.add(kCryptoCommand, raw_opcode(major::kHash, 4), hash_finish);
  t.add(kCryptoKeyCommand, raw_opcode(major::kHmac, 6), hmac);
}

}  // namespace hsmsim::hsm
