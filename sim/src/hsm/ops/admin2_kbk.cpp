// Key backup key export and import. Each partition's KBK (32 random bytes,
// made when first used) leaves the HSM wrapped (AES-256 key wrap, RFC 3394)
// under one HSM-wide key: as three parts (two random shares and the KBK
// XOR both, each wrapped) without a mechanism, or as one wrapped blob under
// any mechanism. Import unwraps and replaces the partition's KBK, so a KBK
// exported from one partition can be imported into another. Verdicts and
// 183 are the request status.
#include <algorithm>

#include "hsm/codes.h"
#include "hsm/engine/crypto.h"
#include "hsm/engine/secure.h"
#include "hsm/opcodes.h"
#include "hsm/ops/admin2_common.h"
#include "hsm/ops/admin_common.h"
#include "hsm/ops/table.h"

namespace hsmsim::hsm {

namespace {

constexpr size_t kKbkLen = 32;
constexpr const char *kWrap = "id-aes256-wrap";

std::vector<uint8_t> &lazy_key(std::vector<uint8_t> &k) {
  if (k.empty()) {
    k.resize(kKbkLen);
    engine::fill_random(k);
  }
  return k;
}

// The partition a KBK request names, which an officer of it (or of
// partition 0) may handle; null after answering the refusal.
Partition *target(HsmState &st, Call &c, uint32_t partition_no) {
  Session *s = nullptr;
  if (uint32_t refused = officer_session(st, c.req.session_handle & 0x3FFFFFFF, false, &s)) {
    c.status = refused;
    return nullptr;
  }
  Partition *p = partition_no < 64 ? st.partitions.at(static_cast<uint8_t>(partition_no)) : nullptr;
  if (!p) {
    c.status = code::kInvalidPartitionId;
    return nullptr;
  }
  if (s->partition != p->index && s->partition != kAdminPartition) {
    c.status = code::kInvalidSessForPartition;
    return nullptr;
  }
  return p;
}

void wrap_kbk(HsmState &st, Call &c) {
  auto r = c.reader();
  r.skip(20);
  const uint32_t mech = r.u32(), partition_no = r.u32();
  if (!r.ok() || r.remaining() != 0) {
    c.status = code::kInvalidInput;
    return;
  }
  Partition *p = target(st, c, partition_no);
  if (!p) return;
  const std::vector<uint8_t> &kbk = lazy_key(st.admin2.kbk[p->index]);
  const std::vector<uint8_t> &wrapping = lazy_key(st.admin2.kbk_wrapping);
  std::vector<std::vector<uint8_t>> plain;
  if (mech == 0) {
    std::vector<uint8_t> s1(kKbkLen), s2(kKbkLen), s3(kKbkLen);
    engine::fill_random(s1);
    engine::fill_random(s2);
    for (size_t i = 0; i < kKbkLen; ++i) s3[i] = kbk[i] ^ s1[i] ^ s2[i];
    plain = {s1, s2, s3};
  } else {
    plain = {kbk};
  }
  std::vector<uint8_t> all, rec = std_response(0);
  wire::BeWriter w(rec);
  for (size_t i = 0; i < 3; ++i) {
    engine::Bytes out;
    if (i < plain.size()) {
      if (uint32_t e = engine::cipher(kWrap, wrapping, {}, true, false, plain[i], out)) {
        c.status = e;
        return;
      }
    }
    w.u32(static_cast<uint32_t>(out.size()));
    all.insert(all.end(), out.begin(), out.end());
  }
  c.out.segment(0) = std::move(rec);
  if (c.out.count() < 2 || c.out.capacity(1) < all.size()) {
    c.status = code::kResultSize;
    return;
  }
  c.out.segment(1) = std::move(all);
}

void unwrap_kbk(HsmState &st, Call &c) {
  auto r = c.reader();
  r.skip(20);
  const uint32_t mech = r.u32(), partition_no = r.u32();
  const uint32_t len[3] = {r.u32(), r.u32(), r.u32()};
  const uint64_t total = uint64_t{len[0]} + len[1] + len[2];
  if (!r.ok() || r.remaining() != total || (mech == 0 && (!len[1] || !len[2]))) {
    c.status = code::kInvalidInput;
    return;
  }
  Partition *p = target(st, c, partition_no);
  if (!p) return;
  const std::vector<uint8_t> &wrapping = lazy_key(st.admin2.kbk_wrapping);
  std::vector<uint8_t> kbk(kKbkLen, 0);
  for (size_t i = 0; i < (mech == 0 ? 3u : 1u); ++i) {
    engine::Bytes part;
    if (uint32_t e = engine::cipher(kWrap, wrapping, {}, false, false, r.bytes(len[i]), part)) {
      c.status = e;
      return;
    }
    if (part.size() != kKbkLen) {
      c.status = code::kInvalidInput;
      return;
    }
    for (size_t j = 0; j < kKbkLen; ++j) kbk[j] ^= part[j];
  }
  st.admin2.kbk[p->index] = std::move(kbk);
  c.ok();
}

}  // namespace

void add_admin2_kbk_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kWrapKbk, wrap_kbk);
  t.add(kMgmtCommand, op::kUnwrapKbk, unwrap_kbk);
}

}  // namespace hsmsim::hsm
