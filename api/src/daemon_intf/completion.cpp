// Collecting the results of non-blocking requests, cluster results and the
// driver state, at the SDK level.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/device_index.h"
#include "daemon_intf/sdk_state.h"
#include "daemon_intf/transport_internal.h"
#include "qel2_errors.h"

namespace {

bool valid_device(Uint32 dev_id) { return qel2::valid_device_index(dev_id); }

Uint32 bad_device(Uint32 dev_id) {
  printf("Invalid device id %u, valid [0 to %d]\n", dev_id,
         static_cast<int>(qel2::kMaxDevices - 1));
  return ERR_ARGUMENTS_BAD;
}

}  // namespace

Uint32 Qel2CheckForCompletionCommon(Uint32 dev_id, Uint32 request_id) {
  (void)dev_id;
  request_status rs{request_id, 0, 0};
  Int32 r = orx_tessaline_cli_send_daemon(&rs, HSM_REQUEST_STATUS, 0, nullptr, nullptr);
  return r ? static_cast<Uint32>(r) : rs.status;
}

Uint32 Qel2CheckForCompletion(Uint32 request_id) {
  return Qel2CheckForCompletionCommon(0, request_id);
}

Uint32 Qel2CheckForCompletion2(Uint32 dev_id, Uint32 request_id) {
  if (!valid_device(dev_id)) return bad_device(dev_id);
  return Qel2CheckForCompletionCommon(dev_id, request_id);
}

Uint32 Qel2GetAllResults(Uint32 dev_id, request_status *req_stat_buf, Uint32 buf_size,
                         Uint32 *res_count) {
  if (buf_size == 0 || buf_size % sizeof(request_status) != 0) return ERR_ILLEGAL_INPUT_LENGTH;
  if (!req_stat_buf || !res_count) {
    printf("Null parameters are passed\n");
    return ERR_ARGUMENTS_BAD;
  }
  if (!valid_device(dev_id)) return bad_device(dev_id);
  request_status_list list{};
  list.cnt = buf_size / static_cast<Uint32>(sizeof(request_status));
  list.res_cnt = 0;
  list.req_stat_buf = reinterpret_cast<uintptr_t>(req_stat_buf);
  Int32 r = orx_tessaline_cli_send_daemon(&list, HSM_ALL_REQUEST_STATUS, 0, nullptr, nullptr);
  if (r == 0) *res_count = list.res_cnt;
  return static_cast<Uint32>(r);
}

Uint32 Qel2FlushRequest(Uint32 request_id) {
  (void)request_id;
  return 0;
}

Uint32 Qel2FlushAllRequests(Uint32 dev_id) {
  (void)dev_id;
  return 0;
}

Uint32 Qel2GetReqClusterStatus(Uint32 session_handle, op_error_state_t *cluster_status,
                               Uint32 request_id) {
  (void)session_handle;
  if (!cluster_status) {
    printf("Null parameters are passed\n");
    return ERR_ARGUMENTS_BAD;
  }
  cluster_req_status cs{};
  cs.request_id = request_id;
  Int32 r = orx_tessaline_cli_send_daemon(&cs, CLUSTER_REQUEST_STATUS, 0, nullptr, nullptr);
  if (r) return static_cast<Uint32>(r);
  memcpy(cluster_status, cs.op_err, sizeof cs.op_err);
  return 0;
}

Uint32 Qel2GetDriverState(Uint32 dev_id) {
  if (!valid_device(dev_id)) return bad_device(dev_id);
  return QEL1_driver_handle[dev_id] == -1 ? 0xFFFFFFFFu : 0;
}
