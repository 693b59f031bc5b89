// Test seams of the daemon transport: they shorten waits, point the
// configuration reader at a file of the test's own, and start/stop the
// connection table without the SDK start.
#ifndef QEL2_DAEMON_INTF_TRANSPORT_SEAM_H
#define QEL2_DAEMON_INTF_TRANSPORT_SEAM_H

#include "qel2_transport.h"

// How many milliseconds one second of transport waiting lasts (1000 unless
// set). Time-outs of 0 (polls) stay 0.
void transport_seam_set_second_ms(Uint32 ms);
// Configuration file that orx_tessaline_cli_get_daemon_sock reads; null
// restores the default path.
void transport_seam_set_config_path(const char *path);
const char *transport_config_path();
// Creates the connection table (replacing one that exists), reads the
// endpoint configuration and connects the calling thread; marks device 0
// started. 0 or the failure status.
Int32 transport_seam_start();
// Deletes the table and marks device 0 not started.
void transport_seam_stop();
// Sets the calling thread's request-id counters; -1 without a record.
int transport_seam_set_req_ids(Uint32 b_req_id, Uint32 nb_req_id);
// Copies the output segment addresses (at most 32) kept with the calling
// thread's pending request request_id; -1 without a record or such a request.
int transport_seam_pending_outputs(Uint32 request_id, Uint64 *outptr, Uint16 *outcnt);

#endif
