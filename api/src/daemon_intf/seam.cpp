// Test seams: start and stop the connection table without the SDK start,
// set a thread's request-id counters, look at a pending request.
#include <unistd.h>

#include <cstring>

#include "daemon_intf/sdk_state.h"
#include "daemon_intf/transport_internal.h"
#include "daemon_intf/transport_seam.h"
#include "qel2_errors.h"

Int32 transport_seam_start() {
  orx_tessaline_cli_delete_threads_table();
  orx_tessaline_cli_thread_hash *table = orx_tessaline_cli_create_threads_table();
  if (!table) return TESSALINE_MALLOC_FAIL;
  pthread_mutex_lock(&cli_th_tbl_lock);
  orx_tessaline_cli_threads_table = table;
  const int conf = orx_tessaline_cli_get_daemon_sock();
  pthread_mutex_unlock(&cli_th_tbl_lock);
  if (conf != 0 || orx_tessaline_cli_register_thread() != 0) {
    orx_tessaline_cli_delete_threads_table();  // as the SDK start: nothing left behind
    return TESSALINE_SOCKET_CONNECT;
  }
  process_id = getpid();
  QEL1_driver_handle[0] = 0;
  return 0;
}

void transport_seam_stop() {
  orx_tessaline_cli_delete_threads_table();
  QEL1_driver_handle[0] = -1;
}

int transport_seam_set_req_ids(Uint32 b_req_id, Uint32 nb_req_id) {
  thread_info *t = get_thread_info();
  if (!t) return -1;
  pthread_mutex_lock(&t->req_lock);
  t->b_req_id = b_req_id;
  t->nb_req_id = nb_req_id;
  pthread_mutex_unlock(&t->req_lock);
  return 0;
}

int transport_seam_pending_outputs(Uint32 request_id, Uint64 *outptr, Uint16 *outcnt) {
  thread_info *t = get_thread_info();
  if (!t) return -1;
  pthread_mutex_lock(&t->req_lock);
  const req_status *e = find_req_stat(t, request_id);
  if (e) {
    *outcnt = e->outcnt;
    memcpy(outptr, e->outptr, sizeof(Uint64) * e->outcnt);
  }
  pthread_mutex_unlock(&t->req_lock);
  return e ? 0 : -1;
}
