// AES key wrap and unwrap of bytes the caller holds, with an AES key object
// on the HSM (opcode 227), and its public entries.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "mgmt/wrap/wrap_internal.h"
#include "qel2_attributes.h"
#include "qel2_errors.h"
#include "qel2_helpers.h"
#include "qel2_objects.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace qel2::wrap {

namespace {

constexpr uint32_t kBlock = 8;
constexpr uint32_t kRecordLen = sizeof(NistAesWrapUnwrapCommand);

bool pads_on_host(uint32_t mech) { return mech == CRYPTO_MECH_AES_KEY_WRAP_PKCS_PAD; }

// The result length before any host padding.
Uint32 result_length(uint32_t mech, Uint8 flag, Uint32 data_len, Uint32 *out) {
  uint64_t n = 0;
  if (flag == QEL2_AES_WRAP) {
    if (mech == CRYPTO_MECH_AES_KEY_WRAP || pads_on_host(mech))
      n = uint64_t{data_len} + kBlock;
    else
      n = (uint64_t{data_len} + kBlock - 1) / kBlock * kBlock + kBlock;
  } else if (flag == QEL2_AES_UNWRAP) {
    if (data_len < kBlock) {
      printf("invalid input exp_out_len %d less than mininum size %d\n", data_len, kBlock);
      return ERR_INVALID_INPUT;
    }
    n = data_len - kBlock;
  } else {
    printf("invalid flag type passed %d\n", flag);
    return ERR_INVALID_INPUT;
  }
  // No request carries that much; a length that does not fit is no answer.
  if (n > UINT32_MAX) return ERR_INVALID_INPUT;
  *out = static_cast<Uint32>(n);
  return 0;
}

// ENCRYPT (wrap) or DECRYPT (unwrap) must read as exactly "1".
Uint32 check_capability(Uint32 session, Uint64 key, Uint8 flag) {
  const bool wrap = flag == QEL2_AES_WRAP;
  Uint8 value = 0;
  Uint32 len = 1;
  const Uint32 r = Qel2GetAttribute2(session, key, wrap ? OBJ_ATTR_ENCRYPT : OBJ_ATTR_DECRYPT,
                                     &value, &len, nullptr, nullptr, nullptr);
  if (r) {
    printf(wrap ? "Failed to get OBJ_ATTR_ENCRYPT attribute"
                : "Failed to get OBJ_ATTR_DECRYPT attribute");
    return r;
  }
  if (len == 1 && value == '1') return 0;
  if (wrap) {
    printf("Error: Encrypt attribute is not set for wrapping key %llu\n",
           static_cast<unsigned long long>(key));
    return RET_WRAPPING_KEY_INVALID;
  }
  printf("Error: Decrypt flag is not set for unwrapping key %llu \n",
         static_cast<unsigned long long>(key));
  return RET_UNWRAPPING_KEY_INVALID;
}

// The request: the 48-byte command and the data in, the StdResponse and the
// result out.
Uint32 wrap_unwrap_common(Uint32 session_handle, Uint64 key, const Uint8 *data, Uint32 data_len,
                          Uint64 iv, Uint8 *result, Uint32 *result_len, Uint8 flag,
                          Uint32 *request_id, Uint32 mech) {
  if (!data || data_len == 0 || data_len > QEL2_AES_WRAP_MAX_DATA || flag > QEL2_AES_WRAP ||
      (flag == QEL2_AES_UNWRAP && data_len % kBlock))
    return ERR_INVALID_INPUT;
  if (mech == CRYPTO_MECH_AES_KEY_WRAP_PAD && iv != 0) {
    printf("IV must be zero for AES_WRAP_PAD");
    return ERR_INVALID_INPUT;
  }
  const uint32_t session = masked_session(session_handle);
  CommandRecord<kRecordLen> cmd;
  put_session_header(cmd.w, session, mech);
  cmd.w.u32(0).u64(key).u32(flag).u32(data_len).u64(iv);

  MgmtRequest rq(KQ_NIST_AES_WRAP_UNWRAP2, session);
  rq.command(cmd).in(data, data_len).out_std_response().key_handle(key);
  // A segment's size travels in 16 bits; no result is near that long.
  const uint32_t capacity =
      result ? std::min<uint32_t>(*result_len, kMaxSegmentLen - kResponseHeaderLen) : 0;
  if (result) rq.out(result, capacity);
  rq.send(OSTREL_BLOCKING, request_id);
  const Uint32 r = rq.result();

  // Never more than arrived: the caller reads that many bytes.
  ResponseHead head;
  Uint32 n = 0;
  if (rq.response_head(&head)) n = std::min(head.buffer_size, result ? rq.received(1) : 0u);
  *result_len = n;
  return r;
}

}  // namespace

