// Audit logs. Every request made in a session (but the audit requests
// themselves) leaves an 88-byte entry in its partition's log; an officer
// counts the entries waiting, fetches them oldest first (fetched entries
// leave the log and extend its SHA-256 chain), asks for the HSM's
// signature over the chain, and finalises the log (waiting entries and
// chain dropped).
#include <time.h>

#include "hsm/codes.h"
#include "hsm/ops/admin_common.h"
#include "hsm/ops/audit_log.h"
#include "hsm/ops/table.h"

namespace hsmsim::hsm {

namespace {

constexpr uint32_t kMaxFetch = 6026;
constexpr size_t kSignSize = 256;
constexpr uint8_t kLogTypeRequest = 0;
constexpr uint8_t kVersion = 0x01;  // major 1 (low 4 bits), minor 0

bool audit_opcode(const HsmRequest &req) {
  return req.command_type == kMgmtCommand &&
         (req.opcode == op::kAuditDetails || req.opcode == op::kAuditLogs ||
          req.opcode == op::kAuditSign || req.opcode == op::kFinalizeLogs);
}

// Answers that are not a response record: their first word is no response code.
bool raw_answer(const HsmRequest &req) {
  return req.command_type != kMgmtCommand || req.opcode == op::kGetPartitionCount ||
         req.opcode == op::kGetHsmLabel || req.opcode == op::kGetPolicySet ||
         req.opcode == op::kGetVersion || req.opcode == op::kSetPolicy ||
         req.opcode == op::kSlaveConfig;
}

uint64_t now_ns() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
}

void extend_chain(AuditLog &log, std::span<const uint8_t> entry) {
  std::vector<uint8_t> data(log.chain.begin(), log.chain.end());
  data.insert(data.end(), entry.begin(), entry.end());
  engine::Bytes next;
  if (engine::digest("SHA256", data, next) == 0 && next.size() == log.chain.size())
    std::copy(next.begin(), next.end(), log.chain.begin());
}

void audit_details(HsmState &st, Call &c) {
  Session *s = officer_of_command(st, c, false);
  if (!s) return;
  auto rec = std_response(code::kOk);
  wire::BeWriter(rec).u32(static_cast<uint32_t>(st.admin.audit[s->partition].pending.size()));
  c.respond(std::move(rec));
}

void audit_logs(HsmState &st, Call &c) {
  Session *s = officer_of_command(st, c, false);
  if (!s) return;
  auto r = c.reader();
  r.skip(kSessionHeaderSize);
  uint32_t wanted = r.u32();
  if (!r.ok() || wanted == 0 || wanted > kMaxFetch) return c.fail(code::kInvalidInput);
  AuditLog &log = st.admin.audit[s->partition];
  size_t n = std::min<size_t>(wanted, log.pending.size());
  n = std::min<size_t>(n, c.out.capacity(1) / kAuditEntrySize);
  std::vector<uint8_t> entries;
  entries.reserve(n * kAuditEntrySize);
  for (size_t i = 0; i < n; ++i) {
    const auto &e = log.pending.front();
    extend_chain(log, e);
    entries.insert(entries.end(), e.begin(), e.end());
    log.pending.pop_front();
  }
  const auto bytes = static_cast<uint32_t>(entries.size());
  auto rec = std_response(code::kOk, 0, bytes, bytes);
  wire::BeWriter(rec).u32(0).u32(static_cast<uint32_t>(n));
  c.respond(std::move(rec));
  c.out.segment(1) = std::move(entries);
}

// HMAC-SHA-256 under the HSM's attestation key over the partition and the
// chain, counter blocks to 256 bytes.
void audit_sign(HsmState &st, Call &c) {
  Session *s = officer_of_command(st, c, false);
  if (!s) return;
  const AuditLog &log = st.admin.audit[s->partition];
  auto key = st.objects.attestation_key();
  std::vector<uint8_t> sign;
  for (uint8_t block = 0; sign.size() < kSignSize; ++block) {
    std::vector<uint8_t> in{block, s->partition};
    in.insert(in.end(), log.chain.begin(), log.chain.end());
    engine::Bytes mac;
    engine::hmac("SHA256", key, in, mac);
    sign.insert(sign.end(), mac.begin(), mac.end());
  }
  auto rec = std_response(code::kOk);
  rec.insert(rec.end(), sign.begin(), sign.begin() + kSignSize);
  c.respond(std::move(rec));
}

void finalize_logs(HsmState &st, Call &c) {
  Session *s = officer_of_command(st, c, false);
  if (!s) return;
  auto r = c.reader();
  r.skip(kSessionHeaderSize);
  std::string name = wire::field_text(r.bytes(16));
  if (!r.ok()) return c.fail(code::kInvalidInput);
  Partition *p = st.partitions.by_name(name);
  if (!p) return c.fail(code::kInvalidPartitionId);
  if (s->partition != kAdminPartition && s->partition != p->index)
    return c.fail(code::kInvalidSessForPartition);
  AuditLog &log = st.admin.audit[p->index];
  log.pending.clear();
  log.chain = {};
  c.ok();
}

}  // namespace

void record_audit(HsmState &st, const HsmRequest &req, Call &c) {
  if (audit_opcode(req)) return;
  Session *s = st.sessions.find(req.session_handle);
  if (!s) return;
  uint32_t response = c.status;
  if (response == 0 && !raw_answer(req)) {
    const auto &head = c.out.segment(0);
    if (head.size() >= 4) response = wire::BeReader(head).u32();
  }
  AuditLog &log = st.admin.audit[s->partition];
  std::vector<uint8_t> e;
  wire::BeWriter w(e);
  w.u64(log.next_seq++).u64(now_ns()).u32(s->handle).u32(response);
  w.u16(req.opcode).u16(req.command_type).u32(st.admin.reboot_counter);
  w.u8(kLogTypeRequest).u8(0).u8(kVersion).zeros(5);
  // user_details: who was logged in.
  Application *a = st.apps.by_index(s->app_index);
  if (a && a->login) w.u32(a->login->type).text(a->login->user, 32).zeros(4);
  w.zeros(kAuditEntrySize - e.size());
  std::array<uint8_t, kAuditEntrySize> entry{};
  std::copy(e.begin(), e.end(), entry.begin());
  log.pending.push_back(entry);
  if (log.pending.size() > kAuditLogLimit) log.pending.pop_front();
}

void add_admin_audit_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kAuditDetails, audit_details);
  t.add(kMgmtCommand, op::kAuditLogs, audit_logs);
  t.add(kMgmtCommand, op::kAuditSign, audit_sign);
  t.add(kMgmtCommand, op::kFinalizeLogs, finalize_logs);
}

}  // namespace hsmsim::hsm
