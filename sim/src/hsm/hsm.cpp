// The public face of the stand-in HSM: dispatch through the handler table
// under the request's partition lock and the state lock, and the
// configuration and observation calls of tests.
#include <hsmsim/hsm.h>

#include "hsm/codes.h"
#include "hsm/ops/audit_log.h"
#include "hsm/ops/table.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim {

using namespace hsmsim::hsm;

Hsm::Hsm() : state_(std::make_unique<HsmState>()) {}
Hsm::~Hsm() = default;

namespace {
uint32_t op_key(uint16_t command_type, uint16_t opcode) {
  return uint32_t{command_type} << 16 | opcode;
}
}  // namespace

HsmReply Hsm::execute(const HsmRequest &req) {
  HandlerTable::Entry entry = handlers().entry(req.command_type, req.opcode);
  const uint32_t key = op_key(req.command_type, req.opcode);
  {
    std::lock_guard peek(state_->mu);
    if (auto slow = state_->slow_ops.find(key); slow != state_->slow_ops.end())
      entry.lock = slow->second.whole_partition ? PartitionLock::Whole : PartitionLock::Shared;
  }
  std::shared_mutex &partition = state_->partition_locks[(req.session_handle >> 24) & 0x3F];
  std::shared_lock shared(partition, std::defer_lock);
  std::unique_lock whole(partition, std::defer_lock);
  if (entry.lock == PartitionLock::Whole)
    whole.lock();
  else
    shared.lock();
  std::unique_lock lock(state_->mu);

  HsmReply reply;
  if (auto injected = state_->faults.take(req.command_type, req.opcode)) {
    reply.status = *injected;
    return reply;
  }
  Call call(req, &lock);
  if (auto slow = state_->slow_ops.find(key); slow != state_->slow_ops.end()) {
    std::function<void()> work = slow->second.work;
    call.unlocked(work);
  } else if (entry.handler) {
    entry.handler(*state_, call);
  } else if (is_management_form(req.command_type)) {
    call.fail(code::kInvalidCommand);
  } else {
    call.status = code::kInvalidCommand;
  }
  record_audit(*state_, req, call);
  reply.status = call.status;
  reply.op_ctx = call.op_ctx;
  reply.payload = call.out.payload();
  return reply;
}

void Hsm::reset() {
  std::lock_guard lock(state_->mu);
  state_->seed();
}

// ---- configuration ----

bool Hsm::add_partition(const std::string &name) {
  std::lock_guard lock(state_->mu);
  Partition *p = state_->partitions.add(name);
  if (p) p->fips_state = static_cast<uint8_t>(defaults::kFipsState);
  return p != nullptr;
}

std::vector<std::string> Hsm::partitions() const {
  std::lock_guard lock(state_->mu);
  std::vector<std::string> out;
  state_->partitions.each([&](const Partition &p) { out.push_back(p.name); });
  return out;
}

bool Hsm::add_user(const std::string &partition, const std::string &name, UserType type,
                   const std::string &password) {
  std::lock_guard lock(state_->mu);
  Partition *p = state_->partitions.by_name(partition);
  if (!p || name.empty() || name.size() > kMaxNameLen) return false;
  User *u = p->find_user(name);
  if (!u) {
    p->users.emplace_back();
    u = &p->users.back();
    u->id = p->next_user_id++;
    u->name = name;
  }
  u->type = static_cast<uint32_t>(type);
  u->password = Secret(password);
  u->failures = 0;
  u->locked = false;
  return true;
}

bool Hsm::remove_user(const std::string &partition, const std::string &name) {
  std::lock_guard lock(state_->mu);
  Partition *p = state_->partitions.by_name(partition);
  if (!p) return false;
  auto before = p->users.size();
  std::erase_if(p->users, [&](const User &u) { return u.name == name; });
  return p->users.size() != before;
}

namespace {
UserView view_of(const User &u) {
  return UserView{u.id, u.name, static_cast<UserType>(u.type), u.failures, u.locked};
}
}  // namespace

std::optional<UserView> Hsm::user(const std::string &partition, const std::string &name) const {
  std::lock_guard lock(state_->mu);
  Partition *p = state_->partitions.by_name(partition);
  User *u = p ? p->find_user(name) : nullptr;
  if (!u) return std::nullopt;
  return view_of(*u);
}

