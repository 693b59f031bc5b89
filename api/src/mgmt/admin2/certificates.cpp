// Certificate-based authentication: peer certificates, secure boot, the
// certificates and certificate requests of the HSM and its partitions, the
// source/target exchange between partitions, and the storing of a key
// backup key share. The library carries the blobs without parsing them. A
// blob the HSM announces longer than the caller's buffer is reported as
// ERR_BUFFER_TOO_SMALL with the length needed, never as a cut success.
#include <cstdio>

#include "qel2_admin2.h"
#include "qel2_errors.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr size_t kPeerCertCmdLen = 28;
constexpr size_t kPeerCertRespLen = 20;
constexpr size_t kSecureBootCmdLen = 24;
constexpr size_t kKbkShareCmdLen = 52;
constexpr uint32_t kRandomLen = QEL2_CERT_RANDOM_LEN;

enum Presence : uint16_t {
  kTargetRandom = 1,
  kTargetKeyExchange = 2,
  kSourceRandomWanted = 4,
  kSourceKeyExchangeWanted = 8
};

bool storable(CertSubject s) {
  return s == HSM_CERT || s == PARTITION_OWNER_CERT || s == PARTITION_CERT || s == HSM_OWNER_CERT ||
         s == HSM_CERT_ISSUED_BY_HO;
}

bool known(CertSubject s) {
  return storable(s) || s == OSTREL_CERT || s == PARTITION_CERT_ISSUED_BY_HSM;
}

MgmtRequest cert_request(uint16_t sub_op, Uint32 handle) {
  return MgmtRequest(sub_op, masked_session(handle), KQ_CERT_AUTH_CMD);
}

// A blob answered as a length word and the bytes after it: the length
// needed when the caller's room is short, and only bytes that arrived.
Uint32 take_length_word(const MgmtRequest &rq, unsigned blob_seg, const uint8_t *word, Uint32 room,
                        Uint32 *len) {
  Uint32 r = rq.status_result();
  if (r != 0) return r;
  if (rq.received(blob_seg - 1) < 4) return TESSALINE_INVALID_MSG;
  const Uint32 needed = be32_at(word);
  if (needed > room) {
    *len = needed;
    return ERR_BUFFER_TOO_SMALL;
  }
  if (Uint32 bad = rq.check_arrived(blob_seg, needed)) return bad;
  *len = needed;
  return 0;
}

