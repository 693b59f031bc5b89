// Sessions: open, close (one, all of the application, all of a partition),
// information and authorisation.
#include "hsm/codes.h"
#include "hsm/engine/secure.h"
#include "hsm/ops/session_command.h"
#include "hsm/ops/table.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm {

namespace {

constexpr size_t kServerRandomSize = 32;

void open_session(HsmState &st, Call &c) {
  auto r = c.reader();
  uint32_t nonce = read_nonce_header(r);
  uint32_t flags = r.u32();
  uint16_t slot = r.u16();
  r.skip(2 + 4);
  uint32_t app_id = r.u32();
  r.u8();  // make-master: the stand-in keeps no master role
  if (!r.ok()) return c.fail(code::kInvalidInput);
  Application *a = st.apps.find(app_id);
  if (!a || a->nonce != nonce) return c.fail(code::kAppNotInitialized);
  Session *s = st.sessions.open(a->partition, a->index, slot, flags);
  if (!s) return c.fail(code::kMaxSessions);
  std::vector<uint8_t> rec = std_response(code::kOk);
  wire::BeWriter(rec).u32(s->handle);
  c.respond(std::move(rec));
  if (c.out.count() > 1) {
    auto &random = c.out.segment(1);
    random.resize(kServerRandomSize);
    engine::fill_random(random);
  }
}

void close_session(HsmState &st, Call &c) {
  SessionHeader h;
  Session *s = session_of_command(st, c, h);
  if (!s) return;
  Application *a = st.apps.by_index(s->app_index);
  if (!a || a->nonce != h.flags) return c.fail(code::kAppNotInitialized);
  uint32_t handle = s->handle;
  st.close_sessions([&](const Session &x) { return x.handle == handle; });
  c.ok();
}

void close_all_sessions(HsmState &st, Call &c) {
  // No command record: the session travels only in the message header.
  Session *s = st.sessions.find(c.req.session_handle);
  if (!s) return c.fail(code::kInvalidSession);
  uint16_t app = s->app_index;
  st.close_sessions([&](const Session &x) { return x.app_index == app; });
  c.ok();
}

void close_partition_sessions(HsmState &st, Call &c) {
  Partition *p = partition_of_command(st, c);
  if (!p) return;
  uint8_t target = p->index;
  st.close_sessions([&](const Session &x) { return x.partition == target; });
  c.ok();
}

void get_session_info(HsmState &st, Call &c) {
  SessionHeader h;
  Session *s = session_of_command(st, c, h);
  if (!s) return;
  std::vector<uint8_t> rec = std_response(code::kOk);
  wire::BeWriter(rec).u32(s->slot).u32(st.session_state(*s)).u32(s->flags).u32(0);
  c.respond(std::move(rec));
}

void authorize_session(HsmState &st, Call &c) {
  auto r = c.reader();
  SessionHeader h = SessionHeader::read(r);
  uint32_t target = r.u32();
  if (!r.ok()) return c.fail(code::kInvalidInput);
  Session *s = st.sessions.find(h.session);
  Session *t = st.sessions.find(target);
  if (!s || !t) return c.fail(code::kInvalidSession);
  Application *a = st.apps.by_index(s->app_index);
  if (!a || !a->login) return c.fail(code::kUserNotLoggedIn);
  t->authorized_by = s->handle;
  c.ok();
}

}  // namespace

void add_session_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kOpenSession, open_session);
  t.add(kMgmtCommand, op::kCloseSession, close_session);
  t.add(kMgmtCommand, op::kCloseAllSessions, close_all_sessions);
  t.add(kMgmtCommand, op::kClosePartitionSessions, close_partition_sessions);
  t.add(kMgmtCommand, op::kGetSessionInfo, get_session_info);
  t.add(kMgmtCommand, op::kAuthorizeSession, authorize_session);
}

}  // namespace hsmsim::hsm
