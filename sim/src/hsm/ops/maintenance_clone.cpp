// Cloning carries a partition's key backup key from a source session to a
// target session through the caller. Source init gives a 32-byte nonce;
// target init takes it and gives its own; source stage 1 takes the target's
// nonce and gives the KBK sealed under SHA-256 of both nonces (AES-256-GCM:
// IV, ciphertext, tag, 60 bytes); target stage 1 opens it, makes it the
// target partition's KBK and gives a 32-byte confirmation. Each side's
// exchange belongs to its session; a step out of order, a blob of the wrong
// length or a seal that does not open ends it.
#include <algorithm>

#include "hsm/codes.h"
#include "hsm/engine/crypto.h"
#include "hsm/engine/secure.h"
#include "hsm/opcodes.h"
#include "hsm/ops/admin_common.h"
#include "hsm/ops/table.h"
#include "wire/be_codec.h"

namespace hsmsim::hsm {

namespace {

constexpr size_t kNonceLen = 32, kIvLen = 12, kTagLen = 16, kKbkLen = 32;
constexpr size_t kSealedLen = kIvLen + kKbkLen + kTagLen;
constexpr size_t kConfirmLen = 32;
constexpr const char *kSealAad = "hsm-sim clone";
using Stage = CloneExchange::Stage;

struct CloneRequest {
  uint32_t session = 0;
  Partition *partition = nullptr;
  std::span<const uint8_t> blob;
};

// The officer's session, the partition the header's last word names (its
// own, or any from partition 0) and the blob; false after answering the
// refusal. Certificate-authentication data is carried, not checked.
bool read_request(HsmState &st, Call &c, CloneRequest &q) {
  Session *s = nullptr;
  q.session = c.req.session_handle & 0x3FFFFFFF;
  if (uint32_t refused = officer_session(st, q.session, false, &s)) {
    c.fail(refused);
    return false;
  }
  auto r = c.reader();
  r.skip(16);
  const uint32_t partition = r.u32(), size = r.u32();
  r.skip(4);
  q.blob = r.bytes(size);
  if (r.ok() && r.remaining() != 0) r.bytes(r.u32());
  if (!r.ok() || r.remaining() != 0) {
    c.fail(code::kInvalidInput);
    return false;
  }
  q.partition = partition < 64 ? st.partitions.at(static_cast<uint8_t>(partition)) : nullptr;
  if (!q.partition) {
    c.fail(code::kInvalidPartitionId);
    return false;
  }
  if (s->partition != q.partition->index && s->partition != kAdminPartition) {
    c.fail(code::kInvalidSessForPartition);
    return false;
  }
  return true;
}

std::vector<uint8_t> clone_response(uint32_t code, uint32_t size) {
  std::vector<uint8_t> rec = std_response(code);
  wire::BeWriter(rec).u32(size);
  return rec;
}

// The blob into output segment 1 with its length in the record. A segment
// too small gets RET_RESULT_SIZE with the length: false, and the caller
// leaves its exchange as it was.
bool fits(Call &c, size_t len) {
  if (c.out.count() > 1 && c.out.capacity(1) >= len) return true;
  c.respond(clone_response(code::kResultSize, static_cast<uint32_t>(len)));
  return false;
}

void give(Call &c, const std::vector<uint8_t> &blob) {
  c.respond(clone_response(0, static_cast<uint32_t>(blob.size())));
  c.out.segment(1) = blob;
}

// The exchange of a session at a stage, for the same partition; none (the
// exchange ended, RET_INVALID_INPUT answered) otherwise.
CloneExchange *exchange_at(HsmState &st, Call &c, const CloneRequest &q, Stage stage) {
  auto it = st.maintenance.clones.find(q.session);
  if (it == st.maintenance.clones.end() || it->second.stage != stage ||
      it->second.partition != q.partition->index) {
    if (it != st.maintenance.clones.end()) st.maintenance.clones.erase(it);
    c.fail(code::kInvalidInput);
    return nullptr;
  }
  return &it->second;
}

std::vector<uint8_t> seal_key(const CloneExchange &x) {
  std::vector<uint8_t> both = x.source_nonce;
  both.insert(both.end(), x.target_nonce.begin(), x.target_nonce.end());
  engine::Bytes key;
  engine::digest("SHA256", both, key);
  return key;
}

std::span<const uint8_t> aad() {
  return {reinterpret_cast<const uint8_t *>(kSealAad), std::char_traits<char>::length(kSealAad)};
}

void source_init(HsmState &st, Call &c) {
  CloneRequest q;
  if (!read_request(st, c, q)) return;
  if (!q.blob.empty()) return c.fail(code::kInvalidInput);
  if (!fits(c, kNonceLen)) return;
  CloneExchange x;
  x.stage = Stage::kSourceInit;
  x.partition = q.partition->index;
  x.source_nonce.resize(kNonceLen);
  engine::fill_random(x.source_nonce);
  give(c, x.source_nonce);
  st.maintenance.clones[q.session] = std::move(x);
}

void target_init(HsmState &st, Call &c) {
  CloneRequest q;
  if (!read_request(st, c, q)) return;
  if (q.blob.size() != kNonceLen) return c.fail(code::kInvalidInput);
  if (!fits(c, kNonceLen)) return;
  CloneExchange x;
  x.stage = Stage::kTargetInit;
  x.partition = q.partition->index;
  x.source_nonce.assign(q.blob.begin(), q.blob.end());
  x.target_nonce.resize(kNonceLen);
  engine::fill_random(x.target_nonce);
  give(c, x.target_nonce);
  st.maintenance.clones[q.session] = std::move(x);
}

void source_stage1(HsmState &st, Call &c) {
  CloneRequest q;
  if (!read_request(st, c, q)) return;
  CloneExchange *x = exchange_at(st, c, q, Stage::kSourceInit);
  if (!x) return;
  if (q.blob.size() != kNonceLen) {
    st.maintenance.clones.erase(q.session);
    return c.fail(code::kInvalidInput);
  }
  if (!fits(c, kSealedLen)) return;
  x->target_nonce.assign(q.blob.begin(), q.blob.end());
  std::vector<uint8_t> &kbk = st.admin2.kbk[x->partition];
  if (kbk.empty()) {  // made when first used, as an export would
    kbk.resize(kKbkLen);
    engine::fill_random(kbk);
  }
  std::vector<uint8_t> sealed(kIvLen);
  engine::fill_random(sealed);
  engine::Bytes ct, tag;
  const uint32_t e =
      engine::gcm_encrypt("AES-256-GCM", seal_key(*x), sealed, aad(), kbk, kTagLen, ct, tag);
  st.maintenance.clones.erase(q.session);
  if (e != 0) return c.fail(code::kError);
  sealed.insert(sealed.end(), ct.begin(), ct.end());
  sealed.insert(sealed.end(), tag.begin(), tag.end());
  give(c, sealed);
}

void target_stage1(HsmState &st, Call &c) {
  CloneRequest q;
  if (!read_request(st, c, q)) return;
  CloneExchange *x = exchange_at(st, c, q, Stage::kTargetInit);
  if (!x) return;
  if (q.blob.size() != kSealedLen) {
    st.maintenance.clones.erase(q.session);
    return c.fail(code::kInvalidInput);
  }
  if (!fits(c, kConfirmLen)) return;
  const std::vector<uint8_t> key = seal_key(*x);
  const uint8_t partition = x->partition;
  st.maintenance.clones.erase(q.session);
  engine::Bytes kbk, confirm;
  if (engine::gcm_decrypt("AES-256-GCM", key, q.blob.first(kIvLen), aad(),
                          q.blob.subspan(kIvLen, kKbkLen), q.blob.last(kTagLen), kbk) != 0 ||
      kbk.size() != kKbkLen)
    return c.fail(code::kSignatureVerificationFailed);
  engine::hmac("SHA256", key, kbk, confirm);
  st.admin2.kbk[partition] = std::move(kbk);
  give(c, confirm);
}

}  // namespace

void add_maintenance_clone_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kCloneSourceInit, source_init);
  t.add(kMgmtCommand, op::kCloneTargetInit, target_init);
  t.add(kMgmtCommand, op::kCloneSourceStage1, source_stage1);
  t.add(kMgmtCommand, op::kCloneTargetStage1, target_stage1);
}

}  // namespace hsmsim::hsm
