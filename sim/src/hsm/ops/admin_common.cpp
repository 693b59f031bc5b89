#include "hsm/ops/admin_common.h"

#include "hsm/codes.h"

namespace hsmsim::hsm {

namespace {
bool officer_type(uint32_t t) {
  return t == static_cast<uint32_t>(UserType::CryptoOfficer) ||
         t == static_cast<uint32_t>(UserType::PartitionCryptoOfficer);
}
}  // namespace

uint32_t officer_session(HsmState &st, uint32_t handle, bool hsm_wide, Session **out) {
  Session *s = st.sessions.find(handle);
  if (!s) return code::kInvalidSession;
  Application *a = st.apps.by_index(s->app_index);
  if (!a || !a->login) return code::kUserNotLoggedIn;
  if (!officer_type(a->login->type)) return code::kPermissionDenied;
  if (hsm_wide && s->partition != kAdminPartition) return code::kPermissionDenied;
  *out = s;
  return 0;
}

Session *officer_of_command(HsmState &st, Call &c, bool hsm_wide, SessionHeader *hp) {
  auto r = c.reader();
  SessionHeader h = SessionHeader::read(r);
  if (!r.ok()) return c.fail(code::kInvalidInput), nullptr;
  if (hp) *hp = h;
  Session *s = nullptr;
  if (uint32_t refused = officer_session(st, h.session, hsm_wide, &s))
    return c.fail(refused), nullptr;
  return s;
}

User *logged_in_user(HsmState &st, const Session &s) {
  Application *a = st.apps.by_index(s.app_index);
  Partition *p = st.partitions.at(s.partition);
  if (!a || !a->login || !p) return nullptr;
  return p->find_user(a->login->user);
}

}  // namespace hsmsim::hsm
