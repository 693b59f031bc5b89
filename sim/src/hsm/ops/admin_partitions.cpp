// Partitions from the administrators' partition: create (with the default
// officer), delete (forced or only when empty), resize within the HSM's
// resources, all partitions' information, the count and sizes, the label,
// the firmware's raw partition table and its translation.
#include "hsm/codes.h"
#include "hsm/ops/admin_common.h"
#include "hsm/ops/info_records.h"
#include "hsm/ops/table.h"

namespace hsmsim::hsm {

namespace {

// What the HSM has to share among its partitions.
constexpr uint32_t kTotalKeys = 262144;
constexpr uint32_t kTotalSslContexts = 32768;
constexpr uint32_t kTotalAcclrDevs = 255;
constexpr size_t kPartitionRecord = 248;
constexpr size_t kRawEntry = 31;  // index, status, accelerators, keys, contexts, name, reserved
constexpr size_t kRawTable = 1024;
constexpr uint32_t kForceDelete = 1;

struct Usage {
  uint64_t keys = 0, ssl = 0, acclr = 0;
};

// What is left of a resource; none when partitions added by the test API
// took more than the HSM has.
uint32_t left(uint32_t total, uint64_t used) { return used >= total ? 0 : total - uint32_t(used); }

Usage used(const HsmState &st) {
  Usage u;
  st.partitions.each([&](const Partition &p) {
    u.keys += p.max_keys;
    u.ssl += p.max_ssl_contexts;
    u.acclr += p.max_acclr_devs;
  });
  return u;
}

std::string name_at(Call &c, size_t offset) {
  auto r = c.reader();
  r.skip(offset);
  return wire::field_text(r.bytes(16));
}

void create_partition(HsmState &st, Call &c) {
  if (!officer_of_command(st, c, true)) return;
  if (st.admin.lifecycle != Lifecycle::Initialised) return c.fail(code::kHsmNotInitialized);
  auto r = c.reader();
  r.skip(kSessionHeaderSize);
  std::string name = wire::field_text(r.bytes(16));
  uint32_t keys = r.u32(), ssl = r.u32(), acclr = r.u32();
  r.u32();      // wrap flag
  r.bytes(16);  // alternative name
  uint8_t index = r.u8();
  if (!r.ok() || name.empty() || name.size() > kMaxPartitionName)
    return c.fail(code::kInvalidInput);
  if (st.partitions.by_name(name)) return c.fail(code::kPartitionExists);
  if (st.partitions.count() >= kPartitionSlots) return c.fail(code::kMaxPartitions);
  Usage u = used(st);
  if (keys == 0 || keys > left(kTotalKeys, u.keys) || ssl > left(kTotalSslContexts, u.ssl) ||
      acclr > left(kTotalAcclrDevs, u.acclr) || acclr > 0xFF)
    return c.fail(code::kInvalidPartitionSize);
  Partition *p = index ? st.partitions.add(name, index) : st.partitions.add(name);
  if (!p) return c.fail(index ? code::kPartitionExists : code::kMaxPartitions);
  p->fips_state = static_cast<uint8_t>(st.admin.config.fips_state);
  p->max_keys = keys;
  p->max_ssl_contexts = ssl;
  p->max_acclr_devs = static_cast<uint8_t>(acclr);
  User officer;
  officer.id = p->next_user_id++;
  officer.name = defaults::kOfficerName;
  officer.type = static_cast<uint32_t>(UserType::CryptoOfficer);
  officer.password = Secret(std::string(defaults::kOfficerPassword));
  p->users.push_back(std::move(officer));

  u = used(st);
  auto rec = std_response(code::kOk);
  wire::BeWriter(rec)
      .u8(static_cast<uint8_t>(kPartitionSlots - st.partitions.count()))
      .zeros(3)
      .u32(left(kTotalKeys, u.keys))
      .u32(left(kTotalSslContexts, u.ssl))
      .u32(left(kTotalAcclrDevs, u.acclr));
  c.respond(std::move(rec));
}

void delete_partition(HsmState &st, Call &c) {
  SessionHeader h;
  if (!officer_of_command(st, c, true, &h)) return;
  std::string name = name_at(c, kSessionHeaderSize);
  Partition *p = st.partitions.by_name(name);
  if (!p) return c.fail(code::kInvalidPartitionId);
  if (p->index == kAdminPartition) return c.fail(code::kPartitionDelDenied);
  const uint8_t index = p->index;
  if (!(h.flags & kForceDelete)) {
    if (st.objects.count(index, true) + st.objects.count(index, false) != 0)
      return c.fail(code::kPartitionHasObjects);
    if (p->users.size() > 1) return c.fail(code::kPartitionHasUsers);
    if (st.sessions.count_if([&](const Session &s) { return s.partition == index; }) != 0)
      return c.fail(code::kPartitionDelDenied);
  }
  st.close_sessions([&](const Session &s) { return s.partition == index; });
  std::vector<uint64_t> handles;
  st.objects.each([&](const obj::Object &o) {
    if (o.partition == index) handles.push_back(o.handle);
  });
  for (uint64_t hd : handles) st.objects.erase(hd);
  std::vector<uint16_t> apps;
  for (const auto &[i, a] : st.apps.all())
    if (a.partition == index) apps.push_back(i);
  for (uint16_t i : apps) st.apps.remove(i);
  st.admin.audit.erase(index);
  st.admin2.drop_partition(index);
  st.partitions.remove(index);
  c.ok();
}

void resize_partition(HsmState &st, Call &c) {
  if (!officer_of_command(st, c, true)) return;
  auto r = c.reader();
  r.skip(kSessionHeaderSize);
  std::string name = wire::field_text(r.bytes(16));
  uint32_t size[3];
  for (uint32_t &s : size) {
    r.u8();  // direction: the new size says it
    r.skip(3);
    s = r.u32();
  }
  if (!r.ok()) return c.fail(code::kInvalidInput);
  Partition *p = st.partitions.by_name(name);
  if (!p) return c.fail(code::kInvalidPartitionId);
  Usage u = used(st);
  const uint32_t keys = size[0] ? size[0] : p->max_keys;
  const uint32_t ssl = size[1] ? size[1] : p->max_ssl_contexts;
  const uint32_t acclr = size[2] ? size[2] : p->max_acclr_devs;
  const uint32_t stored = st.objects.count(p->index, true) + st.objects.count(p->index, false);
  if (keys < stored || keys > left(kTotalKeys, u.keys - p->max_keys) ||
      ssl > left(kTotalSslContexts, u.ssl - p->max_ssl_contexts) ||
      acclr > left(kTotalAcclrDevs, u.acclr - p->max_acclr_devs) || acclr > 0xFF)
    return c.fail(code::kInvalidPartitionSize);
  p->max_keys = keys;
  p->max_ssl_contexts = ssl;
  p->max_acclr_devs = static_cast<uint8_t>(acclr);
  u = used(st);
  auto rec = std_response(code::kOk);
  wire::BeWriter(rec)
      .u32(left(kTotalKeys, u.keys))
      .u32(left(kTotalSslContexts, u.ssl))
      .u32(left(kTotalAcclrDevs, u.acclr));
  c.respond(std::move(rec));
}

void all_partition_info(HsmState &st, Call &c) {
  if (!officer_of_command(st, c, true)) return;
  Usage u = used(st);
  const auto count = static_cast<uint8_t>(st.partitions.count());
  auto rec = std_response(code::kOk);
  wire::BeWriter w(rec);
  w.u32(kTotalKeys).u32(left(kTotalKeys, u.keys)).u32(kTotalSslContexts);
  w.u32(left(kTotalSslContexts, u.ssl));
  w.u8(kTotalAcclrDevs).u8(static_cast<uint8_t>(left(kTotalAcclrDevs, u.acclr)));
  w.u8(count).u8(static_cast<uint8_t>(kPartitionSlots - count));
  for (uint8_t i = 0; i < kPartitionSlots; ++i) {
    Partition *p = st.partitions.at(i);
    if (p)
      w.bytes(partition_info(st, *p));
    else
      w.zeros(kPartitionRecord);
  }
  c.respond(std::move(rec));
}

// The raw answers below have no response record: a refusal is the request status.
bool known_session(HsmState &st, Call &c) {
  if (st.sessions.find(c.req.session_handle)) return true;
  c.status = code::kInvalidSession;
  return false;
}

void partition_count(HsmState &st, Call &c) {
  if (!known_session(st, c)) return;
  std::vector<const Partition *> ps;
  st.partitions.each([&](const Partition &p) { ps.push_back(&p); });
  std::vector<uint8_t> rec;
  wire::BeWriter w(rec);
  for (size_t i = 0; i < kPartitionSlots; ++i) w.u32(i < ps.size() ? ps[i]->max_keys : 0);
  for (size_t i = 0; i < kPartitionSlots; ++i) w.u32(i < ps.size() ? ps[i]->max_ssl_contexts : 0);
  for (size_t i = 0; i < kPartitionSlots; ++i) w.u32(i < ps.size() ? ps[i]->max_acclr_devs : 0);
  w.u8(static_cast<uint8_t>(ps.size()));
  for (size_t i = 0; i < kPartitionSlots; ++i) w.u8(i < ps.size() ? ps[i]->index : 0);
  w.zeros(2);
  c.out.segment(0) = std::move(rec);
}

void hsm_label(HsmState &st, Call &c) {
  if (!known_session(st, c)) return;
  std::vector<uint8_t> rec;
  wire::BeWriter(rec).text(st.id.label, 50);
  c.out.segment(0) = std::move(rec);
}

// Raw table entry: index, status, accelerator devices, key store size,
// SSL contexts (big-endian), name (16), 4 reserved bytes.
void raw_partition_table(HsmState &st, Call &c) {
  if (!st.apps.find(c.req.session_handle)) {
    c.status = code::kAppNotInitialized;
    return;
  }
  std::vector<uint8_t> table;
  wire::BeWriter w(table);
  uint8_t count = 0;
  st.partitions.each([&](const Partition &p) {
    w.u8(p.index).u8(p.status).u8(p.max_acclr_devs).u32(p.max_keys).u32(p.max_ssl_contexts);
    w.text(p.name, 16).zeros(4);
    ++count;
  });
  table.resize(kRawTable, 0);
  c.out.segment(0) = {count};
  c.out.segment(1) = std::move(table);
}

// The daemon's translation: each raw entry with a name becomes a
// PartitionInfo record with the fields the entry carries.
void translate_partition_table(HsmState &, Call &c) {
  auto raw = c.body();
  if (raw.size() < kRawTable) {
    c.status = code::kInvalidInput;
    return;
  }
  std::vector<uint8_t> out;
  for (size_t i = 0; i + kRawEntry <= kRawTable && out.size() < kPartitionSlots * kPartitionRecord;
       i += kRawEntry) {
    wire::BeReader r(raw.subspan(i, kRawEntry));
    r.u8();
    uint8_t status = r.u8(), acclr = r.u8();
    uint32_t keys = r.u32(), ssl = r.u32();
    std::string name = wire::field_text(r.bytes(16));
    if (name.empty()) continue;
    std::vector<uint8_t> rec;
    wire::BeWriter w(rec);
    w.text(name, 16).u8(status).zeros(35).u32(keys).zeros(12).u32(ssl).zeros(4).u8(acclr);
    rec.resize(kPartitionRecord, 0);
    out.insert(out.end(), rec.begin(), rec.end());
  }
  c.out.segment(0) = std::move(out);
}

}  // namespace

void add_admin_partition_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kCreatePartition, create_partition);
  t.add(kMgmtCommand, op::kDeletePartition, delete_partition);
  t.add(kMgmtCommand, op::kResizePartition, resize_partition);
  t.add(kMgmtCommand, op::kAllPartitionInfo, all_partition_info);
  t.add(kMgmtCommand, op::kGetPartitionCount, partition_count);
  t.add(kMgmtCommand, op::kGetHsmLabel, hsm_label);
  t.add(kFwPartitionInfoCommand, op::kRawPartitionTable, raw_partition_table);
  t.add(kFwPartitionInfoCommand, op::kTranslatePartitionTable, translate_partition_table);
}

}  // namespace hsmsim::hsm
