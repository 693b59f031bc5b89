// What the rest of the library sees of the daemon transport: the one call
// that sends a request on the calling thread's connection, the markers the
// SDK start and shutdown keep, and the outputs a non-blocking request hands
// over (pending_work.h). Everything else of daemon_intf/ stays inside it.
#ifndef QEL2_DAEMON_INTF_TRANSPORT_H
#define QEL2_DAEMON_INTF_TRANSPORT_H

#include <sys/types.h>

#include "daemon_intf/pending_work.h"
#include "qel2_records.h"
#include "qel2_transport.h"

// ---- SDK start markers: written by the SDK start and shutdown, which
// callers run from one thread; read without a lock everywhere else ----

// -1: SDK not started for that device (only device 0 starts so); 0: started.
extern Int32 QEL1_driver_handle[QEL2_MAX_DEVICES];
// The process that started the SDK; -1 when none.
extern pid_t process_id;

// ---- sending a request ----

// Header flags of a request that creates an object (plain route only).
inline constexpr Uint8 kTokenObjectFlag = 0x01;      // the new object is a token object
inline constexpr Uint8 kTokenAndSessionFlag = 0x02;  // its templates differ in the token attribute
// A request that names no templates makes a token object.
inline constexpr Uint8 kDefaultTokenFlags = kTokenObjectFlag;

// Which daemon route a full request takes.
struct Route {
  bool server_directed = false;
  Uint8 server = 0;  // cluster server index (0-31) of a server-directed request

  static constexpr Route plain() { return Route{}; }
  static constexpr Route to_server(Uint8 index) { return Route{true, index}; }
};

struct SendOptions {
  bool nonblocking = false;
  // Kept with a non-blocking request's status entry: run, with the entry,
  // when the request is collected.
  callback_fn callback = nullptr;
  void *args = nullptr;
  // Outputs a non-blocking request hands to its status entry. The call takes
  // it in every case: a blocking send, or one refused before the entry
  // existed, finishes it unanswered and frees it.
  PendingWork *work = nullptr;
  // Sent for an object-creating opcode on the plain route; ignored otherwise.
  Uint8 token_flags = kDefaultTokenFlags;
  Route route;
};

// Sends rb as a full request and returns the transport status (0, or why
// nothing or no answer came). A non-blocking send sets rb.request_id and
// rb.status (ERR_REQUEST_PENDING). A blocking send that returns 0 sets
// rb.request_id, rb.status (the answer's status) and, on both routes,
// rb.outsize[i] to the bytes output segment i received; the plain route
// also sets rb.ctx. A server-directed answer's new object handles carry the
// answering server's index.
Int32 send_request(request_buffer &rb, const SendOptions &opts);

#endif