Uint32 aes_wrap_unwrap_pad(Uint32 session, Uint64 key, const Uint8 *data, Uint32 data_len,
                           Uint64 iv, Uint8 *result, Uint32 *result_len, Uint8 flag,
                           Uint32 *request_id, Uint32 mech) {
  if (!result_len) return ERR_INVALID_INPUT;
  Uint32 needed = 0;
  if (Uint32 r = result_length(mech, flag, data_len, &needed)) return r;
  if (key != QEL2_FIXED_WRAPPING_KEY)
    if (Uint32 r = check_capability(session, key, flag)) return r;

  std::unique_ptr<Uint8[]> padded;
  Uint32 send_len = data_len;
  if (flag == QEL2_AES_WRAP && pads_on_host(mech)) {
    const Uint8 pad = static_cast<Uint8>(kBlock - data_len % kBlock);
    // Refused before the copy: no request carries more.
    if (!data || data_len == 0 || uint64_t{data_len} + pad > QEL2_AES_WRAP_MAX_DATA)
      return ERR_INVALID_INPUT;
    needed += pad;
    send_len = data_len + pad;
    padded.reset(new (std::nothrow) Uint8[send_len]);
    if (!padded) {
      printf("%s memory allocation failed\n", "Qel2AesWrapUnwrapBufferPad");
      return ERR_MEMORY_ALLOC_FAILURE;
    }
    std::memcpy(padded.get(), data, data_len);
    add_padding(padded.get() + data_len, pad);
  }
  if (!result || *result_len < needed) {
    *result_len = needed;
    return ERR_BUFFER_TOO_SMALL;
  }
  const Uint32 r = wrap_unwrap_common(session, key, padded ? padded.get() : data, send_len, iv,
                                      result, result_len, flag, request_id, mech);
  if (padded) explicit_bzero(padded.get(), send_len);
  if (r == 0 && flag == QEL2_AES_UNWRAP && pads_on_host(mech))
    return verify_and_remove_aes_padding(result, result_len);
  return r;
}

}  // namespace qel2::wrap

