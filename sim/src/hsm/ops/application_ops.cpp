// Application initialise and finalise: register an application of a
// partition and hand out its id and login nonce; drop it again.
#include "hsm/codes.h"
#include "hsm/ops/table.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm {

namespace {

void app_initialize(HsmState &st, Call &c) {
  auto r = c.reader();
  read_nonce_header(r);
  std::string name = wire::field_text(r.bytes(16));
  if (!r.ok()) return c.fail(code::kInvalidInput);
  Partition *p = st.partitions.by_name(name);
  if (!p) return c.fail(code::kInvalidPartitionId);
  Application *a = st.apps.add(p->index, st.random_u32_nonzero());
  if (!a) return c.fail(code::kMaxAppsReached);
  std::vector<uint8_t> rec = std_response(code::kOk, a->nonce);
  wire::BeWriter(rec).u32(a->id);
  c.respond(std::move(rec));
}

void app_finalize(HsmState &st, Call &c) {
  auto r = c.reader();
  read_nonce_header(r);
  uint32_t app_id = r.u32();
  uint32_t nonce = r.u32();
  if (!r.ok()) return c.fail(code::kInvalidInput);
  Application *a = st.apps.find(app_id);
  if (!a || a->nonce != nonce) return c.fail(code::kAppNotInitialized);
  uint16_t index = a->index;
  st.close_sessions([&](const Session &s) { return s.app_index == index; });
  st.apps.remove(index);
  c.ok();
}

}  // namespace

void add_application_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kAppInitialize, app_initialize);
  t.add(kMgmtCommand, op::kAppFinalize, app_finalize);
}

}  // namespace hsmsim::hsm
