#include "hsm/objects/access.h"

#include <algorithm>

#include "hsm/objects/codes.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm::obj {

uint32_t actor_of(HsmState &st, uint32_t session_handle, Actor &out) {
  Session *s = st.sessions.find(session_handle);
  if (!s) return rc::kInvalidSession;
  Application *a = st.apps.by_index(s->app_index);
  Partition *p = st.partitions.at(s->partition);
  if (!a || !p) return rc::kInvalidSession;
  if (!a->login) return rc::kUserNotLoggedIn;
  User *u = p->find_user(a->login->user);
  if (!u) return rc::kUserNotLoggedIn;  // removed while logged in
  out = Actor{s->handle, s->partition, u->id, a->login->type};
  return rc::kOk;
}

bool is_officer(uint32_t user_type) {
  return user_type == static_cast<uint32_t>(UserType::CryptoOfficer) ||
         user_type == static_cast<uint32_t>(UserType::PartitionCryptoOfficer) ||
         user_type == static_cast<uint32_t>(UserType::PreCryptoOfficer);
}

bool can_use(const Actor &a, const Object &o) {
  if (o.partition != a.partition) return false;
  bool user_ok =
      o.owner == a.user || std::find(o.users.begin(), o.users.end(), a.user) != o.users.end();
  if (!user_ok) return false;
  if (o.session == 0) return true;
  return o.session == a.session ||
         std::find(o.sessions.begin(), o.sessions.end(), a.session) != o.sessions.end();
}

bool can_manage(const Actor &a, const Object &o) { return can_use(a, o) && o.owner == a.user; }

uint32_t object_for(HsmState &st, const Actor &a, uint64_t handle, Right right, Object *&out) {
  Object *o = st.objects.find(handle);
  if (!o || o->partition != a.partition) return rc::kInvalidObjHandle;
  if (o->tombstoned) return rc::kTombstoned;
  if (!(right == Right::Use ? can_use(a, *o) : can_manage(a, *o))) return rc::kKeyAccessDenied;
  out = o;
  return rc::kOk;
}

}  // namespace hsmsim::hsm::obj