namespace {

using qel2::wrap::aes_wrap_unwrap_pad;
using qel2::wrap::iv_value;

bool import_export_mech(Uint32 mech) {
  if (mech == CRYPTO_MECH_AES_KEY_WRAP_PAD || mech == CRYPTO_MECH_AES_KEY_WRAP_PKCS_PAD)
    return true;
  printf("Error : Mechanism %u not supported\n", mech);
  return false;
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2AesWrapUnwrapBuffer2(Uint32 ulSessionHandle, Uint64 ulKeyHandle,
                                            Uint8 *pData, Uint32 ulDataLen, Uint64 ulIV,
                                            Uint8 *pResultData, Uint8 uFlag, Uint32 *request_id) {
  // The caller's buffer holds the whole result: its capacity is that length.
  Uint32 len = 0;
  if (Uint32 r = qel2::wrap::result_length(CRYPTO_MECH_AES_KEY_WRAP_PAD, uFlag, ulDataLen, &len))
    return r;
  return aes_wrap_unwrap_pad(ulSessionHandle, ulKeyHandle, pData, ulDataLen, ulIV, pResultData,
                             &len, uFlag, request_id, CRYPTO_MECH_AES_KEY_WRAP_PAD);
}

QEL2_EXPORT Uint32 Qel2AesWrapUnwrapBuffer(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint8 *pData,
                                           Uint32 ulDataLen, Uint64 ulIV, Uint8 *pResultData,
                                           Uint8 uFlag) {
  return Qel2AesWrapUnwrapBuffer2(ulSessionHandle, ulKeyHandle, pData, ulDataLen, ulIV, pResultData,
                                  uFlag, nullptr);
}

QEL2_EXPORT Uint32 Qel2AesWrapUnwrapBuffer3(Uint32 ulSessionHandle, Uint64 ulKeyHandle,
                                            Uint8 *pData, Uint32 ulDataLen, Uint64 ulIV,
                                            Uint8 *pResultData, Uint32 *pulResultDataLen,
                                            Uint8 uFlag, Uint32 *request_id) {
  return aes_wrap_unwrap_pad(ulSessionHandle, ulKeyHandle, pData, ulDataLen, ulIV, pResultData,
                             pulResultDataLen, uFlag, request_id, CRYPTO_MECH_AES_KEY_WRAP_PAD);
}

QEL2_EXPORT Uint32 Qel2AesWrapUnwrapBuffer4(Uint32 ulSessionHandle, Uint64 ulKeyHandle,
                                            Uint8 *pData, Uint32 ulDataLen, Uint64 ulIV,
                                            Uint8 *pResultData, Uint32 *pulResultDataLen,
                                            Uint8 uFlag, Uint32 ulMech, Uint32 *request_id) {
  if (ulMech != CRYPTO_MECH_AES_KEY_WRAP && ulMech != CRYPTO_MECH_AES_KEY_WRAP_PAD &&
      ulMech != CRYPTO_MECH_AES_KEY_WRAP_PKCS_PAD)
    return ERR_INVALID_INPUT;
  return aes_wrap_unwrap_pad(ulSessionHandle, ulKeyHandle, pData, ulDataLen, ulIV, pResultData,
                             pulResultDataLen, uFlag, request_id, ulMech);
}

QEL2_EXPORT Uint32 Qel2WrapHostKey2(Uint32 ulSessionHandle, Uint8 *pKey, Uint32 ulKeyLen,
                                    Uint8 *pWrappedKey, Uint32 *pulWrappedKeyLen,
                                    Uint64 ulUnwrappingKeyHandle, Uint32 ulMech, Uint8 *pIV,
                                    Uint32 *request_id) {
  if (!pIV) return RET_INVALID_INPUT;
  return aes_wrap_unwrap_pad(ulSessionHandle, ulUnwrappingKeyHandle, pKey, ulKeyLen, iv_value(pIV),
                             pWrappedKey, pulWrappedKeyLen, QEL2_AES_WRAP, request_id, ulMech);
}

QEL2_EXPORT Uint32 Qel2UnWrapHostKey2(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                      Uint32 ulWrappedKeyLen, Uint8 *pKey, Uint32 *pulKeyLen,
                                      Uint64 ulUnwrappingKeyHandle, Uint32 ulMech, Uint8 *pIV,
                                      Uint32 *request_id) {
  if (!pIV) return RET_INVALID_INPUT;
  return aes_wrap_unwrap_pad(ulSessionHandle, ulUnwrappingKeyHandle, pWrappedKey, ulWrappedKeyLen,
                             iv_value(pIV), pKey, pulKeyLen, QEL2_AES_UNWRAP, request_id, ulMech);
}

QEL2_EXPORT Uint32 Qel2ImportWrapKey(Uint32 ulSessionHandle, Uint8 *pKey, Uint32 ulKeyLen,
                                     Uint8 *pWrappedKey, Uint32 *pulWrappedKeyLen,
                                     Uint64 ulUnwrappingKeyHandle, Uint32 ulMech, Uint8 *pIV,
                                     Uint32 *request_id) {
  if (!pIV) return RET_INVALID_INPUT;
  if (!import_export_mech(ulMech)) return ERR_INVALID_INPUT;
  return Qel2WrapHostKey2(ulSessionHandle, pKey, ulKeyLen, pWrappedKey, pulWrappedKeyLen,
                          ulUnwrappingKeyHandle, ulMech, pIV, request_id);
}

QEL2_EXPORT Uint32 Qel2ExportUnwrapKey(Uint32 ulSessionHandle, Uint8 *pWrappedKey,
                                       Uint32 ulWrappedKeyLen, Uint8 *pKey, Uint32 *pulKeyLen,
                                       Uint64 ulUnwrappingKeyHandle, Uint32 ulMech, Uint8 *pIV,
                                       Uint32 *request_id) {
  if (!pIV) return RET_INVALID_INPUT;
  if (!import_export_mech(ulMech)) return ERR_INVALID_INPUT;
  return Qel2UnWrapHostKey2(ulSessionHandle, pWrappedKey, ulWrappedKeyLen, pKey, pulKeyLen,
                            ulUnwrappingKeyHandle, ulMech, pIV, request_id);
}

}  // extern "C"
