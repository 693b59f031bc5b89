// Users of a partition, managed from an officer's session: create (the
// opcode names the user type), delete, list page by page in id order, and
// change a password (also the logged-in user's own).
#include <algorithm>

#include "hsm/codes.h"
#include "hsm/ops/admin_common.h"
#include "hsm/ops/table.h"

namespace hsmsim::hsm {

namespace {

constexpr uint32_t kPublicKeyFlag = 0x40000000;
constexpr size_t kPublicKeyLen = 512;

// CreateUserCommand / SetPINCommand after the header.
struct UserRecord {
  uint32_t type = 0;
  std::string name;
  std::span<const uint8_t> password;
};

bool valid_name(const std::string &n) {
  if (n.empty() || n.size() > kMaxNameLen) return false;
  return std::all_of(n.begin(), n.end(), [](char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
           ch == '_';
  });
}

// Reads the record; the attachments after the password are carried, not checked.
bool read_record(Call &c, const SessionHeader &, UserRecord &u) {
  auto r = c.reader();
  r.skip(kSessionHeaderSize);
  u.type = r.u32();
  uint32_t name_len = r.u32();
  u.name = wire::field_text(r.bytes(32));
  uint32_t pswd_len = r.u32();
  if (!r.ok() || u.name.size() != name_len || !r.has(pswd_len)) return false;
  u.password = r.bytes(pswd_len);
  return true;
}

bool password_fits(const HsmState &st, std::span<const uint8_t> p) {
  return p.size() >= st.admin.config.min_pswd && p.size() <= st.admin.config.max_pswd;
}

uint32_t type_of_create(uint16_t opcode) {
  switch (opcode) {
    case op::kCreateUser:
      return static_cast<uint32_t>(UserType::CryptoUser);
    case op::kCreateOfficer:
      return static_cast<uint32_t>(UserType::CryptoOfficer);
    case op::kCreateApplianceUser:
      return static_cast<uint32_t>(UserType::ApplianceUser);
    default:
      return static_cast<uint32_t>(UserType::PreCryptoOfficer);
  }
}

void create_user(HsmState &st, Call &c) {
  SessionHeader h;
  Session *s = officer_of_command(st, c, false, &h);
  if (!s) return;
  UserRecord u;
  if (!read_record(c, h, u) || !valid_name(u.name) || !password_fits(st, u.password))
    return c.fail(code::kInvalidInput);
  if (u.type != type_of_create(c.req.opcode)) return c.fail(code::kUserTypeInvalid);
  if ((h.flags & kPublicKeyFlag) &&
      c.body().size() < kUserRecordSize + u.password.size() + kPublicKeyLen)
    return c.fail(code::kInvalidInput);
  Partition *p = st.partitions.at(s->partition);
  if (!p) return c.fail(code::kInvalidSession);
  if (p->find_user(u.name)) return c.fail(code::kUserExists);
  if (p->users.size() >= p->max_users) return c.fail(code::kMaxUsers);
  User nu;
  nu.id = p->next_user_id++;
  nu.name = u.name;
  nu.type = u.type;
  nu.password = Secret(std::vector<uint8_t>(u.password.begin(), u.password.end()));
  p->users.push_back(std::move(nu));
  c.ok();
}

bool logged_in_anywhere(HsmState &st, uint8_t partition, const std::string &name) {
  for (const auto &[i, a] : st.apps.all())
    if (a.partition == partition && a.login && a.login->user == name) return true;
  return false;
}

void delete_user(HsmState &st, Call &c) {
  Session *s = officer_of_command(st, c, false);
  if (!s) return;
  auto r = c.reader();
  r.skip(kSessionHeaderSize);
  uint32_t type = r.u32();
  uint32_t name_len = r.u32();
  std::string name = wire::field_text(r.bytes(32));
  if (!r.ok() || name.size() != name_len) return c.fail(code::kInvalidInput);
  Partition *p = st.partitions.at(s->partition);
  User *u = p ? p->find_user(name) : nullptr;
  if (!u || u->type != type) return c.fail(code::kUserDoesNotExist);
  if (st.admin.config.block_delete_user()) return c.fail(code::kPermissionDenied);
  if (logged_in_anywhere(st, p->index, name)) return c.fail(code::kLoggedInUserChangeDenied);
  std::erase_if(p->users, [&](const User &x) { return x.name == name; });
  c.ok();
}

void list_users(HsmState &st, Call &c) {
  Session *s = officer_of_command(st, c, false);
  if (!s) return;
  auto r = c.reader();
  r.skip(kSessionHeaderSize);
  uint32_t begin = r.u32();
  uint32_t wanted = r.u32();
  if (!r.ok()) return c.fail(code::kInvalidInput);
  Partition *p = st.partitions.at(s->partition);
  if (!p) return c.fail(code::kInvalidSession);
  std::vector<const User *> after;
  for (const auto &u : p->users)
    if (u.id > begin) after.push_back(&u);
  std::sort(after.begin(), after.end(), [](auto *a, auto *b) { return a->id < b->id; });
  size_t n = std::min<size_t>(wanted, after.size());

  std::vector<uint8_t> records;
  wire::BeWriter w(records);
  for (size_t i = 0; i < n; ++i)
    w.u32(after[i]->id).u32(after[i]->type).text(after[i]->name, 32).u32(after[i]->failures);
  // Without a page segment only the counts go back; one too small for the page gets 183.
  bool page_out = c.out.count() > 1;
  uint32_t code = page_out && records.size() > c.out.capacity(1) ? code::kResultSize : code::kOk;
  auto head =
      std_response(code, 0, static_cast<uint32_t>(records.size()),
                   code == code::kOk && page_out ? static_cast<uint32_t>(records.size()) : 0);
  wire::BeWriter(head).u32(static_cast<uint32_t>(p->users.size())).u32(static_cast<uint32_t>(n));
  c.respond(std::move(head));
  if (code == code::kOk && page_out) c.out.segment(1) = std::move(records);
}

void change_password(HsmState &st, Call &c) {
  auto r = c.reader();
  SessionHeader h = SessionHeader::read(r);
  if (!r.ok()) return c.fail(code::kInvalidInput);
  Session *s = st.sessions.find(h.session);
  if (!s) return c.fail(code::kInvalidSession);
  UserRecord rec;
  if (!read_record(c, h, rec) || !password_fits(st, rec.password))
    return c.fail(code::kInvalidInput);
  User *self = logged_in_user(st, *s);
  if (!self) return c.fail(code::kUserNotLoggedIn);
  Partition *p = st.partitions.at(s->partition);
  User *u = p ? p->find_user(rec.name) : nullptr;
  if (!u || u->type != rec.type) return c.fail(code::kUserDoesNotExist);
  // Officers change anyone's password; every user may change their own.
  Session *officer = nullptr;
  if (u != self && officer_session(st, h.session, false, &officer) != 0)
    return c.fail(code::kPermissionDenied);
  u->password = Secret(std::vector<uint8_t>(rec.password.begin(), rec.password.end()));
  u->failures = 0;
  u->locked = false;
  c.ok();
}

}  // namespace

void add_admin_user_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kCreateUser, create_user);
  t.add(kMgmtCommand, op::kCreateOfficer, create_user);
  t.add(kMgmtCommand, op::kCreateApplianceUser, create_user);
  t.add(kMgmtCommand, op::kCreatePreOfficer, create_user);
  t.add(kMgmtCommand, op::kDeleteUser, delete_user);
  t.add(kMgmtCommand, op::kListUsers, list_users);
  t.add(kMgmtCommand, op::kChangePassword, change_password);
}

}  // namespace hsmsim::hsm
