// Certificate-based authentication (command type 9, the opcode is the
// sub-operation): certificates stored per partition and subject, a
// certificate request text per subject, randoms and key-exchange blobs of
// random bytes. Blobs answered with a length word carry the whole length and
// as many bytes as the segment holds. Verdicts are the request status.
#include <algorithm>
#include <cstdio>

#include "hsm/codes.h"
#include "hsm/engine/secure.h"
#include "hsm/opcodes.h"
#include "hsm/ops/admin2_common.h"
#include "hsm/ops/table.h"

namespace hsmsim::hsm {

namespace {

constexpr size_t kRandom = 64;
constexpr size_t kKeyExchange = 128;
constexpr size_t kPeerRandom = 32;
constexpr uint16_t kTargetRandom = 1, kTargetKex = 2, kSourceRandom = 4, kSourceKex = 8;

bool storable(uint16_t s) { return s == 2 || s == 4 || s == 8 || s == 32 || s == 64; }

Session *session_of(HsmState &st, Call &c) {
  uint32_t refused = 0;
  Session *s = logged_in_session(st, c.req.session_handle & 0x3FFFFFFF, &refused);
  if (!s) c.status = refused;
  return s;
}

std::vector<uint8_t> random_bytes(size_t n) {
  std::vector<uint8_t> v(n);
  engine::fill_random(v);
  return v;
}

// A length word in segment `seg`, the blob (cut to its room) in the next.
void put_with_length(Call &c, size_t seg, const std::vector<uint8_t> &blob) {
  if (c.out.count() < seg + 2) {
    c.status = code::kInvalidInput;
    return;
  }
  std::vector<uint8_t> word;
  wire::BeWriter(word).u32(static_cast<uint32_t>(blob.size()));
  c.out.segment(seg) = std::move(word);
  const size_t n = std::min<size_t>(blob.size(), c.out.capacity(seg + 1));
  c.out.segment(seg + 1).assign(blob.begin(), blob.begin() + static_cast<long>(n));
}

void recv_peer_cert(HsmState &st, Call &c) {
  if (!session_of(st, c)) return;
  auto r = c.reader();
  r.skip(20);
  const uint32_t len = r.u32();
  r.skip(4);
  if (!r.ok() || len == 0 || r.remaining() != len) return c.fail(code::kInvalidInput);
  const bool room = c.out.count() > 1 && c.out.capacity(1) >= kPeerRandom;
  std::vector<uint8_t> rec = std_response(room ? 0 : code::kResultSize, 0, 0, kPeerRandom);
  wire::BeWriter(rec).u32(kPeerRandom);
  c.respond(std::move(rec));
  if (room) c.out.segment(1) = random_bytes(kPeerRandom);
}

void secure_boot(HsmState &, Call &c) {
  auto r = c.reader();
  r.skip(16);
  const uint32_t len = r.u32();
  r.skip(4);
  if (!r.ok() || r.remaining() != len) return c.fail(code::kInvalidInput);
  c.ok();
}

void store_cert(HsmState &st, Call &c) {
  Session *s = session_of(st, c);
  if (!s) return;
  if (!storable(c.req.param2) || c.body().empty()) {
    c.status = code::kInvalidInput;
    return;
  }
  st.admin2.certs[{s->partition, c.req.param2}].assign(c.body().begin(), c.body().end());
}

void get_cert_req(HsmState &st, Call &c) {
  Session *s = session_of(st, c);
  if (!s) return;
  if (c.req.param2 != 2 && c.req.param2 != 8) {
    c.status = code::kInvalidInput;
    return;
  }
  char text[96];
  const int n =
      snprintf(text, sizeof text, "-----CERTIFICATE REQUEST: partition %u subject %u-----\n",
               static_cast<unsigned>(s->partition), static_cast<unsigned>(c.req.param2));
  put_with_length(c, 0, std::vector<uint8_t>(text, text + n));
}

void get_cert(HsmState &st, Call &c) {
  Session *s = session_of(st, c);
  if (!s) return;
  auto it = st.admin2.certs.find({s->partition, c.req.param2});
  if (it == st.admin2.certs.end()) {
    c.status = code::kInvalidInput;
    return;
  }
  put_with_length(c, 0, it->second);
}

void get_source_random(HsmState &st, Call &c) {
  if (!session_of(st, c)) return;
  c.put(0, random_bytes(kRandom));
}

// Inputs and outputs as the presence bits (second parameter) say.
void validate_target_certs(HsmState &st, Call &c) {
  if (!session_of(st, c)) return;
  const uint16_t bits = c.req.param2;
  auto r = c.reader();
  r.skip(r.u32());
  if (bits & kTargetRandom) r.skip(kRandom);
  if (bits & kTargetKex) r.skip(r.u32());
  if (!r.ok() || r.remaining() != 0) {
    c.status = code::kInvalidInput;
    return;
  }
  size_t seg = 0;
  if (bits & kSourceRandom) {
    if (!c.put(seg++, random_bytes(kRandom))) return;
  }
  if (bits & kSourceKex) put_with_length(c, seg, random_bytes(kKeyExchange));
}

void source_key_exchange(HsmState &st, Call &c) {
  if (!session_of(st, c)) return;
  put_with_length(c, 0, random_bytes(kKeyExchange));
}

void target_key_exchange(HsmState &st, Call &c) {
  if (!session_of(st, c)) return;
  if (c.body().empty()) c.status = code::kInvalidInput;
}

void store_kbk_share(HsmState &st, Call &c) {
  uint32_t refused = 0;
  if (!logged_in_session(st, c.req.session_handle & 0x3FFFFFFF, &refused)) return c.fail(refused);
  auto r = c.reader();
  r.skip(24);
  const uint32_t key_len = r.u32(), sig_len = r.u32();
  r.skip(20);
  if (!r.ok() || r.remaining() != uint64_t{key_len} + sig_len) return c.fail(code::kInvalidInput);
  c.ok();
}

}  // namespace

void add_admin2_certificate_ops(HandlerTable &t) {
  t.add(op::kCertAuthCommand, op::cert::kRecvPeerCert, recv_peer_cert);
  t.add(op::kCertAuthCommand, op::cert::kSecureBoot, secure_boot);
  t.add(op::kCertAuthCommand, op::cert::kStoreCert, store_cert);
  t.add(op::kCertAuthCommand, op::cert::kGetCertReq, get_cert_req);
  t.add(op::kCertAuthCommand, op::cert::kGetCert, get_cert);
  t.add(op::kCertAuthCommand, op::cert::kGetSourceRandom, get_source_random);
  t.add(op::kCertAuthCommand, op::cert::kValidateTargetCerts, validate_target_certs);
  t.add(op::kCertAuthCommand, op::cert::kSourceKeyExchange, source_key_exchange);
  t.add(op::kCertAuthCommand, op::cert::kTargetKeyExchange, target_key_exchange);
  t.add(kMgmtCommand, op::kStoreKbkShare, store_kbk_share);
}

}  // namespace hsmsim::hsm
