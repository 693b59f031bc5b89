#include "hsm/ops/session_command.h"

#include "hsm/codes.h"

namespace hsmsim::hsm {

Session *session_of_command(HsmState &st, Call &c, SessionHeader &h) {
  auto r = c.reader();
  h = SessionHeader::read(r);
  if (!r.ok()) return c.fail(code::kInvalidInput), nullptr;
  Session *s = st.sessions.find(h.session);
  if (!s) c.fail(code::kInvalidSession);
  return s;
}

Partition *partition_of_command(HsmState &st, Call &c) {
  auto r = c.reader();
  SessionHeader h = SessionHeader::read(r);
  std::string name = wire::field_text(r.bytes(16));
  if (!r.ok()) return c.fail(code::kInvalidInput), nullptr;
  Session *s = st.sessions.find(h.session);
  if (!s) return c.fail(code::kInvalidSession), nullptr;
  Partition *p = st.partitions.by_name(name);
  if (!p) return c.fail(code::kInvalidPartitionId), nullptr;
  if (s->partition != 0 && s->partition != p->index)
    return c.fail(code::kInvalidSessForPartition), nullptr;
  return p;
}

}  // namespace hsmsim::hsm
