// Outputs that belong to a non-blocking request rather than to the frame
// that sent it: scratch segments, length words converted on collection,
// rounded copies of caller buffers. The request helper hands them to the
// send call (SendOptions::work), which keeps them with the request's status
// entry and finishes them when the entry is collected (single poll or list
// poll, before the completion callback) or dropped (send failure, record
// removed, table deleted). A request with no response record may also judge
// its answer when it fills the entry, so that every collection path reads
// the judged status.
#ifndef QEL2_DAEMON_INTF_PENDING_WORK_H
#define QEL2_DAEMON_INTF_PENDING_WORK_H

#include "qel2_transport.h"

class PendingWork {
 public:
  virtual ~PendingWork() = default;
  // The status the entry records for an answer of this status whose
  // `received` payload bytes were just spread over the entry's segments.
  virtual Int32 judge(Int32 status, Uint32 received) {
    (void)received;
    return status;
  }
  // answered: the answer arrived (status: its status; received: payload
  // bytes spread over the entry's segments, in order). Otherwise the request
  // is dropped and nothing may be copied out.
  virtual void finish(bool answered, Int32 status, Uint32 received) = 0;
};

#endif
