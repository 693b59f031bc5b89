// The HSM's policy set (read raw, as the HSM keeps it) and the change of one
// policy.
#include "mgmt/mgmt_common.h"
#include "qel2_admin.h"
#include "qel2_errors.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {
constexpr size_t kPolicySetHeadLen = 8;  // num_policies, total_size, reserved
constexpr size_t kSetPolicyCmdLen = 72;  // 64 reserved bytes, id, size
}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2GetPolicySet(getPolicyArgs *args) {
  if (args == nullptr) return ERR_INVALID_INPUT;
  uint8_t head[kPolicySetHeadLen] = {};
  const Uint16 room = args->policies ? args->total_size : 0;
  MgmtRequest rq(KQ_GET_POLICY_SET, masked_session(args->ulSessionHandle));
  rq.out(head, sizeof head);
  if (args->policies) rq.out(args->policies, room);
  rq.send();
  const Uint32 r = rq.status_result();
  // A short buffer still learns the size it needs.
  if (rq.status_decode() != MgmtRequest::Decode::kNo) {
    args->num_policies = be16_at(head);
    args->total_size = be16_at(head + 2);
  }
  return r;
}

QEL2_EXPORT Uint32 Qel2SetPolicy(setPolicyArgs *args) {
  if (args == nullptr || args->policy == nullptr) return ERR_INVALID_INPUT;
  const Policy *p = args->policy;
  CommandRecord<kSetPolicyCmdLen> cmd;
  cmd.w.zeros(64).u32(p->id).u32(p->size);
  MgmtRequest rq(KQ_SET_POLICY, masked_session(args->ulSessionHandle));
  rq.command(cmd).in(p->value, p->size);
  if (Uint32 r = rq.check_data_len()) return r;
  rq.params(0, 0);
  rq.send();
  return rq.status_result();
}

}  // extern "C"
