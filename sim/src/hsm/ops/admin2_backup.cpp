// Backup and restore. A run begins and ends per partition (or for the HSM
// itself); in between the HSM hands out its configuration, users, keys and
// partition objects as blobs sealed under the partition's key backup key
// (the HSM scope: partition 0's), or takes such blobs back. Every blob given
// or taken extends the run's SHA-256 chain; the integrity value is the HMAC
// of the chain under the key backup key. Verdicts are the request status.

#include <algorithm>

#include "hsm/codes.h"
#include "hsm/engine/crypto.h"
#include "hsm/engine/secure.h"
#include "hsm/objects/masking.h"
#include "hsm/objects/store.h"
#include "hsm/opcodes.h"
#include "hsm/ops/admin2_backup_blob.h"
#include "hsm/ops/admin_common.h"
#include "hsm/ops/table.h"

namespace hsmsim::hsm {

namespace {

namespace bk = backup;

constexpr size_t kKbkLen = 32;
constexpr uint32_t kMaxRestoreUsers = 1024;
constexpr uint16_t kCertPartitionOwner = 4, kCertPartition = 8;  // CertSubject
constexpr uint8_t kClassPartitionData = 3;
constexpr uint8_t kIdUnknown = 0, kIdPoCert = 3, kIdCertByPo = 4;

std::span<const uint8_t> kbk_of(HsmState &st, uint8_t partition) {
  std::vector<uint8_t> &k = st.admin2.kbk[partition];
  if (k.empty()) {
    k.resize(kKbkLen);
    engine::fill_random(k);
  }
  return k;
}

void extend(BackupRun &run, std::span<const uint8_t> blob) {
  std::vector<uint8_t> in(run.chain.begin(), run.chain.end());
  in.insert(in.end(), blob.begin(), blob.end());
  engine::Bytes d;
  if (engine::digest("SHA256", in, d) == 0 && d.size() == run.chain.size())
    std::copy(d.begin(), d.end(), run.chain.begin());
}

std::vector<uint8_t> icv_of(HsmState &st, const BackupRun &run, uint8_t kbk_partition) {
  engine::Bytes mac;
  if (engine::hmac("SHA256", kbk_of(st, kbk_partition), run.chain, mac) != 0) return {};
  return std::vector<uint8_t>(mac.begin(), mac.end());
}

// Where a request acts: the partition, its run and the key its blobs are
// sealed under. An officer of the partition or of partition 0 may back a
// partition up or restore it; the HSM scope wants partition 0's officer.
struct Scope {
  Partition *p = nullptr;
  uint16_t run_key = 0;
  uint8_t kbk_partition = 0;
};

bool reach(HsmState &st, Call &c, bool hsm, uint32_t partition_no, Scope &out) {
  Session *s = nullptr;
  if (uint32_t refused = officer_session(st, c.req.session_handle, hsm, &s)) {
    c.status = refused;
    return false;
  }
  Partition *p = partition_no < 64 ? st.partitions.at(static_cast<uint8_t>(partition_no)) : nullptr;
  if (!p) {
    c.status = code::kInvalidPartitionId;
    return false;
  }
  if (!hsm && s->partition != p->index && s->partition != kAdminPartition) {
    c.status = code::kInvalidSessForPartition;
    return false;
  }
  out.p = p;
  out.run_key = hsm ? kHsmScopeRun : p->index;
  out.kbk_partition = hsm ? kAdminPartition : p->index;
  return true;
}

// The run of that direction under way for the scope; null (0x81) when none.
BackupRun *run_of(HsmState &st, Call &c, const Scope &sc, bool restore) {
  auto it = st.admin2.backup_runs.find(sc.run_key);
  if (it == st.admin2.backup_runs.end() || it->second.restore != restore) {
    c.status = code::kInvalidInput;
    return nullptr;
  }
  return &it->second;
}

// A record read to its end and no further; else 0x81.
bool read_whole(Call &c, const wire::BeReader &r) {
  if (r.ok() && r.remaining() == 0) return true;
  c.status = code::kInvalidInput;
  return false;
}

// A content request's scope and run in one step.
BackupRun *content(HsmState &st, Call &c, bool hsm, uint32_t partition_no, bool restore,
                   Scope &sc) {
  return reach(st, c, hsm, partition_no, sc) ? run_of(st, c, sc, restore) : nullptr;
}

// The answer record in segment 0; a request without output segments (a
// restore's end) has its verdict in the status alone.
void answer(Call &c, std::vector<uint8_t> record) {
  if (c.out.count() == 0) return;
  if (c.out.capacity(0) < record.size()) {
    c.status = code::kResultSize;
    return;
  }
  c.out.segment(0) = std::move(record);
}

// A blob out: the record (ResponseHeader and the blob's length) in segment
// 0, the blob in segment 1. Without segment 1 the caller asks for the size;
// a segment 1 too small gets 183 with the record. Only a blob handed out
// joins the chain.
void hand_out(Call &c, BackupRun &run, std::vector<uint8_t> blob, bool size_query_allowed) {
  if (blob.empty()) {
    c.status = code::kError;
    return;
  }
  std::vector<uint8_t> rec = std_response(0);
  wire::BeWriter(rec).u32(static_cast<uint32_t>(blob.size()));
  const bool fits = c.out.count() >= 2 && c.out.capacity(1) >= blob.size();
  answer(c, std::move(rec));
  if (c.status) return;
  if (!fits) {
    if (c.out.count() >= 2 || !size_query_allowed) c.status = code::kResultSize;
    return;
  }
  extend(run, blob);
  c.out.segment(1) = std::move(blob);
}

// ---- begin and end ----

void begin(HsmState &st, Call &c) {
  const uint16_t op = c.req.opcode;
  const bool restore = op == op::kRestoreBegin || op == op::kRestoreHsmBegin;
  const bool hsm = op == op::kBackupHsmBegin || op == op::kRestoreHsmBegin;
  auto r = c.reader();
  r.skip(kSessionHeaderSize + 4);
  const uint32_t partition_no = r.u32();
  // A signature, when sent, is carried as its length word and bytes.
  if (r.ok() && r.remaining() != 0) r.skip(r.u32());
  if (!read_whole(c, r)) return;
  Scope sc;
  if (!reach(st, c, hsm, partition_no, sc)) return;
  auto it = st.admin2.backup_runs.find(sc.run_key);
  if (it != st.admin2.backup_runs.end() && it->second.restore != restore) {
    c.status = code::kOperationInProgress;
    return;
  }
  BackupRun run;
  run.restore = restore;
  if (restore) run.users_before = sc.p->users;
  st.admin2.backup_runs[sc.run_key] = std::move(run);
  answer(c, std_response(0));
}

// A restore whose integrity value does not match leaves the partition
// zeroised: its objects, private data and certificates go and its users are
// those it had before the restore began.
void zeroise_restored(HsmState &st, Partition &p, const BackupRun &run) {
  std::vector<uint64_t> gone;
  st.objects.each([&](const obj::Object &o) {
    if (o.partition == p.index) gone.push_back(o.handle);
  });
  for (uint64_t h : gone) st.objects.erase(h);
  std::erase_if(st.admin2.private_data, [&](const auto &e) { return e.first.first == p.index; });
  std::erase_if(st.admin2.certs, [&](const auto &e) { return e.first.first == p.index; });
  p.users = run.users_before;
}

void end(HsmState &st, Call &c) {
  const uint16_t op = c.req.opcode;
  const bool restore = op == op::kRestoreEnd || op == op::kRestoreHsmEnd;
  const bool hsm = op == op::kBackupHsmEnd || op == op::kRestoreHsmEnd;
  auto r = c.reader();
  r.skip(kSessionHeaderSize);
  const uint32_t partition_no = r.u32();
  std::span<const uint8_t> icv;
  if (restore && r.ok() && r.remaining() != 0) icv = r.bytes(r.u32());
  if (!read_whole(c, r)) return;
  Scope sc;
  BackupRun *run = content(st, c, hsm, partition_no, restore, sc);
  if (!run) return;
  const std::vector<uint8_t> mine = icv_of(st, *run, sc.kbk_partition);
  if (!restore) {
    // With outputs: the ICV's length word, then the ICV.
    if (c.out.count() >= 2) {
      std::vector<uint8_t> len;
      wire::BeWriter(len).u32(static_cast<uint32_t>(mine.size()));
      if (c.out.capacity(0) < 4 || c.out.capacity(1) < mine.size()) {
        c.out.segment(0) = std::move(len);
        c.status = code::kResultSize;
        return;  // the run stays for a retry with room for the ICV
      }
      c.out.segment(0) = std::move(len);
      c.out.segment(1) = mine;
    }
    st.admin2.backup_runs.erase(sc.run_key);
    return;
  }
  const bool failed = !icv.empty() && !engine::equal_ct(icv, mine);
  if (failed && !hsm) zeroise_restored(st, *sc.p, *run);
  st.admin2.backup_runs.erase(sc.run_key);
  if (failed) {
    c.status = code::kIntegrityCheckFailed;
    return;
  }
  answer(c, std_response(0));
}

// ---- configuration ----

bk::PartitionSettings settings_of(HsmState &st, const Partition &p) {
  bk::PartitionSettings s;
  s.fips_state = p.fips_state;
  s.policy_bits = p.policy_bits;
  s.max_users = p.max_users;
  s.key_import = p.key_import;
  s.key_export = p.key_export;
  s.node_id = p.node_id;
  const MofNPartition &m = st.admin2.mofn[p.index];
  s.m_values.assign(m.m.begin(), m.m.end());
  s.c_timeout = m.c_timeout;
  s.a_timeout = m.a_timeout;
  return s;
}

void apply_settings(HsmState &st, Partition &p, const bk::PartitionSettings &s) {
  p.fips_state = s.fips_state;
  p.policy_bits = s.policy_bits;
  p.max_users = s.max_users;
  p.key_import = s.key_import;
  p.key_export = s.key_export;
  p.node_id = s.node_id;
  MofNPartition &m = st.admin2.mofn[p.index];
  std::copy_n(s.m_values.begin(), std::min(s.m_values.size(), m.m.size()), m.m.begin());
  m.c_timeout = s.c_timeout;
  m.a_timeout = s.a_timeout;
}

void backup_config(HsmState &st, Call &c) {
  const bool hsm = c.req.opcode == op::kBackupHsmConfig;
  auto r = c.reader();
  r.skip(kSessionHeaderSize);
  const uint32_t target = hsm ? r.u8() : r.u32();
  if (hsm) r.skip(3);
  if (!read_whole(c, r)) return;
  Scope sc;
  BackupRun *run = content(st, c, hsm, hsm ? kAdminPartition : target, false, sc);
  if (!run) return;
  std::vector<uint8_t> plain;
  if (!hsm) {
    plain = bk::partition_settings_bytes(settings_of(st, *sc.p));
  } else {
    bk::HsmConfig cfg;
    if (target == 0) {
      const BoardConfig &b = st.admin.config;
      cfg.label = b.label;
      cfg.group_id = b.group_id;
      cfg.login_failure_count = b.login_failure_count;
      cfg.min_pswd = b.min_pswd;
      cfg.max_pswd = b.max_pswd;
      cfg.cloning = b.cloning;
      cfg.kek_method = b.kek_method;
      cfg.flags = b.flags;
      cfg.cert_auth = b.cert_auth;
      cfg.node_id = b.node_id;
    } else {
      Partition *p = st.partitions.at(static_cast<uint8_t>(target));
      if (!p) {
        c.status = code::kInvalidPartitionId;
        return;
      }
      cfg.partition_entry = true;
      cfg.name = p->name;
      cfg.settings = settings_of(st, *p);
    }
    plain = bk::hsm_config_bytes(cfg);
  }
  const auto kind = hsm ? bk::Kind::HsmConfig : bk::Kind::PartitionConfig;
  hand_out(c, *run, bk::seal(kbk_of(st, sc.kbk_partition), kind, plain), false);
}

// A partition's entry of the HSM configuration: the partition at that
// index, made with the name and sizes of the request when it is missing.
uint32_t restore_partition_entry(HsmState &st, uint32_t index, const std::string &name,
                                 uint32_t keys, uint32_t ctxs, uint32_t devs,
                                 const bk::HsmConfig &cfg) {
  Partition *p = st.partitions.at(static_cast<uint8_t>(index));
  const std::string want = name.empty() ? cfg.name : name;
  if (!p) p = st.partitions.add(want, static_cast<uint8_t>(index));
  if (!p || p->name != want) return code::kPartitionExists;
  p->max_keys = keys;
  p->max_ssl_contexts = ctxs;
  p->max_acclr_devs = static_cast<uint8_t>(std::min<uint32_t>(devs, 255));
  apply_settings(st, *p, cfg.settings);
  return 0;
}

void restore_config(HsmState &st, Call &c) {
  const bool hsm = c.req.opcode == op::kRestoreHsmConfig;
  auto r = c.reader();
  r.skip(kSessionHeaderSize);
  uint32_t len = 0, target = 0, keys = 0, ctxs = 0, devs = 0;
  std::string name;
  if (hsm) {
    len = r.u32();
    target = r.u32();
    keys = r.u32();
    ctxs = r.u32();
    devs = r.u32();
    name = wire::field_text(r.bytes(16));
    r.skip(16);
  } else {
    r.skip(4);
    len = r.u32();
    target = r.u32();
  }
  if (!r.ok() || r.remaining() != len || (hsm && target > 32)) {
    c.status = code::kInvalidInput;
    return;
  }
  const auto blob = r.bytes(len);
  Scope sc;
  BackupRun *run = content(st, c, hsm, hsm ? kAdminPartition : target, true, sc);
  if (!run) return;
  const auto kind = hsm ? bk::Kind::HsmConfig : bk::Kind::PartitionConfig;
  const auto plain = bk::open(kbk_of(st, sc.kbk_partition), kind, blob);
  uint32_t verdict = code::kRestoreConsistency;
  if (plain && !hsm) {
    if (auto s = bk::partition_settings_from(*plain)) {
      apply_settings(st, *sc.p, *s);
      verdict = 0;
    }
  } else if (plain) {
    auto cfg = bk::hsm_config_from(*plain);
    if (cfg && cfg->partition_entry && target != 0) {
      verdict = restore_partition_entry(st, target, name, keys, ctxs, devs, *cfg);
    } else if (cfg && !cfg->partition_entry && target == 0) {
      BoardConfig &b = st.admin.config;
      b.label = cfg->label;
      b.group_id = cfg->group_id;
      b.login_failure_count = cfg->login_failure_count;
      b.min_pswd = cfg->min_pswd;
      b.max_pswd = cfg->max_pswd;
      b.cloning = cfg->cloning;
      b.kek_method = cfg->kek_method;
      b.flags = cfg->flags;
      b.cert_auth = cfg->cert_auth;
      b.node_id = cfg->node_id;
      verdict = 0;
    }
  }
  if (verdict) {
    c.status = verdict;
    return;
  }
  extend(*run, blob);
  answer(c, std_response(0));
}

// ---- users ----

// The run and the partition a users request is about (the HSM scope names
// it in the record); null after the refusal.
Partition *users_target(HsmState &st, Call &c, bool hsm, uint32_t target, bool restore, Scope &sc,
                        BackupRun *&run) {
  run = content(st, c, hsm, hsm ? kAdminPartition : target, restore, sc);
  if (!run) return nullptr;
  Partition *p = hsm ? st.partitions.at(static_cast<uint8_t>(target)) : sc.p;
  if (!p) c.status = code::kInvalidPartitionId;
  return p;
}

bool type_matches(uint32_t wanted, uint32_t type) { return wanted == 0 || wanted == type; }

// One page of sealed user records from `start`: as many as segment 1
// holds. T in the answer counts the users from `start` on, so the page that
// ends the list is the one whose count reaches it.
void backup_users(HsmState &st, Call &c) {
  const bool hsm = c.req.opcode == op::kBackupHsmUsers;
  auto r = c.reader();
  const SessionHeader h = SessionHeader::read(r);
  uint32_t type = 0, target = 0;
  if (hsm) {
    target = r.u8();
    type = r.u8();
    r.skip(2);
  } else {
    type = r.u32();
    target = r.u32();
  }
  if (!read_whole(c, r)) return;
  Scope sc;
  BackupRun *run = nullptr;
  Partition *p = users_target(st, c, hsm, target, false, sc, run);
  if (!p) return;
  std::vector<const User *> users;
  for (const User &u : p->users)
    if (type_matches(type, u.type)) users.push_back(&u);
  const uint32_t start = h.reserved0;
  if (users.empty()) {
    c.status = code::kNoUsersToBackup;
    return;
  }
  if (start > users.size()) {
    c.status = code::kInvalidInput;
    return;
  }
  const uint32_t left = static_cast<uint32_t>(users.size() - start);
  const uint32_t room = c.out.count() >= 2 ? c.out.capacity(1) : 0;
  const uint32_t fit = static_cast<uint32_t>(room / bk::kUserBlobLen);
  uint32_t here = std::min(left, fit);
  std::vector<uint8_t> data;
  for (uint32_t i = 0; i < here; ++i) {
    const User &u = *users[start + i];
    const auto pw = u.password.bytes();
    const auto plain = bk::user_bytes(
        {u.type, u.name, std::vector<uint8_t>(pw.begin(), pw.end()), u.failures, u.locked});
    const auto blob = bk::seal(kbk_of(st, sc.kbk_partition), bk::Kind::User, plain);
    if (plain.empty() || blob.size() != bk::kUserBlobLen) {
      c.status = code::kError;
      return;
    }
    extend(*run, blob);
    data.insert(data.end(), blob.begin(), blob.end());
  }
  // Not one record fits: the page that would come, and no data.
  const bool short_room = here == 0 && left != 0;
  if (short_room) here = 1;
  std::vector<uint8_t> rec =
      std_response(0, start + (short_room ? 0 : here), here, static_cast<uint32_t>(data.size()));
  wire::BeWriter(rec).u32(bk::kUserBlobLen).u32(left).u32(here);
  answer(c, std::move(rec));
  if (c.status) return;
  if (short_room) c.status = code::kResultSize;
  if (!data.empty()) c.out.segment(1) = std::move(data);
}

uint32_t take_user(HsmState &st, Partition &p, const bk::UserRecord &u) {
  if (User *have = p.find_user(u.name)) {
    have->type = u.type;
    have->password = Secret(std::vector<uint8_t>(u.password));
    have->failures = u.failures;
    have->locked = u.locked;
    return 0;
  }
  (void)st;
  if (p.users.size() >= p.max_users) return code::kMaxUsers;
  User n;
  n.id = p.next_user_id++;
  n.name = u.name;
  n.type = u.type;
  n.password = Secret(std::vector<uint8_t>(u.password));
  n.failures = u.failures;
  n.locked = u.locked;
  p.users.push_back(std::move(n));
  return 0;
}

// Segment 0 the record, then one length word per record, then the records.
void restore_users(HsmState &st, Call &c) {
  const bool hsm = c.req.opcode == op::kRestoreHsmUsers;
  wire::BeReader r(c.input(0));
  r.skip(kSessionHeaderSize);
  uint32_t type = 0, count = 0, target = 0;
  if (hsm) {
    count = r.u32();
    target = r.u32();
    type = r.u8();
    r.skip(3);
  } else {
    type = r.u8();
    r.skip(3);
    count = r.u32();
    target = r.u32();
  }
  const size_t inputs = c.input_count();
  const size_t n = inputs >= 3 ? inputs - 2 : 0;
  const size_t each = n ? bk::kUserBlobLen : 0;
  bool ok = r.ok() && r.remaining() == 0 && inputs != 2 && count <= kMaxRestoreUsers && n <= count;
  for (size_t i = 0; ok && i < n; ++i) {
    wire::BeReader w(c.input(1 + i));
    const uint32_t len = w.u32();
    ok = w.ok() && w.remaining() == 0 && len == each;
  }
  if (!ok || (n && c.input(inputs - 1).size() != n * each)) {
    c.status = code::kInvalidInput;
    return;
  }
  Scope sc;
  BackupRun *run = nullptr;
  Partition *p = users_target(st, c, hsm, target, true, sc, run);
  if (!p) return;
  const auto data = n ? c.input(inputs - 1) : std::span<const uint8_t>{};
  for (size_t i = 0; i < n; ++i) {
    const auto blob = data.subspan(i * each, each);
    const auto plain = bk::open(kbk_of(st, sc.kbk_partition), bk::Kind::User, blob);
    const auto u = plain ? bk::user_from(*plain) : std::nullopt;
    uint32_t verdict = u ? 0 : code::kRestoreConsistency;
    if (!verdict && !type_matches(type, u->type)) verdict = code::kUserTypeInvalid;
    if (!verdict) verdict = take_user(st, *p, *u);
    if (verdict) {
      c.status = verdict;
      return;
    }
    extend(*run, blob);
    ++run->users_taken;
  }
  answer(c, std_response(0, run->users_taken));
}

// ---- keys ----

const User *user_by_id(const Partition &p, uint32_t id) {
  for (const User &u : p.users)
    if (u.id == id) return &u;
  return nullptr;
}

void backup_key(HsmState &st, Call &c) {
  auto r = c.reader();
  const SessionHeader h = SessionHeader::read(r);
  r.skip(4);
  const uint64_t handle = r.u64();
  if (!read_whole(c, r)) return;
  Scope sc;
  BackupRun *run = content(st, c, false, h.common_flags, false, sc);
  if (!run) return;
  obj::Object *o = st.objects.find(handle);
  if (!o || o->partition != sc.p->index || !o->token() || o->tombstoned) {
    c.status = code::kInvalidObjHandle;
    return;
  }
  bk::KeyBlob k;
  const User *owner = user_by_id(*sc.p, o->owner);
  k.owner = owner ? owner->name : "";
  k.m_value = o->m_value;
  for (uint16_t id : o->users)
    if (const User *u = user_by_id(*sc.p, id)) k.shared.push_back(u->name);
  k.object = obj::object_bytes(*o, false);
  std::vector<uint8_t> plain = bk::key_bytes(k);
  auto blob = bk::seal(kbk_of(st, sc.kbk_partition), bk::Kind::Key, plain);
  engine::wipe(k.object);
  engine::wipe(plain);
  hand_out(c, *run, std::move(blob), true);
}

uint32_t rebuild_key(HsmState &st, Partition &p, std::span<const uint8_t> plain, obj::Object &o) {
  const auto k = bk::key_from(plain);
  obj::Unmasked u;
  if (!k || obj::object_from_bytes(k->object, u) != 0) return code::kRestoreConsistency;
  o = std::move(u.object);
  const User *owner = p.find_user(k->owner);
  if (!owner) return code::kRestoreOwner;
  o.owner = owner->id;
  o.users.clear();
  for (const std::string &n : k->shared) {
    const User *s = p.find_user(n);
    if (!s) return code::kRestoreOwner;
    o.users.push_back(static_cast<uint16_t>(s->id));
  }
  o.m_value = k->m_value;
  o.partition = p.index;
  o.session = 0;
  o.sessions.clear();
  o.tombstoned = false;
  (void)st;
  return 0;
}

void restore_key(HsmState &st, Call &c) {
  auto r = c.reader();
  const SessionHeader h = SessionHeader::read(r);
  const uint32_t target = r.u32(), len = r.u32();
  if (!r.ok() || r.remaining() != len) {
    c.status = code::kInvalidInput;
    return;
  }
  const auto blob = r.bytes(len);
  Scope sc;
  BackupRun *run = content(st, c, false, target, true, sc);
  if (!run) return;
  auto plain = bk::open(kbk_of(st, sc.kbk_partition), bk::Kind::Key, blob);
  obj::Object o;
  uint32_t verdict = plain ? rebuild_key(st, *sc.p, *plain, o) : code::kRestoreConsistency;
  if (plain) engine::wipe(*plain);
  if (!verdict && st.objects.count(sc.p->index, true) >= sc.p->max_keys)
    verdict = code::kKeyStoreFull;
  const uint64_t was = o.handle;
  const uint64_t at = h.flags & 1 ? (was & obj::kHandleMask) : 0;
  if (!verdict && at && (at < obj::kFirstHandle || st.objects.find(at)))
    verdict = code::kInvalidObjHandle;
  uint64_t now = 0;
  if (!verdict) {
    now = st.objects.add(std::move(o), at);
    if (!now) verdict = code::kMaxObjectsReached;
  }
  if (verdict) {
    c.status = verdict;
    return;
  }
  extend(*run, blob);
  std::vector<uint8_t> rec = std_response(0);
  wire::BeWriter(rec).u64(was).u64(now);
  answer(c, std::move(rec));
}

// ---- partition objects: class 3 with id 0 the private data; ids 3 and 4
// the partition owner's and the partition's certificates ----

uint16_t cert_subject(uint8_t id) {
  return id == kIdPoCert ? kCertPartitionOwner : id == kIdCertByPo ? kCertPartition : 0;
}

void backup_object(HsmState &st, Call &c) {
  auto r = c.reader();
  const SessionHeader h = SessionHeader::read(r);
  const uint8_t cls = r.u8(), id = r.u8();
  r.skip(2);
  if (!read_whole(c, r)) return;
  Scope sc;
  BackupRun *run = content(st, c, false, h.common_flags, false, sc);
  if (!run) return;
  bk::ObjectBlob ob{cls, id, {}};
  if (cls == kClassPartitionData && id == kIdUnknown) {
    for (const auto &[key, b] : st.admin2.private_data)
      if (key.first == sc.p->index && !b.data.empty()) ob.items.emplace_back(key.second, b.data);
  } else if (const uint16_t subject = cert_subject(id)) {
    auto it = st.admin2.certs.find({sc.p->index, subject});
    if (it != st.admin2.certs.end()) ob.items.emplace_back("", it->second);
  }
  if (ob.items.empty() && !(cls == kClassPartitionData && id == kIdUnknown)) {
    c.status = code::kInvalidInput;
    return;
  }
  hand_out(c, *run,
           bk::seal(kbk_of(st, sc.kbk_partition), bk::Kind::Object, bk::object_blob_bytes(ob)),
           true);
}

void restore_object(HsmState &st, Call &c) {
  auto r = c.reader();
  const SessionHeader h = SessionHeader::read(r);
  r.skip(4);
  const uint8_t cls = r.u8(), id = r.u8();
  r.skip(2);
  const uint32_t len = r.u32();
  if (!r.ok() || r.remaining() != len) {
    c.status = code::kInvalidInput;
    return;
  }
  const auto blob = r.bytes(len);
  Scope sc;
  BackupRun *run = content(st, c, false, h.common_flags, true, sc);
  if (!run) return;
  const auto plain = bk::open(kbk_of(st, sc.kbk_partition), bk::Kind::Object, blob);
  const auto ob = plain ? bk::object_blob_from(*plain) : std::nullopt;
  const uint16_t subject = cert_subject(id);
  const bool data = cls == kClassPartitionData && id == kIdUnknown;
  if (!ob || ob->object_class != cls || ob->object_id != id || (!data && !subject) ||
      (subject && ob->items.size() != 1)) {
    c.status = code::kRestoreConsistency;
    return;
  }
  for (const auto &[name, bytes] : ob->items) {
    if (data) {
      if (name.empty() || bytes.size() > kPrivDataMax) continue;
      PrivateBlob b;
      b.data = bytes;
      st.admin2.private_data[{sc.p->index, name}] = std::move(b);
    } else {
      st.admin2.certs[{sc.p->index, subject}] = bytes;
    }
  }
  extend(*run, blob);
  answer(c, std_response(0));
}

}  // namespace

void add_admin2_backup_ops(HandlerTable &t) {
  for (uint16_t op :
       {op::kBackupBegin, op::kBackupHsmBegin, op::kRestoreBegin, op::kRestoreHsmBegin})
    t.add(kMgmtCommand, op, begin);
  for (uint16_t op : {op::kBackupEnd, op::kBackupHsmEnd, op::kRestoreEnd, op::kRestoreHsmEnd})
    t.add(kMgmtCommand, op, end);
  t.add(kMgmtCommand, op::kBackupConfig, backup_config);
  t.add(kMgmtCommand, op::kBackupHsmConfig, backup_config);
  t.add(kMgmtCommand, op::kRestoreConfig, restore_config);
  t.add(kMgmtCommand, op::kRestoreHsmConfig, restore_config);
  t.add(kMgmtCommand, op::kBackupUsers, backup_users);
  t.add(kMgmtCommand, op::kBackupHsmUsers, backup_users);
  t.add(kMgmtCommand, op::kRestoreUsers, restore_users);
  t.add(kMgmtCommand, op::kRestoreHsmUsers, restore_users);
  t.add(kMgmtCommand, op::kBackupKey, backup_key);
  t.add(kMgmtCommand, op::kRestoreKey, restore_key);
  t.add(kMgmtCommand, op::kBackupObject, backup_object);
  t.add(kMgmtCommand, op::kRestoreObject, restore_object);
}

}  // namespace hsmsim::hsm

namespace hsmsim {

bool Hsm::set_kbk_wrapping_key(std::span<const uint8_t> key) {
  if (key.size() != 32) return false;
  std::lock_guard lock(state_->mu);
  state_->admin2.kbk_wrapping.assign(key.begin(), key.end());
  return true;
}

}  // namespace hsmsim
