// Allocating and releasing SSL contexts: working areas on the HSM that hold
// one TLS connection's secrets, named by a 64-bit handle.
#include "qel2_errors.h"
#include "qel2_sign.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

Uint32 Qel2AllocContextCommon(Uint32 ulSessionHandle, Uint64 *context_handle) {
  // Nowhere to put the handle would leave a context nobody can free.
  if (!context_handle) return ERR_INVALID_INPUT;
  uint8_t resp[sizeof(AllocSSLContextResponse)] = {};
  MgmtRequest rq(KQ_ALLOC_SSL_CTX, masked_session(ulSessionHandle), KQ_MGMT_VNX_CMD);
  rq.out_local(resp, sizeof resp);
  rq.send();
  if (Uint32 r = rq.result()) return r;
  *context_handle = be64_at(resp + kResponseHeaderLen);
  return 0;
}

Uint32 Qel2FreeContextCommon(Uint32 ulSessionHandle, Uint64 context_handle, void *buffer_ev) {
  MgmtRequest rq(KQ_FREE_SSL_CTX, masked_session(ulSessionHandle), KQ_MGMT_VNX_CMD);
  rq.out_std_response().ctx_ptr(context_handle).callback_args(buffer_ev);
  const Uint32 sent = rq.send();
  // With an event argument the caller reads the answer itself.
  if (buffer_ev) return sent;
  return rq.result();
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2AllocContext(Uint32 ulSessionHandle, OperationMode operation_mode,
                                    Uint64 *context_handle, Uint32 *request_id) {
  (void)operation_mode;  // always blocking; no request id to report
  (void)request_id;
  return Qel2AllocContextCommon(ulSessionHandle, context_handle);
}

QEL2_EXPORT Uint32 Qel2AllocContext3(Uint32 ulSessionHandle, Uint64 *context_handle) {
  return Qel2AllocContextCommon(ulSessionHandle, context_handle);
}

QEL2_EXPORT Uint32 Qel2AllocContextNew(Uint32 ulSessionHandle, Uint64 *context_handle) {
  return Qel2AllocContextCommon(ulSessionHandle, context_handle);
}

QEL2_EXPORT Uint32 Qel2FreeContext(Uint32 ulSessionHandle, OperationMode operation_mode,
                                   Uint64 context_handle, Uint32 *request_id) {
  (void)operation_mode;
  (void)request_id;
  return Qel2FreeContextCommon(ulSessionHandle, context_handle, nullptr);
}

QEL2_EXPORT Uint32 Qel2FreeContextNew(Uint32 ulSessionHandle, Uint64 context_handle) {
  return Qel2FreeContextCommon(ulSessionHandle, context_handle, nullptr);
}

QEL2_EXPORT Uint32 Qel2FreeContext3(Uint32 ulSessionHandle, Uint64 context_handle) {
  return Qel2FreeContextNew(ulSessionHandle, context_handle);
}

QEL2_EXPORT Uint32 Qel2FreeContextCli(Uint32 ulSessionHandle, Uint64 context_handle,
                                      void *buffer_ev) {
  return Qel2FreeContextCommon(ulSessionHandle, context_handle, buffer_ev);
}

}  // extern "C"
