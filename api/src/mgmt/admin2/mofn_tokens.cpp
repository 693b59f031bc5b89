// M-of-N quorum: the M value of each service, an approver's key, and the
// tokens a service asks for (get, inspect, approve, list, delete, time-outs).
// Every request but the key registration hands the whole session handle to
// the request. An event buffer ends a call with the transport's result as
// soon as the exchange ends; otherwise a request id pointer receives the id.
#include <cstdio>
#include <cstring>

#include "qel2_admin.h"
#include "qel2_admin2.h"
#include "qel2_errors.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr size_t kHeaderLen = 20;
constexpr size_t kUserRecordLen = 64;    // SetPINCommand
constexpr size_t kGetTokenCmdLen = 104;  // header, reserved, token
constexpr size_t kApproveCmdLen = 112;   // header, reserved, token_approval head
constexpr size_t kApproveHeadLen = 24;   // ResponseHeader, num_approvals, cur_num_approvers
constexpr size_t kListCmdLen = 24;
constexpr size_t kListHeadLen = 20;  // ResponseHeader, num_tokens
constexpr size_t kTimeoutCmdLen = 28;
constexpr size_t kTimeoutRespLen = 24;
constexpr uint32_t kInfoOnlyRespLen = 96;
constexpr uint32_t kInfoFlag = 1;      // header flags: token information, not a new token
constexpr uint32_t kApprovedFlag = 2;  // answer flags of a token information
constexpr uint32_t kApprovedBit = 0x20000000;
constexpr uint32_t kRegisterFlag = 0x10;
constexpr uint32_t kTimeoutGet = 1, kTimeoutSet = 3;
constexpr uint32_t kSetCTimeout = 4, kSetATimeout = 8;
constexpr uint32_t kNameField = QEL2_TOKEN_NAME_FIELD;

// Output sizes travel in 16 bits: a caller buffer that would not fit is
// refused rather than wrapped.
bool fits_response(uint64_t len) { return len <= kMaxSegmentLen; }

// Sends blocking. With an event buffer the call ends here with the
// transport's result (*early); otherwise the request id is stored.
bool send_ends_early(MgmtRequest &rq, void *buffer_ev, Uint32 *request_id, Uint32 *early) {
  if (buffer_ev != nullptr) {
    *early = rq.callback_args(buffer_ev).send();
    return true;
  }
  rq.send(OSTREL_BLOCKING, request_id);
  return false;
}

// A word of the answer handed over as its four bytes arrived.
Uint32 raw_word(const uint8_t *p) {
  Uint32 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

bool head_arrived(const MgmtRequest &rq) { return rq.received(0) >= kResponseHeaderLen; }

// The 20-byte M value command: the value in the first reserved word, the
// service in the header's last word.
Uint32 m_value_request(uint16_t opcode, Uint32 handle, Service service, Uint8 value,
                       Uint8 *pMValue) {
  CommandRecord<kHeaderLen> cmd;
  cmd.w.u32(value).u32(0).u32(0).u32(0).u32(static_cast<Uint32>(service));
  uint8_t resp[kResponseHeaderLen] = {};
  MgmtRequest rq(opcode, handle);
  rq.command(cmd).out_local(resp, sizeof resp);
  rq.send();
  const Uint32 r = rq.result();
  if (r == 0 && pMValue != nullptr) *pMValue = resp[7];  // low byte of ulFlags
  return r;
}

}  // namespace

