// 3DES keys derived on the HSM from a password, a salt and an iteration
// count.
#include <cstdio>

#include "mgmt/keys/keys_internal.h"
#include "qel2_errors.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr Uint32 kMaxIterations = 10000;

}  // namespace

Uint32 Qel2GeneratePBEKeyCommon(Uint32 ulSessionHandle, const PbeKeyArgs &a, Uint64 *pulKeyHandle,
                                KeyGenAttest *keygenattest, Uint32 *request_id) {
  const tmpl::ObjectAccess &who = a.access;
  if (who.label_len > kMaxLabelLen) return ERR_DATA_LEN_RANGE;
  if (!who.label) return ERR_INVALID_INPUT;
  if (reserved_label(who.label, who.label_len)) return ERR_BAD_LABEL;
  if (!pulKeyHandle || a.iterations > kMaxIterations) return ERR_INVALID_INPUT;

  const tmpl::BuildArgs b =
      tmpl::build_args(TEMPLATE_MODE_KEY_GEN, OBJ_CLASS_SECRET_KEY, KEY_TYPE_DES3, who);
  Uint32 size = 0, count = 0;
  FreedBuffer tmpl(build_template(b, &size, &count));
  if (!tmpl) return ERR_SET_TEMPLATE;
  if (size > kMaxDataLen) return ERR_BUFFER_TOO_BIG;
  if (Uint32 r = validateTemplateFromUser2(size, tmpl.get(), &count, TEMPLATE_MODE_KEY_GEN))
    return r;
  const uint8_t token_flags = template_token_flags(size, tmpl.get());

  const uint32_t session = masked_session(ulSessionHandle);
  CommandRecord<sizeof(GenerateKeyCommand)> cmd;
  put_keygen_header(cmd.w, session, false);
  cmd.w.u32(a.old_mechanism ? QEL2_MECH_PBE_SHA1_DES3_EDE_CBC_OLD
                            : QEL2_MECH_PBE_SHA1_DES3_EDE_CBC);
  // A value without bytes travels as its length word 0 alone, so that the
  // word always tells what follows.
  const Uint32 password_len = a.password ? a.password_len : 0;
  const Uint32 salt_len = a.salt ? a.salt_len : 0;
  uint8_t password_word[4], salt_word[4], iterations_word[4];
  put_be32(password_word, password_len);
  put_be32(salt_word, salt_len);
  put_be32(iterations_word, a.iterations);
  ObjectHead head;
  put_object_head(head, count, size);
  uint8_t resp[sizeof(GenerateKeyResponse)] = {};

  MgmtRequest rq(KQ_GENERATE_PBE_KEY, session);
  rq.token_flags(token_flags);
  rq.command(cmd).in(password_word, sizeof password_word);
  if (password_len) rq.in(a.password, password_len);
  rq.in(salt_word, sizeof salt_word);
  if (salt_len) rq.in(a.salt, salt_len);
  rq.in(iterations_word, sizeof iterations_word)
      .command(head)
      .in(tmpl.get(), size)
      .out_local(resp, sizeof resp);
  // Summed in 64 bits by the request: a huge password cannot wrap the check.
  if (Uint32 r = rq.check_data_len()) return r;
  add_keygen_outputs(rq, AttrOut{}, keygenattest);
  rq.cluster_rule(ClusterRule::kNone);
  rq.send(OSTREL_BLOCKING, request_id);

  // The plain rule: no layer passes for a cluster that completed partly.
  const Uint32 r = rq.result();
  // The handle field as far as it arrived; 0 when the answer carried none.
  *pulKeyHandle = rq.received(0) >= sizeof resp
                      ? be64_at(resp + offsetof(GenerateKeyResponse, ulNewKeyHandle))
                      : 0;
  return r;
}

namespace {

PbeKeyArgs pbe_args(Uint32 *sessions, Uint8 n_sessions, Uint16 *users, Uint8 n_users, Uint8 m_value,
                    Uint8 *id, Uint32 id_len, Uint8 *label, Uint32 label_len, Uint8 *password,
                    Uint32 password_len, Uint8 *salt, Uint32 salt_len, Uint32 iterations,
                    Uint8 location, Uint8 old_mechanism, Uint8 extractable) {
  PbeKeyArgs a;
  a.access = {sessions, n_sessions, users,     n_users,  m_value,     id,
              id_len,   label,      label_len, location, extractable, nullptr};
  a.password = password;
  a.password_len = password_len;
  a.salt = salt;
  a.salt_len = salt_len;
  a.iterations = iterations;
  a.old_mechanism = old_mechanism;
  return a;
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2GeneratePBEKey(Uint32 ulSessionHandle, Uint32 *pSessions, Uint8 ulSessCount,
                                      Uint16 *pUsers, Uint8 ulCount, Uint8 *pID, Uint32 ulIDLen,
                                      Uint8 *pLabel, Uint32 ulLabelLen, Uint8 *pPassword,
                                      Uint32 ulPasswordLen, Uint8 *pSaltValue,
                                      Uint32 ulSaltValueLen, Uint32 ulIterationCount,
                                      Uint8 * /*pIV*/, Uint8 ucKeyLocation,
                                      Uint8 bUseCKM_PBE_SHA1_DES3_EDE_CBC_OLD,
                                      Uint64 *pulKeyHandle) {
  return Qel2GeneratePBEKeyCommon(
      ulSessionHandle,
      pbe_args(pSessions, ulSessCount, pUsers, ulCount, 0, pID, ulIDLen, pLabel, ulLabelLen,
               pPassword, ulPasswordLen, pSaltValue, ulSaltValueLen, ulIterationCount,
               ucKeyLocation, bUseCKM_PBE_SHA1_DES3_EDE_CBC_OLD, 1),
      pulKeyHandle, nullptr, nullptr);
}

QEL2_EXPORT Uint32 Qel2GeneratePBEKey2(
    Uint32 ulSessionHandle, Uint32 *pSessions, Uint8 ulSessCount, Uint16 *pUsers, Uint8 ulCount,
    Uint8 ulMValue, Uint8 *pID, Uint32 ulIDLen, Uint8 *pLabel, Uint32 ulLabelLen, Uint8 *pPassword,
    Uint32 ulPasswordLen, Uint8 *pSaltValue, Uint32 ulSaltValueLen, Uint32 ulIterationCount,
    Uint8 * /*pIV*/, Uint8 ucKeyLocation, Uint8 bUseCKM_PBE_SHA1_DES3_EDE_CBC_OLD,
    Uint8 bExtractable, Uint64 *pulKeyHandle, KeyGenAttest *keygenattest, Uint32 *request_id) {
  return Qel2GeneratePBEKeyCommon(
      ulSessionHandle,
      pbe_args(pSessions, ulSessCount, pUsers, ulCount, ulMValue, pID, ulIDLen, pLabel, ulLabelLen,
               pPassword, ulPasswordLen, pSaltValue, ulSaltValueLen, ulIterationCount,
               ucKeyLocation, bUseCKM_PBE_SHA1_DES3_EDE_CBC_OLD, bExtractable),
      pulKeyHandle, keygenattest, request_id);
}

}  // extern "C"
