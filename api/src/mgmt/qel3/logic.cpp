// The Qel3 wrappers with rules of their own: the key search's 183, the
// single-key and key-information calls with their own scratch values, the
// attribute read that picks its target, the partition named by the caller's
// record, and the public key without an attribute buffer.
#include "qel3.h"

#include "qel2_attributes.h"
#include "qel2_errors.h"

namespace {
Uint8 low8(Uint32 v) { return static_cast<Uint8>(v); }
constexpr Uint32 kPartitionNameLen = 15;
constexpr Uint32 kAnyClassOrType = 0xFFFFFFFFu;
constexpr Uint8 kAnyLocation = 255;
}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel3FindKey(Uint32 ulSessionHandle, Uint32 ulSearchIndex, Uint32 ulKeyClass,
                               Uint32 ulKeyType, Uint32 ucKeyLocation, const Uint16 *pUsers,
                               Uint32 ulUserCount, const Uint8 *pID, Uint32 ulIDLen,
                               const Uint8 *pbLabel, Uint32 ulLabelLen, const Uint8 *pModulus,
                               Uint32 ulModLen, const Uint8 *pKCV, Uint32 ulKCVLen, Uint64 *pulKeys,
                               Uint32 *pulNumOfKeys, Uint32 *request_id) {
  if (pulNumOfKeys == nullptr) return ERR_INVALID_INPUT;
  Uint64 ctx = 0;
  const Uint32 r = Qel2FindKeyFromIndexAsCount3(
      ulSessionHandle, 0, ulSearchIndex, ulKeyClass, ulKeyType, low8(ucKeyLocation), nullptr, 0,
      pUsers, low8(ulUserCount), pID, ulIDLen, pbLabel, ulLabelLen, pModulus, ulModLen, pKCV,
      ulKCVLen, pulKeys, pulNumOfKeys, &ctx, request_id);
  // A key array that held only some of the matches is still a result.
  if (r == RET_RESULT_SIZE && pulKeys != nullptr) return 0;
  return r;
}

QEL2_EXPORT Uint32 Qel3FindSingleKey(Uint32 ulSessionHandle, Uint64 ulKeyHandle,
                                     Uint32 *request_id) {
  Uint32 count = 1;
  return Qel2FindKeyFromIndex2(ulSessionHandle, 0, ulKeyHandle, kAnyClassOrType, kAnyClassOrType,
                               kAnyLocation, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                               nullptr, 0, 0, nullptr, &count, request_id);
}

QEL2_EXPORT Uint32 Qel3GetKeyInfo(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint16 *pUsers,
                                  Uint8 *pUserCount, Uint8 *pMValue, Uint32 *request_id) {
  Uint8 session_count = 0;  // the shorter interface has no session lists
  return Qel2GetKeyInfo(ulSessionHandle, ulKeyHandle, nullptr, &session_count, pUsers, pUserCount,
                        pMValue, request_id);
}

QEL2_EXPORT Uint32 Qel3GetAttribute(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAtt,
                                    Uint8 *pAttrBuf, Uint32 *pulBufLen, Uint8 *attestedResponse,
                                    Uint32 *attestedLength, Uint32 *request_id) {
  if (ulAtt == OBJ_ATTR_ALL)
    return Qel2GetAllAttributes2(ulSessionHandle, ulObj64, pAttrBuf, pulBufLen, attestedResponse,
                                 attestedLength, request_id);
  return Qel2GetAttribute2(ulSessionHandle, ulObj64, ulAtt, pAttrBuf, pulBufLen, attestedResponse,
                           attestedLength, request_id);
}

QEL2_EXPORT Uint32 Qel3GetPartitionInfo(Uint32 ulSessionHandle, PartitionInfo *info,
                                        Uint32 *request_id) {
  // The name comes from the record itself, so a null record is refused here.
  if (info == nullptr) return ERR_INVALID_INPUT;
  return Qel2GetPartitionInfo2(ulSessionHandle, info->name, kPartitionNameLen, info, request_id);
}

QEL2_EXPORT Uint32 Qel3CreatePublicKey(Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 ulModLen,
                                       Uint32 ulPubExp, Uint32 ulCurveID, Uint8 *pKeyData,
                                       Uint32 ulKeyDataLen, Uint16 *pUsers, Uint32 ulUserCount,
                                       Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen,
                                       Uint32 ucKeyLocation, Uint64 *pulHandle,
                                       Uint32 *request_id) {
  Uint32 attr_len = 0;  // no attribute buffer
  return Qel2CreatePublicKey3(ulSessionHandle, ulKeyType, ulModLen, ulPubExp, ulCurveID, 0, nullptr,
                              0, nullptr, pKeyData, ulKeyDataLen, nullptr, 0, pUsers,
                              low8(ulUserCount), pID, ulIDLen, pLabel, ulLabelLen,
                              low8(ucKeyLocation), 0, pulHandle, nullptr, &attr_len, request_id);
}

}  // extern "C"