std::vector<UserView> Hsm::users(const std::string &partition) const {
  std::lock_guard lock(state_->mu);
  std::vector<UserView> out;
  if (Partition *p = state_->partitions.by_name(partition))
    for (const auto &u : p->users) out.push_back(view_of(u));
  return out;
}

void Hsm::unlock_user(const std::string &partition, const std::string &name) {
  std::lock_guard lock(state_->mu);
  Partition *p = state_->partitions.by_name(partition);
  if (User *u = p ? p->find_user(name) : nullptr) {
    u->failures = 0;
    u->locked = false;
  }
}

void Hsm::set_login_failure_limit(uint32_t crypto_users, uint32_t officers) {
  std::lock_guard lock(state_->mu);
  state_->id.user_fail_limit = crypto_users;
  state_->id.officer_fail_limit = officers;
}

void Hsm::set_fips_state(uint32_t s) {
  std::lock_guard lock(state_->mu);
  state_->id.fips_state = s;
}

bool Hsm::set_partition_fips_state(const std::string &partition, uint8_t s) {
  std::lock_guard lock(state_->mu);
  Partition *p = state_->partitions.by_name(partition);
  if (p) p->fips_state = s;
  return p != nullptr;
}

void Hsm::set_serial_number(const std::string &serial) {
  std::lock_guard lock(state_->mu);
  state_->id.serial = serial;
}

void Hsm::set_bootloader_string(const std::string &text) {
  std::lock_guard lock(state_->mu);
  state_->id.bootloader = text;
}

void Hsm::set_firmware_version(uint8_t major, uint8_t minor) {
  std::lock_guard lock(state_->mu);
  state_->id.fw_major = major;
  state_->id.fw_minor = minor;
}

std::array<uint8_t, 2> Hsm::firmware_version() const {
  std::lock_guard lock(state_->mu);
  return {state_->id.fw_major, state_->id.fw_minor};
}

void Hsm::inject_request_status(uint16_t opcode, uint32_t status, int times,
                                uint16_t command_type) {
  std::lock_guard lock(state_->mu);
  state_->faults.add(command_type, opcode, status, times);
}

void Hsm::set_slow_operation(uint16_t command_type, uint16_t opcode, std::function<void()> work,
                             bool whole_partition) {
  std::lock_guard lock(state_->mu);
  if (work)
    state_->slow_ops[op_key(command_type, opcode)] = {std::move(work), whole_partition};
  else
    state_->slow_ops.erase(op_key(command_type, opcode));
}

void Hsm::inject_retry(uint16_t opcode, int times) {
  inject_request_status(opcode, code::kRetryOp, times);
}

// ---- observation ----

namespace {
SessionView view_of(HsmState &st, const Session &s) {
  SessionView v;
  v.handle = s.handle;
  if (Application *a = st.apps.by_index(s.app_index)) v.app_id = a->id;
  v.partition = s.partition;
  v.slot = s.slot;
  v.flags = s.flags;
  v.state = static_cast<SessionState>(st.session_state(s));
  return v;
}

ApplicationView view_of(HsmState &st, const Application &a) {
  ApplicationView v;
  v.app_id = a.id;
  v.partition = a.partition;
  v.nonce = a.nonce;
  if (a.login) {
    v.logged_in_user = a.login->user;
    v.logged_in_type = static_cast<UserType>(a.login->type);
  }
  v.sessions = st.sessions.count_of_app(a.index);
  return v;
}
}  // namespace

std::vector<SessionView> Hsm::sessions() const {
  std::lock_guard lock(state_->mu);
  std::vector<SessionView> out;
  for (const auto &[h, s] : state_->sessions.all()) out.push_back(view_of(*state_, s));
  return out;
}

std::optional<SessionView> Hsm::session(uint32_t handle) const {
  std::lock_guard lock(state_->mu);
  Session *s = state_->sessions.find(handle);
  if (!s) return std::nullopt;
  return view_of(*state_, *s);
}

std::vector<ApplicationView> Hsm::applications() const {
  std::lock_guard lock(state_->mu);
  std::vector<ApplicationView> out;
  for (const auto &[i, a] : state_->apps.all()) out.push_back(view_of(*state_, a));
  return out;
}

std::optional<ApplicationView> Hsm::application(uint32_t app_id) const {
  std::lock_guard lock(state_->mu);
  Application *a = state_->apps.find(app_id);
  if (!a) return std::nullopt;
  return view_of(*state_, *a);
}

}  // namespace hsmsim
