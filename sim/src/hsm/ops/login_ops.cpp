// Login and logout of the application behind a session, and a user's
// login failure count. Failed logins count per user; a user is locked when
// the count reaches the limit of its type, until unlocked.
#include "hsm/codes.h"
#include "hsm/ops/session_command.h"
#include "hsm/ops/table.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm {

namespace {

constexpr uint32_t kSignedLoginFlag = 0x40000000;
constexpr uint32_t kPasswordRoom = 356;  // room for password and signature in the login body
constexpr uint32_t kTwoFactorUser = 4;

bool valid_user_type(uint32_t t) { return t >= 1 && t <= 6; }

// A two-factor user logs in as a crypto user with the signed-login flag.
bool type_matches(const User &u, uint32_t sent_type, uint32_t flags) {
  if (u.type == sent_type) return true;
  return u.type == kTwoFactorUser && sent_type == 1 && (flags & kSignedLoginFlag);
}

void login(HsmState &st, Call &c) {
  auto r = c.reader();
  SessionHeader h = SessionHeader::read(r);
  uint32_t type = r.u32();
  uint32_t name_len = r.u32();
  std::string name = wire::field_text(r.bytes(32));
  uint32_t pswd_len = r.u32();
  if (!r.ok()) return c.fail(code::kInvalidInput);
  Session *s = st.sessions.find(h.session);
  if (!s) return c.fail(code::kInvalidSession);
  if (name_len > kMaxNameLen || name.size() != name_len || pswd_len > kPasswordRoom ||
      !r.has(pswd_len))
    return c.fail(code::kInvalidInput);
  auto password = r.bytes(pswd_len);
  if (!valid_user_type(type)) return c.fail(code::kUserTypeInvalid);

  Application *a = st.apps.by_index(s->app_index);
  if (!a) return c.fail(code::kInvalidSession);
  Partition *p = st.partitions.at(s->partition);
  User *u = p ? p->find_user(name) : nullptr;
  if (a->login) {
    bool same = u && a->login->user == u->name && type_matches(*u, type, h.flags);
    return c.fail(same ? code::kUserAlreadyLoggedIn : code::kUserAnotherLoggedIn);
  }
  if (!u || !type_matches(*u, type, h.flags)) return c.fail(code::kUserLoginFailure);
  if (u->locked) return c.fail(code::kUserLoginFailCount);
  if (!u->password.matches(password)) {
    if (++u->failures >= st.fail_limit(u->type)) u->locked = true;
    return c.fail(code::kUserLoginFailure);
  }
  u->failures = 0;
  a->login = LoginState{u->name, u->type};
  c.ok();
}

void logout(HsmState &st, Call &c) {
  SessionHeader h;
  Session *s = session_of_command(st, c, h);
  if (!s) return;
  Application *a = st.apps.by_index(s->app_index);
  if (!a || !a->login) return c.fail(code::kUserNotLoggedIn);
  a->login.reset();
  c.ok();
}

void login_failure_count(HsmState &st, Call &c) {
  auto r = c.reader();
  uint32_t type = r.u32();
  std::string name = wire::field_text(r.bytes(32));
  if (!r.ok()) return c.fail(code::kInvalidInput);
  Session *s = st.sessions.find(c.req.session_handle);
  if (!s) return c.fail(code::kInvalidSession);
  Partition *p = st.partitions.at(s->partition);
  User *u = p ? p->find_user(name) : nullptr;
  if (!u || !type_matches(*u, type, 0)) return c.fail(code::kUserDoesNotExist);
  c.respond(std_response(code::kOk, u->failures & 0x3FFFFFFF));
}

}  // namespace

void add_login_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kLogin, login);
  t.add(kMgmtCommand, op::kLogout, logout);
  t.add(kMgmtCommand, op::kGetLoginFailureCount, login_failure_count);
}

}  // namespace hsmsim::hsm
