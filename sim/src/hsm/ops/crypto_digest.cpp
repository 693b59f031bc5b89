// Random bytes, digests (one-shot and three steps over a context) and HMAC.
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include "hsm/objects/object.h"
#include "hsm/ops/crypto_engine.h"
#include "hsm/ops/table.h"
#include "hsm/state/hsm_state.h"
#include "hsm/state/random.h"

namespace hsmsim::hsm {

namespace {

using namespace crypto;

// Digest of the data segments with the hash type's algorithm.
bool digest(RawCall &rc, uint16_t type, std::span<const std::span<const uint8_t>> parts,
            std::vector<uint8_t> &out) {
  const EVP_MD *md = md_of(type);
  if (!md) return rc.fail(ec::kBadAuthType);
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  unsigned n = 0;
  out.resize(EVP_MAX_MD_SIZE);
  bool ok = ctx && EVP_DigestInit_ex(ctx.get(), md, nullptr) == 1;
  for (auto p : parts) ok = ok && EVP_DigestUpdate(ctx.get(), p.data(), p.size()) == 1;
  ok = ok && EVP_DigestFinal_ex(ctx.get(), out.data(), &n) == 1;
  out.resize(n);
  return ok ? true : rc.fail(ec::kBadRecord);
}

// Types 4 to 6 send their initial value first; the rest of the inputs is data.
bool leading_iv(RawCall &rc, uint16_t type, size_t &first_data) {
  first_data = 0;
  if (type < 4 || type > 6) return true;
  if (rc.inputs() < 1) return rc.fail(ec::kBadRecord);
  if (!rc.sha2_iv(type, rc.in(0))) return false;
  first_data = 1;
  return true;
}

void random_bytes(HsmState &st, Call &c) {
  RawCall rc(st, c);
  if (!rc.session()) return;
  std::vector<uint8_t> out(c.req.param1);
  fill_random(out);
  rc.put(0, std::move(out));
}

void hash_once(HsmState &st, Call &c) {
  RawCall rc(st, c);
  size_t first = 0;
  if (!rc.session() || !leading_iv(rc, rc.p2(), first)) return;
  if (rc.inputs() != first + 1) return (void)rc.fail(ec::kBadRecord);
  std::vector<uint8_t> out;
  const std::span<const uint8_t> parts[] = {rc.in(first)};
  if (digest(rc, rc.p2(), parts, out)) rc.put(0, std::move(out));
}

HashContext *hash_context(RawCall &rc) {
  auto it = rc.state().contexts.hashes.find({rc.partition(), rc.req().ctx_ptr});
  if (it == rc.state().contexts.hashes.end() || it->second.hash_type != rc.p2())
    return rc.fail(ec::kInvalidInput), nullptr;
  return &it->second;
}

bool update(RawCall &rc, HashContext &h, size_t from) {
  for (size_t i = from; i < rc.inputs(); ++i)
    if (EVP_DigestUpdate(h.md.get(), rc.in(i).data(), rc.in(i).size()) != 1)
      return rc.fail(ec::kBadRecord);
  return true;
}

void hash_start(HsmState &st, Call &c) {
  RawCall rc(st, c);
  size_t first = 0;
  if (!rc.session() || !leading_iv(rc, rc.p2(), first)) return;
  const EVP_MD *md = md_of(rc.p2());
  if (!md) return (void)rc.fail(ec::kBadAuthType);
  if (rc.inputs() > first + 1) return (void)rc.fail(ec::kBadRecord);
  HashContext h;
  h.md.reset(EVP_MD_CTX_new());
  h.hash_type = rc.p2();
  if (!h.md || EVP_DigestInit_ex(h.md.get(), md, nullptr) != 1)
    return (void)rc.fail(ec::kBadRecord);
  if (!update(rc, h, first)) return;
  st.contexts.hashes[{rc.partition(), c.req.ctx_ptr}] = std::move(h);
}

void hash_update(HsmState &st, Call &c) {
  RawCall rc(st, c);
  if (!rc.session()) return;
  if (rc.inputs() != 1) return (void)rc.fail(ec::kBadRecord);
  if (HashContext *h = hash_context(rc)) update(rc, *h, 0);
}

void hash_finish(HsmState &st, Call &c) {
  RawCall rc(st, c);
  if (!rc.session()) return;
  if (rc.inputs() > 1) return (void)rc.fail(ec::kBadRecord);
  HashContext *h = hash_context(rc);
  if (!h || !update(rc, *h, 0)) return;
  std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
  unsigned n = 0;
  const bool ok = EVP_DigestFinal_ex(h->md.get(), out.data(), &n) == 1;
  st.contexts.hashes.erase({rc.partition(), c.req.ctx_ptr});
  if (!ok) return (void)rc.fail(ec::kBadRecord);
  out.resize(n);
  rc.put(0, std::move(out));
}

void hmac(HsmState &st, Call &c) {
  RawCall rc(st, c);
  size_t first = 0;
  if (!rc.session() || !leading_iv(rc, rc.p2(), first)) return;
  if (rc.inputs() != first + 2) return (void)rc.fail(ec::kBadRecord);
  const EVP_MD *md = md_of(rc.p2());
  if (!md || rc.p2() == 1) return (void)rc.fail(ec::kBadAuthType);
  obj::Object *k = rc.key(rc.in(first), {obj::key_type::kGenericSecret, obj::key_type::kAes,
                                         obj::key_type::kDes3, obj::key_type::kRc4});
  if (!k) return;
  std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
  size_t n = 0;
  const auto key = k->key.bytes();
  const auto msg = rc.in(first + 1);
  if (!EVP_Q_mac(nullptr, "HMAC", nullptr, EVP_MD_get0_name(md), nullptr, key.data(), key.size(),
                 msg.data(), msg.size(), out.data(), out.size(), &n))
    return (void)rc.fail(ec::kBadRecord);
  out.resize(n);
  rc.put(0, std::move(out));
}

}  // namespace

void add_crypto_digest_ops(HandlerTable &t) {
  add_dma_pair(t, 1, 0x0101, random_bytes);
  add_dma_pair(t, 1, 0x0606, hash_once);
  add_dma_pair(t, 1, 0x0206, hash_start);
  add_dma_pair(t, 1, 0x0006, hash_update);
  add_dma_pair(t, 1, 0x0406, hash_finish);
  add_dma_pair(t, 4, 0x0607, hmac);
}

}  // namespace hsmsim::hsm
