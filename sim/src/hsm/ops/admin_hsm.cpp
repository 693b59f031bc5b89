// Whole-HSM administration from partition 0: initialisation with the board
// configuration and its end, node id, shutdown, zeroise (plain and vendor)
// and the slave configuration; and the digests over a partition's key
// handles, which any officer of the partition may ask for.

#include "hsm/codes.h"
#include "hsm/ops/admin_common.h"
#include "hsm/ops/table.h"

namespace hsmsim::hsm {

namespace {

constexpr size_t kInitTokenSize = 212;
constexpr size_t kConfigOffset = 20;

BoardConfig read_config(wire::BeReader &r) {
  BoardConfig c;
  c.fips_state = r.u32();
  r.skip(27);
  c.flags = r.u8() & 0x07;
  c.login_failure_count = r.u32();
  c.secret_key_wrap = r.u32();
  c.secret_key_unwrap = r.u32();
  c.private_key_wrap = r.u32();
  c.private_key_unwrap = r.u32();
  c.max_pswd = r.u32();
  c.min_pswd = r.u32();
  c.cloning = r.u32();
  c.group_id = wire::field_text(r.bytes(32));
  c.label = wire::field_text(r.bytes(50));
  r.skip(2);
  c.kek_method = r.u32();
  c.cert_auth = r.u8();
  r.skip(3);
  c.node_id = r.u32();
  return c;
}

// Zero limits keep the HSM's own.
void apply_config(HsmState &st, BoardConfig c) {
  const BoardConfig defaults;
  if (c.login_failure_count == 0) c.login_failure_count = defaults.login_failure_count;
  if (c.max_pswd == 0) c.max_pswd = defaults.max_pswd;
  if (c.min_pswd == 0) c.min_pswd = defaults.min_pswd;
  st.id.label = c.label;
  st.id.fips_state = c.fips_state;
  st.id.user_fail_limit = st.id.officer_fail_limit = c.login_failure_count;
  st.id.max_pin = c.max_pswd;
  st.id.min_pin = c.min_pswd;
  for (uint8_t i = 0; i < kPartitionSlots; ++i)
    if (Partition *p = st.partitions.at(i)) p->fips_state = static_cast<uint8_t>(c.fips_state);
  st.admin.config = std::move(c);
}

void init_token(HsmState &st, Call &c) {
  if (!officer_of_command(st, c, true)) return;
  if (st.admin.lifecycle == Lifecycle::Initialised) return c.fail(code::kHsmAlreadyInitialized);
  if (st.admin.lifecycle == Lifecycle::Initialising) return c.fail(code::kHsmInitInProgress);
  auto r = c.reader();
  r.skip(kConfigOffset);
  BoardConfig cfg = read_config(r);
  if (!r.ok() || c.body().size() < kInitTokenSize) return c.fail(code::kInvalidInput);
  if (cfg.fips_state != 0 && cfg.fips_state != 2 && cfg.fips_state != 3)
    return c.fail(code::kInvalidInput);
  if (cfg.min_pswd > cfg.max_pswd && cfg.max_pswd != 0) return c.fail(code::kInvalidInput);
  apply_config(st, std::move(cfg));
  st.admin.lifecycle = Lifecycle::Initialising;
  c.ok();
}

// No command record: the request names the session.
void init_done(HsmState &st, Call &c) {
  Session *s = nullptr;
  if (uint32_t refused = officer_session(st, c.req.session_handle, true, &s))
    return c.fail(refused);
  if (st.admin.lifecycle == Lifecycle::Zeroised) return c.fail(code::kHsmNotInitialized);
  if (st.admin.lifecycle == Lifecycle::Initialised) return c.fail(code::kHsmAlreadyInitialized);
  st.admin.lifecycle = Lifecycle::Initialised;
  c.ok();
}

void set_node_id(HsmState &st, Call &c) {
  if (!officer_of_command(st, c, true)) return;
  auto r = c.reader();
  r.skip(kSessionHeaderSize);
  uint32_t id = r.u32();
  if (!r.ok()) return c.fail(code::kInvalidInput);
  st.admin.config.node_id = id;
  c.ok();
}

const char *digest_name(uint8_t type) {
  switch (type) {
    case 1:
      return "MD5";
    case 2:
      return "SHA1";
    case 3:
      return "SHA256";
    case 4:
      return "SHA384";
    case 5:
      return "SHA512";
    case 6:
      return "SHA224";
    default:
      return nullptr;
  }
}

// The digest over the handles, each 8 bytes big-endian, in ascending order,
// into output segment 1 (183 with the size when it does not fit).
void answer_digest(Call &c, uint8_t type, const std::vector<uint64_t> &handles) {
  const char *name = digest_name(type);
  if (!name) return c.fail(code::kInvalidInput);
  std::vector<uint8_t> data;
  wire::BeWriter w(data);
  for (uint64_t h : handles) w.u64(h);
  std::vector<uint8_t> md;
  if (engine::digest(name, data, md) != 0) return c.fail(code::kInvalidInput);
  const size_t len = md.size();
  if (c.out.capacity(1) < len)
    return c.respond(std_response(code::kResultSize, 0, static_cast<uint32_t>(len)));
  c.respond(std_response(code::kOk, 0, static_cast<uint32_t>(len), static_cast<uint32_t>(len)));
  c.out.segment(1) = std::move(md);
}

void key_handles_hash(HsmState &st, Call &c) {
  Session *s = officer_of_command(st, c, false);
  if (!s) return;
  auto r = c.reader();
  r.skip(kSessionHeaderSize);
  uint8_t type = r.u8();
  if (!r.ok()) return c.fail(code::kInvalidInput);
  std::vector<uint64_t> handles;
  st.objects.each([&](const obj::Object &o) {  // ascending handles
    if (o.partition == s->partition && o.session == 0) handles.push_back(o.handle);
  });
  answer_digest(c, type, handles);
}

void single_key_handle_hash(HsmState &st, Call &c) {
  Session *s = officer_of_command(st, c, false);
  if (!s) return;
  auto r = c.reader();
  r.skip(kSessionHeaderSize + 4);
  uint64_t handle = r.u64();
  uint8_t type = r.u8();
  if (!r.ok()) return c.fail(code::kInvalidInput);
  obj::Object *o = st.objects.find(handle);
  if (!o || o->partition != s->partition) return c.fail(code::kInvalidObjectHandle);
  answer_digest(c, type, {handle});
}

// Power off and on: every session and application ends.
void shutdown(HsmState &st, Call &c) {
  if (!officer_of_command(st, c, true)) return;
  st.close_sessions([](const Session &) { return true; });
  st.apps.clear();
  ++st.admin.shutdowns;
  ++st.admin.reboot_counter;
  c.ok();
}

// Everything goes: partitions, users, objects, policies, logs and the
// configuration. What remains is partition 0 with its factory officer,
// waiting for initialisation.
void zeroise(HsmState &st, Call &c) {
  if (!officer_of_command(st, c, true)) return;
  const uint32_t reboots = st.admin.reboot_counter;
  st.seed();
  std::vector<uint8_t> others;
  st.partitions.each([&](const Partition &p) {
    if (p.index != kAdminPartition) others.push_back(p.index);
  });
  for (uint8_t i : others) st.partitions.remove(i);
  st.admin.lifecycle = Lifecycle::Zeroised;
  st.admin.reboot_counter = reboots + 1;
  c.ok();
}

// No segments: the configuration is the request's second parameter; the
// verdict is the request status.
void slave_config(HsmState &st, Call &c) {
  Session *s = nullptr;
  if (uint32_t refused = officer_session(st, c.req.session_handle, true, &s)) {
    c.status = refused;
    return;
  }
  st.admin.slave_config = c.req.param2;
}

}  // namespace

void add_admin_hsm_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kInitToken, init_token);
  t.add(kMgmtCommand, op::kInitDone, init_done);
  t.add(kMgmtCommand, op::kSetNodeId, set_node_id);
  t.add(kMgmtCommand, op::kKeyHandlesHash, key_handles_hash);
  t.add(kMgmtCommand, op::kSingleKeyHandleHash, single_key_handle_hash);
  t.add(kMgmtCommand, op::kShutdown, shutdown);
  t.add(kMgmtCommand, op::kZeroize, zeroise);
  t.add(kMgmtCommand, op::kVendorZeroize, zeroise);
  t.add(kMgmtCommand, op::kSlaveConfig, slave_config);
}

}  // namespace hsmsim::hsm
