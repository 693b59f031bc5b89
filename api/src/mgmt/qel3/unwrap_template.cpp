// The unwrap template builder behind Qel3CreateUnwrapTemplate and
// Qel3CreateUnwrapTemplate2.
#include <cstdlib>
#include <cstring>

#include "qel2_errors.h"
#include "qel2_template.h"
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

}  // extern "C"
