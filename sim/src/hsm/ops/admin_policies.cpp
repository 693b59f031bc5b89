// The HSM's policy set: read whole (raw answer, 183 as the request status
// when the buffer is short) and changed one policy at a time.
#include "hsm/codes.h"
#include "hsm/ops/admin_common.h"
#include "hsm/ops/table.h"

namespace hsmsim::hsm {

namespace {

constexpr size_t kSetPolicyHead = 72;

void get_policy_set(HsmState &st, Call &c) {
  if (!st.sessions.find(c.req.session_handle)) {
    c.status = code::kInvalidSession;
    return;
  }
  std::vector<uint8_t> set;
  wire::BeWriter w(set);
  for (const auto &p : st.admin.policies)
    w.u32(p.id).u32(static_cast<uint32_t>(p.value.size())).bytes(p.value);
  std::vector<uint8_t> head;
  wire::BeWriter(head)
      .u16(static_cast<uint16_t>(st.admin.policies.size()))
      .u16(static_cast<uint16_t>(set.size()))
      .u32(0);
  c.out.segment(0) = std::move(head);
  if (c.out.count() < 2) return;  // a size query
  if (set.size() > c.out.capacity(1)) {
    c.status = code::kResultSize;
    return;
  }
  c.out.segment(1) = std::move(set);
}

void set_policy(HsmState &st, Call &c) {
  Session *s = nullptr;
  if (uint32_t refused = officer_session(st, c.req.session_handle, true, &s)) {
    c.status = refused;
    return;
  }
  auto r = c.reader();
  r.skip(64);
  uint32_t id = r.u32(), size = r.u32();
  if (!r.ok() || !r.has(size) || c.body().size() != kSetPolicyHead + size) {
    c.status = code::kInvalidInput;
    return;
  }
  auto value = r.bytes(size);
  for (auto &p : st.admin.policies) {
    if (p.id != id) continue;
    if (p.value.size() != size) {
      c.status = code::kInvalidPolicyValue;
      return;
    }
    p.value.assign(value.begin(), value.end());
    return;
  }
  c.status = code::kInvalidPolicy;
}

}  // namespace

void add_admin_policy_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kGetPolicySet, get_policy_set);
  t.add(kMgmtCommand, op::kSetPolicy, set_policy);
}

}  // namespace hsmsim::hsm
