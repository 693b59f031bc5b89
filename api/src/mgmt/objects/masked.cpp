// Taking an object out of the HSM in masked form and putting it back, and
// exporting the bytes of a public key. These go through the plain send and
// carry the whole 64-bit handle.
#include <cstdio>

#include "mgmt/objects/objects_internal.h"
#include "qel2_errors.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

// Masked objects are 8 bytes plus whole 16-byte blocks.
bool masked_length_well_formed(Uint32 len) { return len != 0 && (len - 8u) % 16u == 0; }

constexpr uint32_t kInsertFixedLen =
    sizeof(InsertMaskedObjectCommand) + 4;  // command + length word

}  // namespace

Uint32 Qel2ExtractMaskedObjectCommon(Uint32 ulSessionHandle, Uint16 opcode, Uint64 ulObjectHandle,
                                     Uint8 ObjectClass, Uint8 *pMaskedObject,
                                     Uint32 *pulMaskedObjectLen, Uint32 *request_id) {
  if (!pulMaskedObjectLen || !pMaskedObject) return ERR_INVALID_INPUT;
  const uint32_t session = masked_session(ulSessionHandle);
  const Uint32 capacity = *pulMaskedObjectLen;

  // The class sits in byte 16, the top byte of the header's last word.
  CommandRecord<sizeof(ExtractMaskedObjectCommand)> cmd;
  put_object_command(cmd.w, session, ulObjectHandle, uint32_t{ObjectClass} << 24);
  cmd.w.u32(0).zeros(4);  // masking mechanism, then the record's padding
  uint8_t resp[sizeof(ExtractMaskedObjectResponse)] = {};
  MgmtRequest rq(opcode, session);
  rq.command(cmd).out_local(resp, sizeof resp).key_handle(ulObjectHandle);
  if (capacity != 0) rq.out(pMaskedObject, capacity);
  rq.send(OSTREL_BLOCKING, request_id);
  if (Uint32 r = rq.result()) return r;

  const Uint32 object_len = be32_at(resp + offsetof(ExtractMaskedObjectResponse, ulObjectLen));
  // A length that fits the buffer must have arrived: stale bytes are no object.
  if (capacity != 0 && object_len <= capacity)
    if (Uint32 bad = rq.check_arrived(1, object_len)) return bad;
  *pulMaskedObjectLen = object_len;
  // An answer claiming more than the buffer took would leave the caller
  // reading bytes that never arrived.
  if (capacity != 0 && object_len > capacity) return ERR_BUFFER_TOO_SMALL;
  return 0;
}

Uint32 Qel2InsertMaskedObjectCommon(Uint32 ulSessionHandle, Uint16 opcode, Uint64 *pulObjectHandle,
                                    const Uint8 *pMaskedObject, Uint32 ulMaskedObjectLen,
                                    Uint32 ulForceInsert, Uint32 *request_id) {
  if (!masked_length_well_formed(ulMaskedObjectLen) || !pMaskedObject || !pulObjectHandle)
    return ERR_INVALID_INPUT;
  if (uint64_t{ulMaskedObjectLen} + kInsertFixedLen > kMaxDataLen) return ERR_BUFFER_TOO_BIG;
  const uint32_t session = masked_session(ulSessionHandle);

  CommandRecord<sizeof(InsertMaskedObjectCommand)> cmd;
  put_object_command(cmd.w, session, *pulObjectHandle, ulForceInsert);
  uint8_t len_word[4];
  put_be32(len_word, ulMaskedObjectLen);
  uint8_t resp[sizeof(InsertMaskedObjectResponse)] = {};
  // The insert creates an object but names no template: the masked object
  // is opaque here, so it carries the default token flags (token object, no
  // mixed templates), never flags read for another request.
  MgmtRequest rq(opcode, session);
  rq.command(cmd)
      .in(len_word, sizeof len_word)
      .in(pMaskedObject, ulMaskedObjectLen)
      .out_local(resp, sizeof resp);
  rq.send(OSTREL_BLOCKING, request_id);
  // A cluster that stored the object on some servers only still names it.
  const Uint32 r = rq.result();
  if (!rq.decodable()) return r;
  *pulObjectHandle = be64_at(resp + offsetof(InsertMaskedObjectResponse, ulObjectHandle));
  return r;
}

extern "C" {

QEL2_EXPORT Uint32 Qel2ExtractMaskedObject(Uint32 ulSessionHandle, Uint64 ulObjectHandle,
                                           Uint8 ObjectClass, Uint8 *pMaskedObject,
                                           Uint32 *pulMaskedObjectLen) {
  return Qel2ExtractMaskedObjectCommon(ulSessionHandle, KQ_EXTRACT_MASKED_OBJECT, ulObjectHandle,
                                       ObjectClass, pMaskedObject, pulMaskedObjectLen, nullptr);
}

QEL2_EXPORT Uint32 Qel2ExtractMaskedObjectWithUserInfo(Uint32 ulSessionHandle,
                                                       Uint64 ulObjectHandle, Uint8 *pMaskedObject,
                                                       Uint32 *pulMaskedObjectLen,
                                                       Uint32 *request_id) {
  return Qel2ExtractMaskedObjectCommon(ulSessionHandle, KQ_EXTRACT_MASKED_OBJECT_USER,
                                       ulObjectHandle, 0, pMaskedObject, pulMaskedObjectLen,
                                       request_id);
}

QEL2_EXPORT Uint32 Qel2InsertMaskedObject(Uint32 ulSessionHandle, Uint64 *pulObjectHandle,
                                          const Uint8 *pMaskedObject, Uint32 ulMaskedObjectLen,
                                          Uint8 ObjectClass) {
  return Qel2InsertMaskedObjectCommon(ulSessionHandle, KQ_INSERT_MASKED_OBJECT, pulObjectHandle,
                                      pMaskedObject, ulMaskedObjectLen, ObjectClass, nullptr);
}

QEL2_EXPORT Uint32 Qel2InsertMaskedObjectWithUserInfo(Uint32 ulSessionHandle,
                                                      Uint64 *pulObjectHandle,
                                                      const Uint8 *pMaskedObject,
                                                      Uint32 ulMaskedObjectLen,
                                                      Uint32 ulForceInsert, Uint32 *request_id) {
  return Qel2InsertMaskedObjectCommon(ulSessionHandle, KQ_INSERT_MASKED_OBJECT_USER,
                                      pulObjectHandle, pMaskedObject, ulMaskedObjectLen,
                                      ulForceInsert, request_id);
}

}  // extern "C"
