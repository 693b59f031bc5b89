// Diagnostics: the diagnostic dump streamed in pieces until an empty answer,
// the FIPS self-tests (they pass), the diagnostic information record, and
// the core dumps of the HSM's daemons (planted by tests), fetched whole in
// one answer or deleted.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>

#include "hsm/codes.h"
#include "hsm/opcodes.h"
#include "hsm/ops/admin2_common.h"
#include "hsm/ops/admin_common.h"
#include "hsm/ops/table.h"
#include "wire/be_codec.h"

namespace hsmsim::hsm {

namespace {

constexpr uint32_t kPassthroughCore = 1, kMgmtCore = 2;
constexpr size_t kDiagInfoLen = 6144;
constexpr size_t kStatsRecords = 32, kStatsRecordLen = 128;
constexpr size_t kRtcTimeLen = 128;
constexpr uint32_t kCoreHeadLen = 20;
constexpr size_t kCoreCmdLen = 28;

uint32_t masked(const Call &c) { return c.req.session_handle & 0x3FFFFFFF; }

bool has_core(const HsmState &st, uint32_t which) {
  return st.maintenance.core_dumps.count({which, 0}) != 0;
}

// The default dump: the HSM's state as text, long enough to take several pieces.
std::vector<uint8_t> state_text(const HsmState &st) {
  std::string t = "hsm-sim diagnostic dump\n";
  t += "partitions: " + std::to_string(st.partitions.count()) + "\n";
  t += "sessions: " + std::to_string(st.sessions.all().size()) + "\n";
  t += "firmware images installed: " + std::to_string(st.maintenance.installed.size()) + "\n";
  for (int i = 0; i < 200; ++i) {
    char line[64];
    snprintf(line, sizeof line, "engine %03d: queues idle, no errors\n", i);
    t += line;
  }
  return {t.begin(), t.end()};
}

// Raw form: the next piece into output segment 0, none once the dump ended
// (and the session's next fetch starts it again).
void diag_dump(HsmState &st, Call &c) {
  uint32_t refused = 0;
  if (!logged_in_session(st, masked(c), &refused)) return c.refuse(refused);
  if (c.out.count() != 1 || c.input_count() != 0) return c.refuse(code::kInvalidInput);
  auto [it, fresh] = st.maintenance.dump_reads.try_emplace(masked(c));
  DumpStream &d = it->second;
  if (fresh) d.bytes = st.maintenance.dump ? *st.maintenance.dump : state_text(st);
  const size_t n = std::min<size_t>(c.out.capacity(0), d.bytes.size() - d.pos);
  if (n == 0) {
    st.maintenance.dump_reads.erase(it);
    return;
  }
  auto piece = std::span<const uint8_t>(d.bytes).subspan(d.pos, n);
  c.put(0, piece);
  d.pos += n;
}

void invoke_fips(HsmState &st, Call &c) {
  uint32_t refused = 0;
  if (!logged_in_session(st, masked(c), &refused))
    c.status = refused;
  else if (!c.req.inputs.empty() || c.out.count() != 0)
    c.status = code::kInvalidInput;
}

std::string rtc_text() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  gmtime_r(&now, &t);
  char buf[64] = {};
  strftime(buf, sizeof buf, "%a %b %d %H:%M:%S %Y", &t);
  return buf;
}

void diag_info(HsmState &st, Call &c) {
  uint32_t refused = 0;
  if (!logged_in_session(st, masked(c), &refused)) return c.fail(refused);
  if (c.body().size() != 20) return c.fail(code::kInvalidInput);
  std::vector<uint8_t> rec = std_response(0);
  wire::BeWriter w(rec);
  for (int i = 0; i < 4; ++i) w.u32(1024);              // fpa_que_available
  w.u32(8u << 20).u32(6u << 20).u32(64).u32(0).u32(0);  // RAM (KiB), descriptors, reboots, BP
  w.u8(1)                                               // diag_version
      .u8(has_core(st, kPassthroughCore))
      .u8(has_core(st, kMgmtCore))
      .u8(45);  // temperature
  w.u32(1).u32(1).u32(0).u32(0).text("vantor0", 16).u8(1).zeros(95);
  w.zeros((kStatsRecords - 1) * kStatsRecordLen);
  w.u8(1).u8(1).u8(0).text(rtc_text(), kRtcTimeLen);  // MMC health, end of life, RTC
  rec.resize(16 + kDiagInfoLen, 0);
  c.respond(std::move(rec));
}

// Administrators of partition 0 handle the core dumps.
bool core_access(HsmState &st, Call &c) {
  Session *s = nullptr;
  if (uint32_t refused = officer_session(st, masked(c), true, &s)) {
    c.fail(refused);
    return false;
  }
  return true;
}

void get_core_dump(HsmState &st, Call &c) {
  if (!core_access(st, c)) return;
  auto r = c.reader();
  r.skip(20);
  const uint32_t which = r.u32(), backup = r.u32();
  if (!r.ok() || c.body().size() != kCoreCmdLen || c.req.param2 != (which & 0xFFFF))
    return c.fail(code::kInvalidInput);
  auto it = st.maintenance.core_dumps.find({which, backup});
  const std::vector<uint8_t> none;
  const std::vector<uint8_t> &dump = it == st.maintenance.core_dumps.end() ? none : it->second;
  std::vector<uint8_t> rec = std_response(0);
  wire::BeWriter(rec).u32(static_cast<uint32_t>(dump.size()));
  rec.insert(rec.end(), dump.begin(), dump.end());
  c.respond(std::move(rec));
}

void delete_core_dump(HsmState &st, Call &c) {
  if (!core_access(st, c)) return;
  if (!c.req.inputs.empty() || c.out.capacity(0) < kCoreHeadLen) return c.fail(code::kInvalidInput);
  if (!st.maintenance.core_dumps.erase({c.req.param2, 0})) return c.fail(code::kInvalidInput);
  c.ok();
}

}  // namespace

void add_maintenance_diag_ops(HandlerTable &t) {
  t.add(kDiagCommand, op::kDiagDump, diag_dump);
  t.add(kMgmtCommand, op::kInvokeFips, invoke_fips);
  t.add(kMgmtCommand, op::kGetHsmDiagInfo, diag_info);
  t.add(kMgmtCommand, op::kGetCoreDump, get_core_dump);
  t.add(kMgmtCommand, op::kDeleteCoreDump, delete_core_dump);
}

}  // namespace hsmsim::hsm

namespace hsmsim {

void Hsm::set_diagnostic_dump(std::vector<uint8_t> bytes) {
  std::lock_guard lock(state_->mu);
  state_->maintenance.dump = std::move(bytes);
}

bool Hsm::set_core_dump(uint32_t which_file, uint32_t backup_num, std::vector<uint8_t> bytes) {
  if ((which_file != 1 && which_file != 2) || bytes.size() > hsm::kCoreDumpMax) return false;
  std::lock_guard lock(state_->mu);
  auto &dumps = state_->maintenance.core_dumps;
  if (bytes.empty())
    dumps.erase({which_file, backup_num});
  else
    dumps[{which_file, backup_num}] = std::move(bytes);
  return true;
}

}  // namespace hsmsim