extern "C" {

// ---- M values ----

QEL2_EXPORT Uint32 Qel2GetMValue(Uint32 ulSessionHandle, Service ServiceNumber, Uint8 *pMValue) {
  return m_value_request(KQ_GET_M_VALUE, ulSessionHandle, ServiceNumber, 0, pMValue);
}

QEL2_EXPORT Uint32 Qel2SetMValue(Uint32 ulSessionHandle, Service ServiceNumber, Uint8 MValue) {
  return m_value_request(KQ_SET_M_VALUE, ulSessionHandle, ServiceNumber, MValue, nullptr);
}

// ---- an approver's key: the change-password record, flagged ----

Uint32 Qel2RegisterMofNKeyCommon(Uint32 ulSessionHandle, Uint32 ulUserType, Uint8 *name,
                                 Uint32 name_len, Uint8 *pswd, Uint32 pswd_len, Uint8 *pPublicKey,
                                 Uint8 *pSignature, void *buffer_ev, Uint32 *request_id) {
  if (name == nullptr || name_len == 0 || pswd == nullptr || pswd_len == 0)
    return ERR_INVALID_INPUT;
  if (strnlen(reinterpret_cast<const char *>(name), kNameField) != name_len)
    return ERR_INVALID_INPUT;
  if (name_len >= kNameField) return ERR_INVALID_STRING_OP;  // no room for the NUL
  const Uint32 handle = masked_session(ulSessionHandle);
  CommandRecord<kUserRecordLen> cmd;
  put_session_header(cmd.w, handle, kRegisterFlag);
  cmd.w.u32(ulUserType).u32(name_len).fixed(name, name_len, kNameField).u32(pswd_len);
  uint8_t resp[kResponseHeaderLen] = {};
  MgmtRequest rq(KQ_CHANGE_PSWD, handle);
  rq.command(cmd).in(pswd, pswd_len);
  if (pPublicKey) rq.in(pPublicKey, QEL2_USER_PUBLIC_KEY_LEN);
  if (pSignature) rq.in(pSignature, QEL2_USER_SIGNATURE_LEN);
  rq.out_local(resp, sizeof resp);
  if (Uint32 r = rq.check_data_len()) return r;
  Uint32 early = 0;
  if (send_ends_early(rq, buffer_ev, request_id, &early)) return early;
  return rq.result();
}

QEL2_EXPORT Uint32 Qel2RegisterMofNKey(Uint32 ulSessionHandle, Uint32 ulUserType, Uint8 *name,
                                       Uint32 name_len, Uint8 *pswd, Uint32 pswd_len,
                                       Uint8 *pPublicKey, Uint8 *pSignature) {
  return Qel2RegisterMofNKeyCommon(ulSessionHandle, ulUserType, name, name_len, pswd, pswd_len,
                                   pPublicKey, pSignature, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2RegisterMofNKey2(Uint32 ulSessionHandle, Uint32 ulUserType, Uint8 *name,
                                        Uint32 name_len, Uint8 *pswd, Uint32 pswd_len,
                                        Uint8 *pPublicKey, Uint8 *pSignature, void *buffer_ev,
                                        Uint32 *request_id) {
  return Qel2RegisterMofNKeyCommon(ulSessionHandle, ulUserType, name, name_len, pswd, pswd_len,
                                   pPublicKey, pSignature, buffer_ev, request_id);
}

// ---- a new token ----

Uint32 Qel2GetTokenCommon(Uint32 ulSessionHandle, Service ServiceNumber, Uint64 KeyToBeApproved,
                          Int8 *UserName, token_t *pToken, Uint32 *pulTokenLen, Uint32 flags,
                          void *buffer_ev, Uint32 *request_id) {
  if (pulTokenLen == nullptr || UserName == nullptr || pToken == nullptr) return ERR_INVALID_INPUT;
  const size_t user_len = strnlen(reinterpret_cast<const char *>(UserName), kNameField);
  if (user_len >= kNameField) return ERR_INVALID_STRING_OP;
  if (!fits_response(uint64_t{kResponseHeaderLen} + *pulTokenLen)) return ERR_BUFFER_TOO_BIG;
  CommandRecord<kGetTokenCmdLen> cmd;
  cmd.w.zeros(8).u32(flags).u32(0).u32(0).u32(0);  // header: ulFlags only
  cmd.w.u16(0).u16(static_cast<uint16_t>(ServiceNumber)).u32(0).u64(KeyToBeApproved).zeros(16);
  cmd.w.fixed(UserName, user_len, kNameField).zeros(16);
  uint8_t resp[kResponseHeaderLen] = {};
  MgmtRequest rq(KQ_GET_TOKEN, ulSessionHandle);
  rq.command(cmd).out_local(resp, sizeof resp).out(pToken, *pulTokenLen);
  Uint32 early = 0;
  if (send_ends_early(rq, buffer_ev, request_id, &early)) return early;
  const Uint32 r = rq.result();
  if (head_arrived(rq)) *pulTokenLen = raw_word(resp + 8);  // ulTotalSize as it arrived
  return r;
}

QEL2_EXPORT Uint32 Qel2GetToken(Uint32 ulSessionHandle, Service ServiceNumber,
                                Uint64 KeyToBeApproved, Int8 *UserName, token_t *pToken,
                                Uint32 *pulTokenLen, Uint32 flags) {
  return Qel2GetTokenCommon(ulSessionHandle, ServiceNumber, KeyToBeApproved, UserName, pToken,
                            pulTokenLen, flags, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2GetToken2(Uint32 ulSessionHandle, Service ServiceNumber,
                                 Uint64 KeyToBeApproved, Int8 *UserName, token_t *pToken,
                                 Uint32 *pulTokenLen, Uint32 flags, void *buffer_ev,
                                 Uint32 *request_id) {
  return Qel2GetTokenCommon(ulSessionHandle, ServiceNumber, KeyToBeApproved, UserName, pToken,
                            pulTokenLen, flags, buffer_ev, request_id);
}

// ---- what a token has gathered ----

Uint32 Qel2GetTokenInfoCommon(Uint32 ulSessionHandle, token_t *t, token_info_t *ti, Uint32 *ti_size,
                              void *buffer_ev, Uint32 *request_id) {
  if (t == nullptr) return ERR_INVALID_INPUT;
  const bool want_info = ti != nullptr && ti_size != nullptr;
  if (want_info && !fits_response(uint64_t{kResponseHeaderLen} + *ti_size))
    return ERR_BUFFER_TOO_BIG;
  CommandRecord<kGetTokenCmdLen> cmd;
  cmd.w.zeros(8).u32(kInfoFlag).u32(0).u32(0).u32(0).bytes(t, sizeof(token_t));
  uint8_t resp[kResponseHeaderLen] = {};
  MgmtRequest rq(KQ_GET_TOKEN, ulSessionHandle);
  rq.command(cmd).out_local(resp, sizeof resp);
  if (want_info) {
    rq.out(ti, *ti_size);
  } else {
    rq.params(static_cast<uint16_t>(cmd.w.size()), kInfoOnlyRespLen);
    rq.lengths(static_cast<uint16_t>(cmd.w.size()), kInfoOnlyRespLen);
  }
  Uint32 early = 0;
  if (send_ends_early(rq, buffer_ev, request_id, &early)) return early;
  Uint32 r = rq.result();
  if (!head_arrived(rq)) return r;
  if (ti_size != nullptr) *ti_size = raw_word(resp + 12);  // ulBufferSize as it arrived
  if (be32_at(resp + 4) == kApprovedFlag) r |= kApprovedBit;
  return r;
}

QEL2_EXPORT Uint32 Qel2GetTokenInfo(Uint32 ulSessionHandle, token_t *t, token_info_t *ti,
                                    Uint32 *ti_size) {
  return Qel2GetTokenInfoCommon(ulSessionHandle, t, ti, ti_size, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2GetTokenInfo2(Uint32 ulSessionHandle, token_t *t, token_info_t *ti,
                                     Uint32 *ti_size, void *buffer_ev, Uint32 *request_id) {
  return Qel2GetTokenInfoCommon(ulSessionHandle, t, ti, ti_size, buffer_ev, request_id);
}

// ---- approvals ----

Uint32 Qel2ApproveTokenCommon(Uint32 ulSessionHandle, token_t *t, Uint16 num_tokens,
                              Uint8 *mtokens_blob, Uint16 num_approvals, Uint8 *approval_blob,
                              Uint32 *approval_status, void *buffer_ev, Uint32 *request_id) {
  if (approval_blob == nullptr || approval_status == nullptr || mtokens_blob == nullptr)
    return RET_INVALID_INPUT;
  const uint64_t status_len = uint64_t{4} * num_approvals;
  if (!fits_response(kApproveHeadLen + status_len)) return ERR_BUFFER_TOO_BIG;
  CommandRecord<kApproveCmdLen> cmd;
  put_session_header(cmd.w, ulSessionHandle, t ? 0 : kInfoFlag);
  cmd.w.u32(0);
  if (t)
    cmd.w.bytes(t, sizeof(token_t));
  else
    cmd.w.zeros(sizeof(token_t));
  cmd.w.u16(num_tokens).u16(num_approvals).u32(0);
  uint8_t resp[kApproveHeadLen] = {};
  MgmtRequest rq(KQ_APPROVE_TOKEN, ulSessionHandle);
  rq.command(cmd)
      .in(mtokens_blob, static_cast<uint32_t>(uint64_t{QEL2_TOKEN_SIZE} * num_tokens))
      .in(approval_blob, static_cast<uint32_t>(uint64_t{QEL2_APPROVAL_SIZE} * num_approvals))
      .out_local(resp, sizeof resp)
      .out(approval_status, static_cast<uint32_t>(status_len));
  if (Uint32 r = rq.check_data_len()) return r;
  Uint32 early = 0;
  if (send_ends_early(rq, buffer_ev, request_id, &early)) return early;
  return rq.result();
}

QEL2_EXPORT Uint32 Qel2ApproveToken(Uint32 ulSessionHandle, token_t *t, Uint16 num_tokens,
                                    Uint8 *mtokens_blob, Uint16 num_approvals, Uint8 *approval_blob,
                                    Uint32 *approval_status) {
  return Qel2ApproveTokenCommon(ulSessionHandle, t, num_tokens, mtokens_blob, num_approvals,
                                approval_blob, approval_status, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2ApproveToken2(Uint32 ulSessionHandle, token_t *t, Uint16 num_tokens,
                                     Uint8 *mtokens_blob, Uint16 num_approvals,
                                     Uint8 *approval_blob, Uint32 *approval_status, void *buffer_ev,
                                     Uint32 *request_id) {
  return Qel2ApproveTokenCommon(ulSessionHandle, t, num_tokens, mtokens_blob, num_approvals,
                                approval_blob, approval_status, buffer_ev, request_id);
}

// ---- the partition's tokens ----

Uint32 Qel2ListTokensCommon(Uint32 ulSessionHandle, Uint32 ulBeginIndex, token_info_t *ti,
                            Uint32 *ti_size, Uint32 *num_tokens, Uint32 *parsed_tokens,
                            void *buffer_ev, Uint32 *request_id) {
  if (ti_size == nullptr || num_tokens == nullptr) return RET_INVALID_INPUT;
  if (ti && !fits_response(uint64_t{kListHeadLen} + *ti_size)) return ERR_BUFFER_TOO_BIG;
  CommandRecord<kListCmdLen> cmd;
  put_session_header(cmd.w, ulSessionHandle);
  cmd.w.u32(ulBeginIndex);
  uint8_t resp[kListHeadLen] = {};
  MgmtRequest rq(KQ_LIST_TOKENS, ulSessionHandle);
  rq.command(cmd).out_local(resp, sizeof resp);
  if (ti) rq.out(ti, *ti_size);
  Uint32 early = 0;
  if (send_ends_early(rq, buffer_ev, request_id, &early)) return early;
  Uint32 r = rq.result();
  const auto decode = rq.decode();
  if (decode == MgmtRequest::Decode::kNo) return r;
  const Uint32 available = be32_at(resp + 12);
  if (decode == MgmtRequest::Decode::kYes && ti)
    if (Uint32 bad = rq.check_arrived(1, available)) return bad;
  *num_tokens = be32_at(resp + 16);
  if (parsed_tokens) *parsed_tokens = raw_word(resp + 8);  // ulTotalSize as it arrived
  *ti_size = available;
  return r;
}

QEL2_EXPORT Uint32 Qel2ListTokens(Uint32 ulSessionHandle, token_info_t *token_info,
                                  Uint32 *ptoken_info_size, Uint32 *num_tokens) {
  return Qel2ListTokensCommon(ulSessionHandle, 0, token_info, ptoken_info_size, num_tokens, nullptr,
                              nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2ListTokens2(Uint32 ulSessionHandle, token_info_t *token_info,
                                   Uint32 *ptoken_info_size, Uint32 *num_tokens, void *buffer_ev,
                                   Uint32 *request_id) {
  return Qel2ListTokensCommon(ulSessionHandle, 0, token_info, ptoken_info_size, num_tokens, nullptr,
                              buffer_ev, request_id);
}

QEL2_EXPORT Uint32 Qel2ListTokens3(Uint32 ulSessionHandle, Uint32 ulBeginIndex,
                                   token_info_t *token_info, Uint32 *ptoken_info_size,
                                   Uint32 *num_tokens, Uint32 *parsed_tokens) {
  return Qel2ListTokensCommon(ulSessionHandle, ulBeginIndex, token_info, ptoken_info_size,
                              num_tokens, parsed_tokens, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2ListTokens4(Uint32 ulSessionHandle, Uint32 ulBeginIndex,
                                   token_info_t *token_info, Uint32 *ptoken_info_size,
                                   Uint32 *num_tokens, void *buffer_ev, Uint32 *request_id) {
  return Qel2ListTokensCommon(ulSessionHandle, ulBeginIndex, token_info, ptoken_info_size,
                              num_tokens, nullptr, buffer_ev, request_id);
}

// ---- deletion ----

Uint32 Qel2DeleteTokenCommon(Uint32 ulSessionHandle, token_t *pToken, Uint32 ulTokenLen,
                             DelTokenFlag ulDelFlags, void *buffer_ev, Uint32 *request_id) {
  if (ulDelFlags != DEL_GIVEN_TOKEN && ulDelFlags != DEL_ALL_PARTN_TOKEN &&
      ulDelFlags != DEL_ALL_USER_TOKENS) {
    puts("Invalid Flags passed");
    return RET_INVALID_INPUT;
  }
  // The header's last word carries the token length in host byte order.
  uint8_t head[kHeaderLen] = {};
  put_be32(head + 8, static_cast<Uint32>(ulDelFlags));
  std::memcpy(head + 16, &ulTokenLen, sizeof ulTokenLen);
  const uint8_t zero[4] = {};
  MgmtRequest rq(KQ_DELETE_TOKEN, ulSessionHandle);
  rq.in(head, sizeof head).in(zero, sizeof zero);
  if (pToken) rq.in(pToken, ulTokenLen);
  rq.out_std_response();
  if (Uint32 r = rq.check_data_len()) return r;
  Uint32 early = 0;
  if (send_ends_early(rq, buffer_ev, request_id, &early)) return early;
  return rq.result();
}

QEL2_EXPORT Uint32 Qel2DeleteToken(Uint32 ulSessionHandle, token_t *pToken, Uint32 ulTokenLen,
                                   DelTokenFlag ulDelFlags) {
  return Qel2DeleteTokenCommon(ulSessionHandle, pToken, ulTokenLen, ulDelFlags, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2DeleteToken2(Uint32 ulSessionHandle, token_t *pToken, Uint32 ulTokenLen,
                                    DelTokenFlag ulDelFlags, void *buffer_ev, Uint32 *request_id) {
  return Qel2DeleteTokenCommon(ulSessionHandle, pToken, ulTokenLen, ulDelFlags, buffer_ev,
                               request_id);
}

// ---- time-outs ----

Uint32 Qel2GetTokenTimeoutCommon(Uint32 ulSessionHandle, Int32 *c_timeout, Int32 *a_timeout,
                                 void *buffer_ev, Uint32 *request_id) {
  if (c_timeout == nullptr || a_timeout == nullptr) return RET_INVALID_INPUT;
  CommandRecord<kTimeoutCmdLen> cmd;
  put_session_header(cmd.w, 0, kTimeoutGet);
  cmd.w.u32(0).u32(0);
  uint8_t resp[kTimeoutRespLen] = {};
  MgmtRequest rq(KQ_TOKEN_TIMEOUT, ulSessionHandle);
  rq.command(cmd).out_local(resp, sizeof resp);
  Uint32 early = 0;
  if (send_ends_early(rq, buffer_ev, request_id, &early)) return early;
  const Uint32 r = rq.result();
  if (r != 0) return r;
  *c_timeout = static_cast<Int32>(be32_at(resp + 16));
  *a_timeout = static_cast<Int32>(be32_at(resp + 20));
  return 0;
}

QEL2_EXPORT Uint32 Qel2GetTokenTimeout(Uint32 ulSessionHandle, Int32 *c_timeout, Int32 *a_timeout) {
  return Qel2GetTokenTimeoutCommon(ulSessionHandle, c_timeout, a_timeout, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2GetTokenTimeout2(Uint32 ulSessionHandle, Int32 *c_timeout, Int32 *a_timeout,
                                        void *buffer_ev, Uint32 *request_id) {
  return Qel2GetTokenTimeoutCommon(ulSessionHandle, c_timeout, a_timeout, buffer_ev, request_id);
}

Uint32 Qel2SetTokenTimeoutCommon(Uint32 ulSessionHandle, Int32 c_timeout, Int32 a_timeout,
                                 Uint32 flags, void *buffer_ev, Uint32 *request_id) {
  if ((c_timeout < 0 && (flags & kSetCTimeout)) || (a_timeout < 0 && (flags & kSetATimeout)))
    return RET_INVALID_INPUT;
  CommandRecord<kTimeoutCmdLen> cmd;
  cmd.w.zeros(8).u32(kTimeoutSet).u32(0).u32(flags);
  cmd.w.u32(static_cast<Uint32>(c_timeout)).u32(static_cast<Uint32>(a_timeout));
  uint8_t resp[kTimeoutRespLen] = {};
  MgmtRequest rq(KQ_TOKEN_TIMEOUT, ulSessionHandle);
  rq.command(cmd).out_local(resp, sizeof resp);
  Uint32 early = 0;
  if (send_ends_early(rq, buffer_ev, request_id, &early)) return early;
  return rq.result();
}

QEL2_EXPORT Uint32 Qel2SetTokenTimeout(Uint32 ulSessionHandle, Int32 c_timeout, Int32 a_timeout,
                                       Uint32 flags) {
  return Qel2SetTokenTimeoutCommon(ulSessionHandle, c_timeout, a_timeout, flags, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2SetTokenTimeout2(Uint32 ulSessionHandle, Int32 c_timeout, Int32 a_timeout,
                                        Uint32 flags, void *buffer_ev, Uint32 *request_id) {
  return Qel2SetTokenTimeoutCommon(ulSessionHandle, c_timeout, a_timeout, flags, buffer_ev,
                                   request_id);
}

}  // extern "C"
