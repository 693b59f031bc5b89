// SSL contexts (KQ_MGMT_VNX_CMD 1 allocate, 2 free, 4 premaster secret),
// FIPS random numbers (KQ_MGMT_VNX_CMD 5), ECDH into a context
// (KQ_ECC_DH 51) and the EAP-FAST key operations (KQ_PAC_KEY_HS 96,
// KQ_EXPORT_SKS 97). A context belongs to the application that allocated
// it; other applications, and freed handles, get ERR_CONTEXT_HANDLE_INVALID.
#include <cstring>
#include <string_view>

#include "hsm/codes.h"
#include "hsm/engine/crypto.h"
#include "hsm/engine/secure.h"
#include "hsm/engine/values.h"
#include "hsm/ops/object_common.h"

namespace hsmsim::hsm {

namespace {

using namespace objop;
namespace rc = obj::rc;
using engine::Bytes;

constexpr uint32_t kContextAllocFailure = 0x40000106;   // ERR_CONTEXT_ALLOC_FAILURE: no room
constexpr uint32_t kContextHandleInvalid = 0x4000020C;  // ERR_CONTEXT_HANDLE_INVALID
constexpr size_t kPremasterLen = 48;
constexpr size_t kRandomLen = 48;
constexpr size_t kSeedLen = 56;
constexpr size_t kMasterLen = 48;

// The context of the request descriptor's ctx_ptr for the session's
// application; null after answering the refusal with `fail`.
template <typename Fail>
SslContext *context_of(HsmState &st, const Call &c, const Session &s, Fail fail) {
  SslContext *ctx = st.ssl_contexts.owned(c.req.ctx_ptr, s.partition, s.app_index);
  if (!ctx) fail(kContextHandleInvalid);
  return ctx;
}

void alloc_context(HsmState &st, Call &c) {
  Session *s = st.sessions.find(c.req.session_handle);
  if (!s) return c.fail(rc::kInvalidSession);
  Partition *p = st.partitions.at(s->partition);
  if (!p || st.ssl_contexts.count(s->partition) >= p->max_ssl_contexts)
    return c.fail(kContextAllocFailure);
  std::vector<uint8_t> rec = std_response(rc::kOk);
  wire::BeWriter(rec).u64(st.ssl_contexts.add(s->partition, s->app_index));
  c.respond(std::move(rec));
}

void free_context(HsmState &st, Call &c) {
  Session *s = st.sessions.find(c.req.session_handle);
  if (!s) return c.fail(rc::kInvalidSession);
  if (!context_of(st, c, *s, [&](uint32_t code) { c.fail(code); })) return;
  st.ssl_contexts.erase(c.req.ctx_ptr);
  c.ok();
}

// The secret starts with the client's version bytes (as the premaster
// secret of an RSA key exchange does), then 46 random bytes.
void generate_premaster(HsmState &st, Call &c) {
  Session *s = st.sessions.find(c.req.session_handle);
  if (!s) return c.fail(rc::kInvalidSession);
  auto r = c.reader();
  r.skip(20);
  const uint8_t major = r.u8(), minor = r.u8();
  const uint16_t len = r.u16();
  if (!r.ok() || r.remaining() != 0 || len != kPremasterLen) return c.fail(rc::kInvalidInput);
  SslContext *ctx = context_of(st, c, *s, [&](uint32_t code) { c.fail(code); });
  if (!ctx) return;
  if (room(c, 1) < kPremasterLen) return c.fail(rc::kResultSize);
  Bytes secret(kPremasterLen);
  secret[0] = major;
  secret[1] = minor;
  engine::fill_random(std::span<uint8_t>(secret).subspan(2));
  c.out.segment(1) = secret;
  ctx->secret = Secret(std::move(secret));
  ctx->master.reset();
  c.ok();
}

// No response record: a refusal is the request status.
void fips_random(HsmState &st, Call &c) {
  if (!st.sessions.find(c.req.session_handle)) return c.refuse(rc::kInvalidSession);
  if (c.out.count() != 1) return c.refuse(rc::kInvalidInput);
  Bytes out(c.out.capacity(0));
  engine::fill_random(out);
  c.out.segment(0) = std::move(out);
}

// The command's session and its context; null after answering a refusal.
SslContext *command_context(HsmState &st, Call &c, const Head &hd) {
  if (hd.code) return c.fail(hd.code), nullptr;
  Session *s = st.sessions.find(hd.h.session);
  if (!s) return c.fail(rc::kInvalidSession), nullptr;
  return context_of(st, c, *s, [&](uint32_t code) { c.fail(code); });
}

// The curve number is a CurveId (0 P-192 ... 5 secp256k1) and must be the
// private key's curve; the peer's key an uncompressed point on it.
void ecdh(HsmState &st, Call &c) {
  auto r = c.reader();
  Head hd = read_head(st, r);
  const uint32_t curve = r.u32();
  const uint32_t pub_len = r.u32();
  const uint32_t handle = r.u32();
  auto pub = r.bytes(pub_len);
  if (!r.ok() || r.remaining() != 0) return c.fail(rc::kInvalidInput);
  SslContext *ctx = command_context(st, c, hd);
  if (!ctx) return;
  obj::Object *o = nullptr;
  if (uint32_t code = obj::object_for(st, hd.actor, handle, obj::Right::Use, o))
    return c.fail(code);
  engine::Key mine, peer;
  if (uint32_t code = o->key_material(mine)) return c.fail(code);
  if (mine.kind() != engine::Kind::Ec || !mine.has_private())
    return c.fail(code::kKeyTypeInconsistent);
  const int nid = engine::curve_nid(curve);
  if (nid == 0 || nid != engine::ec_curve(mine)) return c.fail(rc::kInvalidInput);
  if (engine::ec_public_from_point(nid, pub, peer)) return c.fail(rc::kInvalidInput);
  // The agreement with the request's own copy of the key runs without the
  // state lock; the context is looked up again afterwards.
  Bytes secret;
  if (c.unlocked([&] { return engine::derive(mine, peer, secret); }))
    return c.fail(rc::kInvalidInput);
  ctx = command_context(st, c, hd);
  if (!ctx) return engine::wipe(secret);
  ctx->secret = Secret(std::move(secret));
  ctx->master.reset();
  c.ok();
}

// P_SHA256 of TLS 1.2 (RFC 5246, 5): `len` bytes from a secret, a label
// and the randoms.
Bytes p_sha256(std::span<const uint8_t> secret, std::string_view label,
               std::span<const uint8_t> server, std::span<const uint8_t> client, size_t len) {
  Bytes seed(label.begin(), label.end());
  seed.insert(seed.end(), server.begin(), server.end());
  seed.insert(seed.end(), client.begin(), client.end());
  Bytes out;
  if (engine::tls1_prf("SHA256", secret, seed, len, out)) return {};
  return out;
}

// The session key seed from a master secret and the randoms, into output
// segment 1.
void answer_seed(Call &c, std::span<const uint8_t> master, std::span<const uint8_t> server,
                 std::span<const uint8_t> client) {
  if (room(c, 1) < kSeedLen) return c.fail(rc::kResultSize);
  Bytes seed = p_sha256(master, "key expansion", server, client, kSeedLen);
  if (seed.empty()) return c.fail(rc::kError);
  c.out.segment(1) = std::move(seed);
  c.ok();
}

// The master secret is the part of the context's secret the command names
// (offset and length; a length of 0: all of it).
void export_sks(HsmState &st, Call &c) {
  auto r = c.reader();
  Head hd = read_head(st, r);
  const uint32_t offset = r.u32(), len = r.u32();
  r.skip(8 + 4 + 8);  // wrapping key, key material size, pad, IV
  auto server = r.bytes(kRandomLen);
  auto client = r.bytes(kRandomLen);
  if (!r.ok() || r.remaining() != 0) return c.fail(rc::kInvalidInput);
  SslContext *ctx = command_context(st, c, hd);
  if (!ctx) return;
  const Secret *held = ctx->master ? &*ctx->master : ctx->secret ? &*ctx->secret : nullptr;
  if (!held) return c.fail(rc::kInvalidInput);
  const uint64_t take = len ? len : held->size();
  if (uint64_t{offset} + take > held->size()) return c.fail(rc::kInvalidInput);
  answer_seed(c, held->bytes().subspan(offset, take), server, client);
}

// The PAC-Key is the part of the PAC-Opaque the command names; the master
// secret (kept in the context) is P_SHA256(PAC-Key, "PAC to master secret
// label hash", server random, client random), 48 bytes.
void pac_handshake(HsmState &st, Call &c) {
  auto r = c.reader();
  Head hd = read_head(st, r);
  const uint32_t key_offset = r.u32(), key_len = r.u32();
  r.u32();  // wrapping key
  const uint32_t opaque_len = r.u32();
  r.skip(4 + 8);  // key material size, IV
  auto opaque = r.bytes(opaque_len);
  auto server = r.bytes(kRandomLen);
  auto client = r.bytes(kRandomLen);
  if (!r.ok() || r.remaining() != 0 || key_len == 0 ||
      uint64_t{key_offset} + key_len > opaque.size())
    return c.fail(rc::kInvalidInput);
  SslContext *ctx = command_context(st, c, hd);
  if (!ctx) return;
  Bytes master = p_sha256(opaque.subspan(key_offset, key_len), "PAC to master secret label hash",
                          server, client, kMasterLen);
  if (master.empty()) return c.fail(rc::kError);
  ctx->master = Secret(std::move(master));
  answer_seed(c, ctx->master->bytes(), server, client);
}

}  // namespace

void add_ssl_ctx_ops(HandlerTable &t) {
  t.add(kMgmtVnxCommand, vnx::kAllocSslCtx, alloc_context);
  t.add(kMgmtVnxCommand, vnx::kFreeSslCtx, free_context);
  t.add(kMgmtVnxCommand, vnx::kGenPmk, generate_premaster);
  t.add(kMgmtVnxCommand, vnx::kFipsRand, fips_random);
  t.add(kMgmtCommand, op::kEccDh, ecdh);
  t.add(kMgmtCommand, op::kExportSks, export_sks);
  t.add(kMgmtCommand, op::kPacKeyHs, pac_handshake);
}

}  // namespace hsmsim::hsm

namespace hsmsim {

std::optional<std::vector<uint8_t>> Hsm::ssl_context_secret(uint64_t handle) const {
  std::lock_guard lock(state_->mu);
  const hsm::SslContext *c = state_->ssl_contexts.find(handle);
  if (!c || !c->secret) return std::nullopt;
  auto b = c->secret->bytes();
  return std::vector<uint8_t>(b.begin(), b.end());
}

size_t Hsm::ssl_context_count(const std::string &partition) const {
  std::lock_guard lock(state_->mu);
  hsm::Partition *p = state_->partitions.by_name(partition);
  return p ? state_->ssl_contexts.count(p->index) : 0;
}

}  // namespace hsmsim
