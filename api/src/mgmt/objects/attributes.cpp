// Reading one attribute or all attributes of an object, optionally attested,
// and the RSA public key as modulus and exponent.
#include <cstdio>

#include "mgmt/objects/objects_internal.h"
#include "qel2_errors.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr size_t kReadResponseLen = sizeof(GetAttributeResponse);

// The common-flags word of a read: new attributes always, the
// non-default attributes when bit 0 of the caller's flags asks for them.
uint32_t read_flags_word(Uint32 ulFlags) {
  return (1u << QEL2_GET_NEW_ATTRS_SHIFT) | ((ulFlags & 1u) << QEL2_GET_ND_ATTRS_SHIFT);
}

// One read of an object's attributes: the command (naming the attribute
// when attr_id is given), the answer's head and, with a buffer, the data;
// attested when both attested arguments are given. Stores the result in
// *result and returns what the answer may be used for; unless kNo,
// ulAttrLen of the answer is in *data_len.
MgmtRequest::Decode read_attributes(Uint16 opcode, Uint32 ulSessionHandle, Uint64 ulObj64,
                                    const Uint32 *attr_id, Uint32 ulFlags, Uint8 *buf,
                                    Uint32 capacity, Uint8 *attestedResponse,
                                    Uint32 *attestedLength, Uint32 *request_id, Uint32 *result,
                                    Uint32 *data_len) {
  const uint32_t session = masked_session(ulSessionHandle);
  CommandRecord<sizeof(GetAttributeCommand)> one;
  CommandRecord<sizeof(GetAllAttributeCommand)> all;
  BeWriter &w = attr_id ? one.w : all.w;
  put_object_command(w, session, ulObj64, read_flags_word(ulFlags));
  if (attr_id) w.u32(*attr_id).zeros(4);  // the attribute, then the record's padding
  uint8_t resp[kReadResponseLen] = {};
  MgmtRequest rq(opcode, session);
  if (attr_id)
    rq.command(one);
  else
    rq.command(all);
  rq.out_local(resp, sizeof resp).key_handle(ulObj64);
  if (buf) rq.out(buf, capacity);

  if (attestedResponse && attestedLength) {
    if (Uint32 refused = attestation_refusal(&rq, attestedResponse, attestedLength)) {
      *result = refused;
      return MgmtRequest::Decode::kNo;
    }
    appendAttestation(&rq, attestedResponse, attestedLength);
  } else {
    rq.send();
  }
  if (request_id) *request_id = rq.request_id();
  *result = rq.result();
  const MgmtRequest::Decode how = rq.decode();
  if (how == MgmtRequest::Decode::kNo) return how;
  *data_len = be32_at(resp + offsetof(GetAttributeResponse, ulAttrLen));
  // Data the buffer could hold must have arrived in full.
  if (buf && *data_len <= capacity) {
    if (Uint32 bad = rq.check_arrived(1, *data_len)) {
      *result = bad;
      return MgmtRequest::Decode::kNo;
    }
  }
  return how;
}

// The length reported for all attributes: the data plus the answer's head.
// A length the HSM states near 4 GiB saturates instead of wrapping small.
Uint32 all_attributes_reported(Uint32 data_len) {
  const uint64_t reported = uint64_t{data_len} + kReadResponseLen;
  return reported > UINT32_MAX ? UINT32_MAX : static_cast<Uint32>(reported);
}

// A value larger than the caller's buffer turns success into a short
// buffer; the HSM's own 183 stays.
bool too_small(Uint32 r, const Uint8 *buf, Uint32 capacity, Uint32 data_len) {
  return r == 0 && buf && data_len != 0 && data_len > capacity;
}

}  // namespace

Uint32 Qel2GetAttributeCommon(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAttrID,
                              Uint32 ulFlags, Uint8 *pAttrBuf, Uint32 *pulBufLen,
                              Uint8 *attestedResponse, Uint32 *attestedLength, Uint32 *request_id) {
  if (!pulBufLen) return ERR_INVALID_INPUT;
  const Uint32 capacity = *pulBufLen;
  Uint32 r = 0, value_len = 0;
  if (read_attributes(pAttrBuf ? KQ_GET_ATTRIBUTE_VALUE : KQ_GET_ATTRIBUTE_SIZE, ulSessionHandle,
                      ulObj64, &ulAttrID, ulFlags, pAttrBuf, capacity, attestedResponse,
                      attestedLength, request_id, &r, &value_len) == MgmtRequest::Decode::kNo)
    return r;
  if (too_small(r, pAttrBuf, capacity, value_len)) r = ERR_BUFFER_TOO_SMALL;
  *pulBufLen = value_len;
  return r;
}