// Certificate or certificate request of a subject: a length word, then the
// blob into the caller's buffer.
Uint32 get_blob(uint16_t sub_op, Uint32 handle, CertSubject subject, Uint8 *buf, Uint32 *len) {
  if (uint64_t{4} + *len > kMaxSegmentLen) return ERR_BUFFER_TOO_BIG;
  uint8_t word[4] = {};
  MgmtRequest rq = cert_request(sub_op, handle);
  rq.out_local(word, sizeof word).out(buf, *len);
  rq.params(0, static_cast<uint16_t>(subject));
  rq.send();
  return take_length_word(rq, 1, word, *len, len);
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2CertAuthPeerCertVerify(Uint32 ulSessionHandle, Uint8 *cert, Uint32 cert_len,
                                              Uint8 srv_type, Uint8 *random, Uint32 *rand_len) {
  if (cert == nullptr || cert_len == 0 || random == nullptr || rand_len == nullptr)
    return ERR_INVALID_INPUT;
  if (kPeerCertRespLen + uint64_t{*rand_len} > kMaxSegmentLen) return ERR_BUFFER_TOO_BIG;
  const Uint32 handle = masked_session(ulSessionHandle);
  CommandRecord<kPeerCertCmdLen> cmd;
  put_session_header(cmd.w, handle);
  cmd.w.u32(cert_len).u8(srv_type).zeros(3);
  uint8_t resp[kPeerCertRespLen] = {};
  MgmtRequest rq = cert_request(KQ_CERT_AUTH_RECV_PEER_CERT, ulSessionHandle);
  rq.command(cmd).in(cert, cert_len).out_local(resp, sizeof resp).out(random, *rand_len);
  if (Uint32 r = rq.check_data_len()) return r;
  rq.send();
  Uint32 r = rq.result();
  if (rq.decode() == MgmtRequest::Decode::kNo) return r;
  const Uint32 got = be32_at(resp + 12);  // ulBufferSize
  if (r == 0 && got > *rand_len) r = ERR_BUFFER_TOO_SMALL;
  if (r == 0)
    if (Uint32 bad = rq.check_arrived(1, got)) return bad;
  *rand_len = got;
  return r;
}

QEL2_EXPORT Uint32 Qel2CertAuthSecureBoot(Uint32 dev_id, Uint8 *sig, Uint32 sig_len) {
  (void)dev_id;
  if (sig == nullptr && sig_len != 0) return ERR_INVALID_INPUT;
  CommandRecord<kSecureBootCmdLen> cmd;
  put_nosession_header(cmd.w, 0);
  cmd.w.u32(sig_len).zeros(4);
  MgmtRequest rq(KQ_CERT_AUTH_SECURE_BOOT, 0, KQ_CERT_AUTH_CMD);
  rq.command(cmd);
  if (sig_len) rq.in(sig, sig_len);
  rq.out_std_response();
  if (Uint32 r = rq.check_data_len()) return r;
  rq.send();
  return rq.result();
}

QEL2_EXPORT Uint32 Qel2StoreCert(Uint32 ulSessionHandle, CertSubject subject, Uint8 *pCert,
                                 Uint32 ulCertLen) {
  if (!storable(subject)) return RET_INVALID_INPUT;
  if (pCert == nullptr || ulCertLen == 0) return ERR_INVALID_INPUT;
  MgmtRequest rq = cert_request(KQ_CERT_AUTH_STORE_CERT, ulSessionHandle);
  rq.in(pCert, ulCertLen).params(0, static_cast<uint16_t>(subject));
  if (Uint32 r = rq.check_data_len()) return r;
  rq.send();
  return rq.status_result();
}

QEL2_EXPORT Uint32 Qel2GetCertReq(Uint32 ulSessionHandle, CertSubject subject, Uint8 *pCertReq,
                                  Uint32 *ulCertReqLen) {
  if (subject != PARTITION_CERT && subject != HSM_CERT) {
    printf("\n\tCert Subject is neither PARTITION nor HSM for GET_CERT_REQ command\n");
    return RET_INVALID_INPUT;
  }
  if (pCertReq == nullptr || ulCertReqLen == nullptr) return ERR_ARGUMENTS_BAD;
  return get_blob(KQ_CERT_AUTH_GET_CERT_REQ, ulSessionHandle, subject, pCertReq, ulCertReqLen);
}

QEL2_EXPORT Uint32 Qel2GetCert(Uint32 ulSessionHandle, CertSubject subject, Uint8 *pCert,
                               Uint32 *ulCertLen) {
  if (!known(subject)) return RET_INVALID_INPUT;
  if (pCert == nullptr || ulCertLen == nullptr) {
    puts("Invalid certificate ");
    return ERR_ARGUMENTS_BAD;
  }
  return get_blob(KQ_CERT_AUTH_GET_CERT, ulSessionHandle, subject, pCert, ulCertLen);
}

QEL2_EXPORT Uint32 Qel2GetSourceRandom(Uint32 ulSessionHandle, Uint8 targetPartitionNo,
                                       Uint8 *pSourceRandom) {
  if (pSourceRandom == nullptr) return ERR_INVALID_INPUT;
  MgmtRequest rq = cert_request(KQ_CERT_AUTH_GET_SOURCE_RANDOM, ulSessionHandle);
  rq.out(pSourceRandom, kRandomLen).params(targetPartitionNo, 0);
  rq.send();
  Uint32 r = rq.status_result();
  if (r == 0 && rq.received(0) < kRandomLen) return TESSALINE_INVALID_MSG;
  return r;
}

QEL2_EXPORT Uint32 Qel2ValidateCert(Uint32 ulSessionHandle, Uint8 targetPartitionNo,
                                    Uint8 *pTargetCert, Uint32 ulTargetCertLen,
                                    Uint8 *pTargetRandom, Uint8 *pTargetKeyExchange,
                                    Uint32 ulTargetKeyExchangeLen, Uint8 *pSourceRandom,
                                    Uint8 *pSourceKeyExchange, Uint32 *ulSourceKeyExchangeLen) {
  if (pTargetCert == nullptr || ulSourceKeyExchangeLen == nullptr) return ERR_INVALID_INPUT;
  uint8_t cert_word[4], kex_word[4], source_word[4] = {};
  put_be32(cert_word, ulTargetCertLen);
  put_be32(kex_word, ulTargetKeyExchangeLen);
  uint16_t presence = 0;
  MgmtRequest rq = cert_request(KQ_CERT_AUTH_VALIDATE_TARGET_CERTS, ulSessionHandle);
  rq.in(cert_word, 4).in(pTargetCert, ulTargetCertLen);
  if (pTargetRandom) {
    rq.in(pTargetRandom, kRandomLen);
    presence |= kTargetRandom;
  }
  if (pTargetKeyExchange) {
    rq.in(kex_word, 4).in(pTargetKeyExchange, ulTargetKeyExchangeLen);
    presence |= kTargetKeyExchange;
  }
  if (pSourceRandom) {
    rq.out(pSourceRandom, kRandomLen);
    presence |= kSourceRandomWanted;
  }
  const unsigned kex_seg = pSourceRandom ? 2 : 1;
  if (pSourceKeyExchange) {
    if (uint64_t{4} + *ulSourceKeyExchangeLen > kMaxSegmentLen) return ERR_BUFFER_TOO_BIG;
    rq.out_local(source_word, 4).out(pSourceKeyExchange, *ulSourceKeyExchangeLen);
    presence |= kSourceKeyExchangeWanted;
  }
  rq.params(targetPartitionNo, presence);
  if (Uint32 r = rq.check_data_len()) return r;
  rq.send();
  if (!pSourceKeyExchange) {
    const Uint32 r = rq.status_result();
    if (r == 0) *ulSourceKeyExchangeLen = 0;
    return r;
  }
  return take_length_word(rq, kex_seg, source_word, *ulSourceKeyExchangeLen,
                          ulSourceKeyExchangeLen);
}

QEL2_EXPORT Uint32 Qel2SourceKeyExchange(Uint32 ulSessionHandle, Uint8 targetPartitionNo,
                                         Uint8 *pSourceKeyExchange,
                                         Uint32 *ulSourceKeyExchangeLen) {
  if (pSourceKeyExchange == nullptr || ulSourceKeyExchangeLen == nullptr) return ERR_INVALID_INPUT;
  if (uint64_t{4} + *ulSourceKeyExchangeLen > kMaxSegmentLen) return ERR_BUFFER_TOO_BIG;
  uint8_t word[4] = {};
  MgmtRequest rq = cert_request(KQ_CERT_AUTH_SOURCE_KEY_EXCHANGE, ulSessionHandle);
  rq.out_local(word, 4).out(pSourceKeyExchange, *ulSourceKeyExchangeLen);
  rq.params(targetPartitionNo, 0);
  rq.send();
  return take_length_word(rq, 1, word, *ulSourceKeyExchangeLen, ulSourceKeyExchangeLen);
}

QEL2_EXPORT Uint32 Qel2TargetKeyExchange(Uint32 ulSessionHandle, Uint8 targetPartitionNo,
                                         Uint8 *pTargetKeyExchange, Uint32 ulTargetKeyExchangeLen) {
  if (pTargetKeyExchange == nullptr) return ERR_INVALID_INPUT;
  MgmtRequest rq = cert_request(KQ_CERT_AUTH_TARGET_KEY_EXCHANGE, ulSessionHandle);
  rq.in(pTargetKeyExchange, ulTargetKeyExchangeLen).params(targetPartitionNo, 0);
  if (Uint32 r = rq.check_data_len()) return r;
  rq.send();
  return rq.status_result();
}

QEL2_EXPORT Uint32 Qel2StoreKBKShare(Uint32 ulSessionHandle, Uint32 ulKeyType, Uint32 plain_key_len,
                                     Uint8 owner, Uint8 *enc_key, Uint32 enc_key_len, Uint8 *sig,
                                     Uint32 sig_len) {
  (void)plain_key_len;
  if ((enc_key == nullptr && enc_key_len != 0) || (sig == nullptr && sig_len != 0))
    return ERR_INVALID_INPUT;
  CommandRecord<kKbkShareCmdLen> cmd;
  cmd.w.zeros(20).u32(ulKeyType).u32(enc_key_len).u32(sig_len).zeros(16).u8(owner).zeros(3);
  MgmtRequest rq(KQ_STORE_KBK_SHARE, ulSessionHandle);
  rq.command(cmd);
  if (sig_len) rq.in(sig, sig_len);
  if (enc_key_len) rq.in(enc_key, enc_key_len);
  rq.out_std_response();
  if (Uint32 r = rq.check_data_len()) return r;
  rq.send();
  return rq.result();
}

}  // extern "C"
