// HSM information, partition information and the firmware version text,
// with values taken from the HSM's state.
#include <time.h>

#include "hsm/codes.h"
#include "hsm/ops/info_records.h"
#include "hsm/ops/session_command.h"
#include "hsm/ops/table.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm {

namespace {

constexpr size_t kHsmInfoSize = 644;
constexpr size_t kHsmInfoOldSize = 400;  // the older record ends after partNumber
constexpr size_t kPartitionInfoSize = 248;

std::string utc_text(const char *format) {
  char buf[64] = {0};
  time_t now = time(nullptr);
  tm t{};
  gmtime_r(&now, &t);
  strftime(buf, sizeof buf, format, &t);
  return buf;
}

uint8_t digit_or_zero(const std::string &s, size_t i) {
  return i < s.size() && s[i] >= '0' && s[i] <= '9' ? static_cast<uint8_t>(s[i] - '0') : 0;
}

std::vector<uint8_t> hsm_info(HsmState &st) {
  const Identity &id = st.id;
  uint32_t sessions = static_cast<uint32_t>(st.sessions.all().size());
  uint32_t rw = st.sessions.count_if([](const Session &s) { return s.rw(); });
  std::vector<uint8_t> rec;
  wire::BeWriter w(rec);
  w.text(id.label, 50).text(id.model, 32).text(id.serial, 32).zeros(2);  // uiFlags sits at 116
  w.u32(0);                                                              // uiFlags
  w.u32(kMaxSessions).u32(sessions).u32(kMaxSessions).u32(rw);
  w.u32(id.max_pin).u32(id.min_pin);
  w.u32(8u << 20).u32(6u << 20).u32(64u << 20).u32(60u << 20);  // RAM, flash (KiB)
  w.u32(id.user_fail_limit).u32(id.officer_fail_limit);
  w.u32(id.fips_state);
  w.u32(id.max_user_keys).u32(st.objects.count_all(true));
  w.u32(id.max_ssl_contexts).u32(id.max_ssl_contexts);
  w.u32(0).u32(st.admin.slave_config);        // master and slave configuration
  w.u32(1).u32(0x0B4000).u32(0x7E57).u32(1);  // manufacturer id
  w.u8(digit_or_zero(id.serial, 0)).u8(digit_or_zero(id.serial, 2));
  w.u8(id.fw_major).u8(id.fw_minor);
  w.text(utc_text("%Y%m%d%H%M%SZ"), 16);
  w.u32(id.max_session_keys).u32(st.objects.count_all(false));
  w.u32(st.admin.config.cloning).u32(st.admin.config.kek_method).u32(0);  // and auth path
  w.u32(static_cast<uint32_t>(id.temperature));
  w.text(id.build, 16).text(id.firmware_text, 64).text(id.part_number, 64);
  w.zeros(8 + 8);  // vendor and officer key fingerprints
  for (int i = 0; i < 4; ++i) w.u32(1u << 20);
  for (int i = 0; i < 4; ++i) w.u32(1024);
  w.u32(64);  // num_fds
  w.text(utc_text("%a %b %d %H:%M:%S %Y"), 128);
  w.text(id.bootloader, 64);
  return rec;
}

void token_info(HsmState &st, Call &c) {
  std::vector<uint8_t> info = hsm_info(st);
  // A request for the older record (420 bytes) gets that much.
  size_t cap = c.out.capacity(0);
  size_t size = cap >= kResponseHeaderSize + 4 + kHsmInfoSize ? kHsmInfoSize : kHsmInfoOldSize;
  std::vector<uint8_t> rec = std_response(code::kOk, 0, static_cast<uint32_t>(size), 0);
  wire::BeWriter(rec)
      .u32(static_cast<uint32_t>(size))
      .bytes(std::span<const uint8_t>(info).first(size));
  c.respond(std::move(rec));
}

}  // namespace

std::vector<uint8_t> partition_info(HsmState &st, const Partition &p) {
  uint32_t sessions =
      st.sessions.count_if([&](const Session &s) { return s.partition == p.index; });
  uint32_t rw =
      st.sessions.count_if([&](const Session &s) { return s.partition == p.index && s.rw(); });
  uint16_t users = static_cast<uint16_t>(p.users.size());
  std::vector<uint8_t> rec;
  wire::BeWriter w(rec);
  w.text(p.name, 16).u8(p.status).zeros(3);
  w.u32(st.id.max_pin).u32(st.id.min_pin).u32(sessions).u32(rw).u32(p.policy_bits);
  w.u16(p.max_users).u16(static_cast<uint16_t>(p.max_users > users ? p.max_users - users : 0));
  w.u8(0).u8(0).u8(p.key_import).u8(p.key_export).u8(p.fips_state).zeros(3);
  w.u32(p.max_keys)
      .u32(st.objects.count(p.index, true))
      .u32(0)
      .u32(st.objects.count(p.index, false));
  w.u32(p.max_ssl_contexts).u32(0);
  w.u8(p.max_acclr_devs).zeros(7);
  const BoardConfig &cfg = st.admin.config;  // as initialisation set it
  w.u8(cfg.flags).u8(static_cast<uint8_t>(cfg.cloning)).u8(static_cast<uint8_t>(cfg.kek_method));
  w.u8(cfg.cert_auth);
  w.u16(0).zeros(5).u8(0);  // N, M values
  w.u32(cfg.node_id).text(cfg.group_id, 32).zeros(8);
  w.zeros(kPartitionInfoSize - rec.size());
  return rec;
}

namespace {

void get_partition_info(HsmState &st, Call &c) {
  Partition *p = partition_of_command(st, c);
  if (!p) return;
  std::vector<uint8_t> rec = std_response(code::kOk);
  wire::BeWriter(rec).bytes(partition_info(st, *p));
  c.respond(std::move(rec));
}

void get_version(HsmState &st, Call &c) {
  // The answer is the text alone, no response record.
  auto &text = c.out.segment(0);
  text.assign(st.id.firmware_text.begin(), st.id.firmware_text.end());
  text.push_back(0);
}

}  // namespace

void add_info_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kTokenInfo, token_info);
  t.add(kMgmtCommand, op::kPartitionInfo, get_partition_info);
  t.add(kMgmtCommand, op::kGetVersion, get_version);
}

}  // namespace hsmsim::hsm