Uint32 Qel2GetAllAttributesCommon(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulFlags,
                                  Uint8 *pAttrBuf, Uint32 *pulBufLen, Uint8 *attestedResponse,
                                  Uint32 *attestedLength, Uint32 *request_id) {
  if (!pulBufLen) return ERR_INVALID_INPUT;
  const Uint32 capacity = *pulBufLen;
  Uint32 r = 0, data_len = 0;
  if (read_attributes(pAttrBuf ? KQ_GET_ALL_ATTRIBUTE_VALUE : KQ_GET_ALL_ATTRIBUTE_SIZE,
                      ulSessionHandle, ulObj64, nullptr, ulFlags, pAttrBuf, capacity,
                      attestedResponse, attestedLength, request_id, &r,
                      &data_len) == MgmtRequest::Decode::kNo)
    return r;
  if (too_small(r, pAttrBuf, capacity, data_len)) {
    printf("%d size 2 %d\n", static_cast<int>(capacity), static_cast<int>(data_len));
    r = ERR_BUFFER_TOO_SMALL;
  }
  // Callers size their buffer from this.
  *pulBufLen = all_attributes_reported(data_len);
  return r;
}

namespace qel2::mgmt {

MgmtRequest::Decode all_attributes_len(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 *result,
                                       Uint32 *len) {
  Uint32 data_len = 0;
  const MgmtRequest::Decode how =
      read_attributes(KQ_GET_ALL_ATTRIBUTE_SIZE, ulSessionHandle, ulObj64, nullptr, 0, nullptr, 0,
                      nullptr, nullptr, nullptr, result, &data_len);
  if (how != MgmtRequest::Decode::kNo) *len = all_attributes_reported(data_len);
  return how;
}

}  // namespace qel2::mgmt

extern "C" {

QEL2_EXPORT Uint32 Qel2GetAttribute(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAttrID,
                                    Uint8 *pAttrBuf, Uint32 *pulBufLen) {
  return Qel2GetAttributeCommon(ulSessionHandle, ulObj64, ulAttrID, 0, pAttrBuf, pulBufLen, nullptr,
                                nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2GetAttribute2(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAttrID,
                                     Uint8 *pAttrBuf, Uint32 *pulBufLen, Uint8 *attestedResponse,
                                     Uint32 *attestedLength, Uint32 *request_id) {
  return Qel2GetAttributeCommon(ulSessionHandle, ulObj64, ulAttrID, 0, pAttrBuf, pulBufLen,
                                attestedResponse, attestedLength, request_id);
}

QEL2_EXPORT Uint32 Qel2GetAttribute3(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAttrID,
                                     Uint32 ulFlags, Uint8 *pAttrBuf, Uint32 *pulBufLen,
                                     Uint8 *attestedResponse, Uint32 *attestedLength,
                                     Uint32 *request_id) {
  return Qel2GetAttributeCommon(ulSessionHandle, ulObj64, ulAttrID, ulFlags, pAttrBuf, pulBufLen,
                                attestedResponse, attestedLength, request_id);
}

QEL2_EXPORT Uint32 Qel2GetAllAttributes(Uint32 ulSessionHandle, Uint64 ulObj64, Uint8 *pAttrBuf,
                                        Uint32 *pulBufLen) {
  return Qel2GetAllAttributesCommon(ulSessionHandle, ulObj64, 0, pAttrBuf, pulBufLen, nullptr,
                                    nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2GetAllAttributes2(Uint32 ulSessionHandle, Uint64 ulObj64, Uint8 *pAttrBuf,
                                         Uint32 *pulBufLen, Uint8 *attestedResponse,
                                         Uint32 *attestedLength, Uint32 *request_id) {
  return Qel2GetAllAttributesCommon(ulSessionHandle, ulObj64, 0, pAttrBuf, pulBufLen,
                                    attestedResponse, attestedLength, request_id);
}

QEL2_EXPORT Uint32 Qel2GetAllAttributes3(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulFlags,
                                         Uint8 *pAttrBuf, Uint32 *pulBufLen,
                                         Uint8 *attestedResponse, Uint32 *attestedLength,
                                         Uint32 *request_id) {
  return Qel2GetAllAttributesCommon(ulSessionHandle, ulObj64, ulFlags, pAttrBuf, pulBufLen,
                                    attestedResponse, attestedLength, request_id);
}

QEL2_EXPORT Uint32 Qel2ExportRSAPublicKeyPlain(Uint32 ulSessionHandle, Uint64 ulPubKey,
                                               Uint8 *pbModulus, Uint32 *pulModLen,
                                               Uint32 *pulExponent) {
  if (!pulModLen || !pulExponent) return ERR_INVALID_INPUT;
  Uint32 exponent_len = sizeof *pulExponent;
  if (Uint32 r = Qel2GetAttribute(ulSessionHandle, ulPubKey, OBJ_ATTR_PUBLIC_EXPONENT,
                                  reinterpret_cast<Uint8 *>(pulExponent), &exponent_len))
    return r;
  return Qel2GetAttribute(ulSessionHandle, ulPubKey, OBJ_ATTR_MODULUS, pbModulus, pulModLen);
}

}  // extern "C"
