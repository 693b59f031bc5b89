// Key-encryption and password-encryption key establishment. The host sends
// its public key (a PEM PUBKEY block) and a 32-byte nonce; the key's type
// picks the method: an EC key gets ECDH with a fresh HSM key on its curve
// (the answer: a 32-byte nonce and the HSM's public key as PEM), an RSA key
// a random secret encrypted to it without padding (the answer's nonce). The
// master key both sides derive is kept per partition for the test hook.
#include "hsm/codes.h"
#include "hsm/engine/crypto.h"
#include "hsm/engine/generate.h"
#include "hsm/engine/secure.h"
#include "hsm/engine/values.h"
#include "hsm/opcodes.h"
#include "hsm/ops/table.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm {

namespace {

constexpr size_t kNonceLen = 32;
constexpr size_t kHostKeyMax = 1024;  // what a host key file may hold
constexpr uint32_t kRsaMinBits = 1024, kRsaMaxBits = 8192;
constexpr uint8_t kEcdh = 0, kRsa = 1;
constexpr const char *kKekLabel = "key encryption key";
constexpr const char *kPekLabel = "password encryption key";

// SHA-512(0^4 || premaster || label || host nonce || target nonce || serial).
std::vector<uint8_t> master_key(std::span<const uint8_t> premaster, const std::string &label,
                                std::span<const uint8_t> host_nonce,
                                std::span<const uint8_t> target_nonce, const std::string &serial) {
  engine::Digest d("SHA512");
  const uint8_t counter[4] = {};
  auto text = [](const std::string &s) {
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t *>(s.data()), s.size());
  };
  engine::Bytes out;
  if (!d.ok() || !d.update(counter) || !d.update(premaster) || !d.update(text(label)) ||
      !d.update(host_nonce) || !d.update(target_nonce) || !d.update(text(serial)) ||
      d.finish(out) != code::kOk)
    return {};
  return out;
}

// One side of an agreement: the secret, the HSM's nonce, and for ECDH the
// HSM's public key; or the refusal.
struct Agreement {
  uint32_t refusal = 0;
  engine::Bytes premaster, nonce, hsm_key;
};

Agreement ecdh(const engine::Key &host) {
  Agreement a;
  engine::Key mine;
  const int nid = engine::ec_curve(host);
  if (nid == 0 || engine::generate_ec(nid, mine) != code::kOk ||
      engine::derive(mine, host, a.premaster) != code::kOk) {
    a.refusal = code::kKeyTypeInconsistent;
    return a;
  }
  a.nonce.resize(kNonceLen);
  engine::fill_random(a.nonce);
  a.hsm_key = engine::public_key_pem(mine);
  if (a.hsm_key.empty()) a.refusal = code::kError;
  return a;
}

Agreement rsa(const engine::Key &host) {
  Agreement a;
  const uint32_t bits = host.bits();
  if (bits < kRsaMinBits || bits > kRsaMaxBits) {
    a.refusal = code::kKeyTypeInconsistent;
    return a;
  }
  a.premaster.resize((bits + 7) / 8);
  engine::fill_random(a.premaster);
  a.premaster[0] = 0;  // below the modulus
  engine::RsaPadding none;
  none.mode = engine::kPadNone;
  if (engine::rsa_encrypt(host, none, a.premaster, a.nonce) != code::kOk)
    a.refusal = code::kKeyTypeInconsistent;
  return a;
}

void establish(HsmState &st, Call &c, bool password_key) {
  Session *s = st.sessions.find(c.req.session_handle);
  if (!s) return c.fail(code::kInvalidSession);
  auto r = c.reader();
  r.skip(20);
  const uint32_t size = r.u32();
  auto host_nonce = r.bytes(kNonceLen);
  if (!r.ok() || size <= kNonceLen || size - kNonceLen > kHostKeyMax ||
      r.remaining() != size - kNonceLen)
    return c.fail(code::kInvalidInput);
  engine::Key host = engine::public_key_from_pem(r.bytes(size - kNonceLen));
  if (host.empty()) return c.fail(code::kInvalidInput);
  uint8_t method = 0;
  if (host.kind() == engine::Kind::Ec && !password_key)
    method = kEcdh;
  else if (host.kind() == engine::Kind::Rsa)
    method = kRsa;
  else
    return c.fail(code::kKeyTypeInconsistent);

  // Making the HSM's key and agreeing (or encrypting) run without the state
  // lock; the session is looked up again afterwards.
  Agreement a = c.unlocked([&] { return method == kEcdh ? ecdh(host) : rsa(host); });
  if (a.refusal) return c.fail(a.refusal);
  s = st.sessions.find(c.req.session_handle);
  if (!s) return c.fail(code::kInvalidSession);
  // The answer counts nonce and key together; both must fit their segments.
  const uint32_t answer_len = static_cast<uint32_t>(a.nonce.size() + a.hsm_key.size());
  std::vector<uint8_t> rec;
  const bool fits = c.out.capacity(1) >= a.nonce.size() &&
                    (method != kEcdh || c.out.capacity(2) >= a.hsm_key.size());
  wire::BeWriter(rec).u32(fits ? 0 : code::kResultSize).u32(0).u32(0).u32(0).u32(answer_len);
  c.respond(std::move(rec));
  if (!fits) return;

  KeyEstablishment &k = st.admin2.kek[{s->partition, password_key}];
  k.method = method;
  k.host_nonce.assign(host_nonce.begin(), host_nonce.end());
  k.target_nonce = a.nonce;
  k.master_key = Secret(master_key(a.premaster, password_key ? kPekLabel : kKekLabel, host_nonce,
                                   a.nonce, st.id.serial));
  k.premaster = Secret(std::move(a.premaster));
  c.out.segment(1) = std::move(a.nonce);
  if (method == kEcdh) c.out.segment(2) = std::move(a.hsm_key);
}

void key_encryption_key(HsmState &st, Call &c) { establish(st, c, false); }
void password_encryption_key(HsmState &st, Call &c) { establish(st, c, true); }

}  // namespace

void add_admin2_kek_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kGenKeyEncKey, key_encryption_key);
  t.add(kMgmtCommand, op::kGenPswdEncKey, password_encryption_key);
}

}  // namespace hsmsim::hsm

namespace hsmsim {

std::optional<KeyEstablishmentView> Hsm::key_establishment(const std::string &partition,
                                                           bool password_key) const {
  std::lock_guard lock(state_->mu);
  hsm::Partition *p = state_->partitions.by_name(partition);
  if (!p) return std::nullopt;
  auto it = state_->admin2.kek.find({p->index, password_key});
  if (it == state_->admin2.kek.end()) return std::nullopt;
  const hsm::KeyEstablishment &k = it->second;
  auto copy = [](std::span<const uint8_t> b) { return std::vector<uint8_t>(b.begin(), b.end()); };
  return KeyEstablishmentView{k.method, copy(k.premaster.bytes()), copy(k.master_key.bytes()),
                              k.host_nonce, k.target_nonce};
}

}  // namespace hsmsim
