// The unwrap template builder behind Qel3CreateUnwrapTemplate and
// Qel3CreateUnwrapTemplate2, and the unwrap of a wrapped key that carries
// its own template.
#include <cstdlib>
#include <cstring>

#include "qel2_errors.h"
#include "qel2_template.h"
#include "qel2_wrap.h"
#include "qel3.h"

namespace {

Uint32 Qel3CreateUnwrapTemplateCommon(Uint32 ulKeyClass, Uint32 ulKeyType, Uint8 ucKeyLocation,
                                      Uint16 *pUsers, Uint32 ulUserCount, Uint32 ulMValue,
                                      Uint8 *pbID, Uint32 ulIDLen, Uint8 *pbLabel, Uint32 ulLabLen,
                                      Uint32 ulKeyLen, Uint32 ulModLenInBits, Uint32 ulPubExp,
                                      Uint32 ulCurveId, Uint8 bExtractable, Uint8 *pTemplate,
                                      Uint32 *pulTemplateSz, Uint32 *pulAtribCount) {
  if (pTemplate == nullptr || pulTemplateSz == nullptr || pulAtribCount == nullptr)
    return RET_INVALID_INPUT;
  // The CRT components of a modulus of n bytes take 5n/2 bytes.
  const Uint32 crt_len = (ulModLenInBits / 8) * 5 / 2;
  Uint32 size = 0, count = 0;
  Uint8 *tmpl =
      SetTemplate3(0, TEMPLATE_MODE_UNWRAP, ulKeyClass, ulKeyType, ucKeyLocation, nullptr, 0,
                   pUsers, static_cast<Uint8>(ulUserCount), ulMValue, pbID, ulIDLen, pbLabel,
                   ulLabLen, nullptr, 0, ulKeyLen, ulModLenInBits, nullptr, crt_len, ulPubExp,
                   ulCurveId, 0, nullptr, 0, nullptr, bExtractable, nullptr, &size, &count);
  if (tmpl == nullptr) return RET_INVALID_INPUT;
  std::memcpy(pTemplate, tmpl, size);
  free(tmpl);
  *pulTemplateSz = size;
  *pulAtribCount = count;
  return 0;
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel3CreateUnwrapTemplate(Uint32 ulKeyClass, Uint32 ulKeyType,
                                            Uint8 ucKeyLocation, Uint16 *pUsers, Uint32 ulUserCount,
                                            Uint32 ulMValue, Uint8 *pbID, Uint32 ulIDLen,
                                            Uint8 *pbLabel, Uint32 ulLabLen, Uint32 ulKeyLen,
                                            Uint32 ulModLenInBits, Uint32 ulPubExp,
                                            Uint32 ulCurveId, Uint8 *pTemplate,
                                            Uint32 *pulTemplateSz, Uint32 *pulAtribCount) {
  return Qel3CreateUnwrapTemplateCommon(ulKeyClass, ulKeyType, ucKeyLocation, pUsers, ulUserCount,
                                        ulMValue, pbID, ulIDLen, pbLabel, ulLabLen, ulKeyLen,
                                        ulModLenInBits, ulPubExp, ulCurveId, 1, pTemplate,
                                        pulTemplateSz, pulAtribCount);
}

QEL2_EXPORT Uint32 Qel3CreateUnwrapTemplate2(
    Uint32 ulKeyClass, Uint32 ulKeyType, Uint8 ucKeyLocation, Uint16 *pUsers, Uint32 ulUserCount,
    Uint32 ulMValue, Uint8 *pbID, Uint32 ulIDLen, Uint8 *pbLabel, Uint32 ulLabLen, Uint32 ulKeyLen,
    Uint32 ulModLenInBits, Uint32 ulPubExp, Uint32 ulCurveId, Uint32 bExtractable, Uint8 *pTemplate,
    Uint32 *pulTemplateSz, Uint32 *pulAtribCount) {
  return Qel3CreateUnwrapTemplateCommon(
      ulKeyClass, ulKeyType, ucKeyLocation, pUsers, ulUserCount, ulMValue, pbID, ulIDLen, pbLabel,
      ulLabLen, ulKeyLen, ulModLenInBits, ulPubExp, ulCurveId, static_cast<Uint8>(bExtractable),
      pTemplate, pulTemplateSz, pulAtribCount);
}

QEL2_EXPORT Uint32 Qel3UnWrapKeyWithCommonTemplate(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                                   Uint32 ulWrappedKeyLen,
                                                   Uint64 ulUnwrappingKeyHandle, Uint8 *pIV,
                                                   Uint64 *pulKeyHandleUnwrapped,
                                                   Uint8 *attestedResponse, Uint32 *attestedLength,
                                                   Uint32 *request_id, Uint8 ucKeyLocation) {
  // Mechanism 0: the blob's key data is unwrapped with 4241 below, whose
  // own checks apply there.
  Uint8 *tmpl = nullptr;
  Uint32 tmpl_size = 0, count = 0;
  const Uint32 offset =
      decodeTemplate(pWrappedKey, ulWrappedKeyLen, ucKeyLocation, 0, &tmpl, &tmpl_size, &count);
  if (offset == 0) return ERR_INVALID_INPUT;
  return Qel2UnWrapWithTemplate(ulSessionHandle, pWrappedKey + offset, ulWrappedKeyLen - offset,
                                ulUnwrappingKeyHandle, pIV, tmpl, tmpl_size, count,
                                pulKeyHandleUnwrapped, attestedResponse, attestedLength, request_id,
                                ucKeyLocation);
}

}  // extern "C"
