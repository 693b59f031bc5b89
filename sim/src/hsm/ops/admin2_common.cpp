#include "hsm/ops/admin2_common.h"

#include "hsm/codes.h"

namespace hsmsim::hsm {

Session *logged_in_session(HsmState &st, uint32_t handle, uint32_t *refused) {
  Session *s = st.sessions.find(handle);
  if (!s) {
    *refused = code::kInvalidSession;
    return nullptr;
  }
  Application *a = st.apps.by_index(s->app_index);
  if (!a || !a->login) {
    *refused = code::kUserNotLoggedIn;
    return nullptr;
  }
  *refused = 0;
  return s;
}

std::string name_field(wire::BeReader &r, size_t width) {
  auto b = r.bytes(width);
  std::string n(b.begin(), b.end());
  return n.substr(0, n.find('\0'));
}

}  // namespace hsmsim::hsm
