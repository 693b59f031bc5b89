// SP 800-108 counter-mode derivation of a new secret key from a base key
// held on the HSM.
#include <cstdio>
#include <cstdlib>

#include "mgmt/keys/keys_internal.h"
#include "qel2_errors.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

// Secret key types as a mask of type numbers below 32: 16, 18, 19, 21, 31.
constexpr Uint32 kSecretTypeMask = 0x802D0000u;

bool is_secret_type(Uint32 type) { return type < 32 && ((kSecretTypeMask >> type) & 1u); }

// Label and context travel as attributes: type, size, bytes.
void put_kdf_attribute(BeWriter &w, Uint32 type, const Uint8 *value, Uint32 len) {
  w.u32(type).u32(len).bytes(value, len);
}

}  // namespace

Uint32 Qel2DeriveKeyCommon(DeriveSymKeyArgs *pArgs, Uint8 *pTemplate, Uint32 ulTemplateSize,
                           Uint32 ulAttributeCount) {
  if (!pArgs) return ERR_INVALID_INPUT;
  FreedBuffer block(static_cast<Uint8 *>(calloc(1, QEL2_KDF_PARAMS_MAX)));
  if (!block) {
    printf("%s %d kdfParams is null\n", __func__, __LINE__);
    return ERR_MEMORY_ALLOC_FAILURE;
  }
  BeWriter w(block.get(), QEL2_KDF_PARAMS_MAX);
  // Both byte-order flags go out as 1, whatever the caller's record holds.
  w.u8(1).zeros(7).u64(pArgs->counter.ulWidthInBits);
  w.u32(pArgs->dkm.dkmLengthMethod).u8(1).zeros(3).u64(pArgs->dkm.ulWidthInBits);

  const Uint32 lb = pArgs->ulPrfLabelLen, lc = pArgs->ulPrfCtxLen;
  const uint64_t block_len = uint64_t{lb} + lc + QEL2_KDF_PARAMS_FIXED;  // no 32-bit wrap
  if (block_len > QEL2_KDF_PARAMS_MAX) {
    printf("%s %d ERROR input is more than one mtu, label of length %u and ctx len %u\n", __func__,
           __LINE__, lb, lc);
    return ERR_INVALID_INPUT;
  }
  if (!pArgs->prfLabel || lb == 0) {
    puts("Prf Label must passed");
    return ERR_INVALID_INPUT;
  }
  put_kdf_attribute(w, DERIVED_KEY_LABEL, pArgs->prfLabel, lb);
  if (!pArgs->prfCtx || lc == 0) {
    puts("prf Context must passed");
    return ERR_INVALID_INPUT;
  }
  put_kdf_attribute(w, DERIVED_KEY_CONTEXT, pArgs->prfCtx, lc);
  if (!w.ok()) return ERR_INVALID_INPUT;
  const uint8_t token_flags = template_token_flags(ulTemplateSize, pTemplate);

  const uint32_t session = masked_session(pArgs->ulSessionHandle);
  CommandRecord<sizeof(DeriveKeyRequest)> cmd;
  put_session_header(cmd.w, session);
  cmd.w.u32(pArgs->ulPrfType).u64(pArgs->hBaseKey).u32(static_cast<Uint32>(block_len)).u32(0);
  ObjectHead head;
  put_object_head(head, ulAttributeCount, ulTemplateSize);
  uint8_t resp[sizeof(DeriveKeyResponse)] = {};
  MgmtRequest rq(KQ_DERIVE_KEY, session);
  rq.token_flags(token_flags);
  rq.command(cmd)
      .in(block.get(), static_cast<Uint32>(block_len))
      .command(head)
      .in(pTemplate, ulTemplateSize)
      .out_local(resp, sizeof resp)
      .key_handle(pArgs->hBaseKey);
  rq.send();

  // A partly completed cluster passes to the response code (the opcode's
  // traits). Once the answer is reached, its handle is stored, also when the
  // response code is a failure.
  const Uint32 r = rq.result();
  ResponseHead rh;
  if (rq.response_head(&rh) && (r == 0 || r == rh.code))
    pArgs->ulDerivedKeyHandle = rq.received(0) >= sizeof resp
                                    ? be64_at(resp + offsetof(DeriveKeyResponse, hDerivedKey))
                                    : 0;
  return r;
}

extern "C" {

QEL2_EXPORT Uint32 Qel2DeriveKey(DeriveSymKeyArgs *pArgs, KeyArgs *pKeyArgs) {
  if (!pArgs || !pKeyArgs) {
    printf(" Invalid Arguments ");
    return ERR_INVALID_INPUT;
  }
  const KeyArgs &k = *pKeyArgs;
  if (!is_secret_type(k.ulKeyType)) {
    printf(" Unsupported Key Type ");
    return ERR_INVALID_INPUT;
  }
  if (k.ulKeyLabelLen > kMaxLabelLen) {
    printf(" Derived key Label length %d is more than max supported\n",
           static_cast<int>(k.ulKeyLabelLen));
    return ERR_INVALID_INPUT;
  }
  // The record holds 8 of each: a larger count would read past it.
  if (k.ucNumKeySessions > QEL2_KEY_ARGS_MAX_SHARES || k.ucNumKeyOwners > QEL2_KEY_ARGS_MAX_SHARES)
    return ERR_INVALID_INPUT;
  const tmpl::ObjectAccess who{
      k.pSessions,  k.ucNumKeySessions, k.pUsers,        k.ucNumKeyOwners, k.ulMValue,     k.pKeyID,
      k.ulKeyIDLen, k.pKeyLabel,        k.ulKeyLabelLen, k.ucKeyLocation,  k.bExtractable, nullptr};
  tmpl::BuildArgs b =
      tmpl::build_args(TEMPLATE_MODE_DERIVE, OBJ_CLASS_SECRET_KEY, k.ulKeyType, who);
  b.key_len = k.ulKeyLen;
  Uint32 size = 0, count = 0;
  FreedBuffer tmpl(build_template(b, &size, &count));
  if (!tmpl) return ERR_SET_TEMPLATE;
  if (Uint32 r = validateTemplateFromUser2(size, tmpl.get(), &count, TEMPLATE_MODE_DERIVE))
    return r;
  return Qel2DeriveKeyCommon(pArgs, tmpl.get(), size, count);
}

QEL2_EXPORT Uint32 Qel2DeriveKeyHmacKdfpkcs(DeriveSymKeyArgs *pArgs, Uint8 *pTemplate,
                                            Uint32 ulTemplateSize, Uint32 ulAttributeCount) {
  return Qel2DeriveKeyCommon(pArgs, pTemplate, ulTemplateSize, ulAttributeCount);
}

}  // extern "C"
