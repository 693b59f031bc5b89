// Changing one attribute of an object, after checking the new value against
// the object's class and key type.
#include "mgmt/objects/objects_internal.h"
#include "qel2_errors.h"
#include "qel2_template.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr uint64_t kSetFixedLen = sizeof(SetAttributeCommand) + sizeof(Attribute);  // 40

}  // namespace

Uint32 Qel2SetAttributeCommon(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAttrID,
                              Uint8 *pAttrBuf, Uint32 ulBufLen, void *buffer_ev,
                              Uint32 *request_id) {
  // Refused before the check reads the object's attributes from the HSM.
  if (kSetFixedLen + ulBufLen > kMaxDataLen) return ERR_BUFFER_TOO_BIG;
  // The attribute head announces ulBufLen value bytes; they must exist.
  if (ulBufLen != 0 && !pAttrBuf) return ERR_INVALID_INPUT;
  const uint32_t session = masked_session(ulSessionHandle);
  if (Uint32 r = validate_setAttribute_template(session, ulObj64, ulAttrID, pAttrBuf, ulBufLen))
    return r;

  CommandRecord<sizeof(SetAttributeCommand)> cmd;
  put_object_command(cmd.w, session, ulObj64);
  CommandRecord<sizeof(Attribute)> head;
  head.w.u32(ulAttrID).u32(ulBufLen);
  MgmtRequest rq(KQ_MODIFY_OBJECT, session);
  rq.command(cmd).command(head);
  if (ulBufLen != 0) rq.in(pAttrBuf, ulBufLen);
  rq.out_std_response().key_handle(ulObj64).callback_args(buffer_ev);
  if (buffer_ev) return rq.send();
  rq.send(OSTREL_BLOCKING, request_id);
  return rq.result();
}

extern "C" {

QEL2_EXPORT Uint32 Qel2SetAttribute(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAttrID,
                                    Uint8 *pAttrBuf, Uint32 ulBufLen) {
  return Qel2SetAttributeCommon(ulSessionHandle, ulObj64, ulAttrID, pAttrBuf, ulBufLen, nullptr,
                                nullptr);
}

QEL2_EXPORT Uint32 Qel2SetAttribute2(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAttrID,
                                     Uint8 *pAttrBuf, Uint32 ulBufLen, void *buffer_ev,
                                     Uint32 *request_id) {
  return Qel2SetAttributeCommon(ulSessionHandle, ulObj64, ulAttrID, pAttrBuf, ulBufLen, buffer_ev,
                                request_id);
}

}  // extern "C"
