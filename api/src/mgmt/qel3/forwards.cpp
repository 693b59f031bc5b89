// The Qel3 wrappers that only pass their arguments on, or fix some of them.
// One row each: the wrapper's own parameters, then the call it makes. The
// fixed values are the shorter interface's: device 0, partition 0, no
// session lists, no signatures, mechanism 4241 for the key-wrap calls.
#include "qel3.h"

namespace {
constexpr Uint32 kWrapMech = 4241;  // AES key wrap with padding
constexpr CertSubject kHsmCertReq = static_cast<CertSubject>(8);
constexpr Uint32 kTokenLen = 80;
constexpr Uint32 kKbkKeyType = 31, kKbkPlainLen = 32;
constexpr Uint8 kKbkOwner = 3;

Uint8 low8(Uint32 v) { return static_cast<Uint8>(v); }
Uint16 low16(Uint32 v) { return static_cast<Uint16>(v); }
}  // namespace

#define QEL3_FORWARD(name, params, call) \
  QEL2_EXPORT Uint32 name params { return call; }

extern "C" {

// clang-format off
// ---- arguments passed on unchanged, in the same order ----
QEL3_FORWARD(Qel3OpenSession, (Uint32 app, Uint32 *session), Qel2OpenSession2(app, session))
QEL3_FORWARD(Qel3Shutdown, (Uint32 app), Qel2Shutdown2(app))
QEL3_FORWARD(Qel3InitHSM, (Uint32 s, BoardConfiguration *config), Qel2InitHSMNimbrel(s, config))
QEL3_FORWARD(Qel3InitHSMDone, (Uint32 s), Qel2InitHSMDone(s))
QEL3_FORWARD(Qel3CreateUser, (Uint32 s, Uint32 type, const Uint8 *name, Uint32 name_len, const Uint8 *pswd, Uint32 pswd_len, const Uint8 *pub, const Uint8 *sig),
             Qel2CreateUser2(s, type, name, name_len, pswd, pswd_len, pub, sig))
QEL3_FORWARD(Qel3ChangeUserPswd, (Uint32 s, Uint32 type, const Uint8 *name, Uint32 name_len, const Uint8 *pswd, Uint32 pswd_len, const Uint8 *pub, const Uint8 *sig),
             Qel2ChangeUserPswd(s, type, name, name_len, pswd, pswd_len, pub, sig))
QEL3_FORWARD(Qel3ListUsers, (Uint32 s, Uint32 last, UserInfo *users, Uint32 *count, Uint32 *total, Uint32 *rid),
             Qel2ListUsers2(s, last, users, count, total, rid))
QEL3_FORWARD(Qel3DeleteUser, (Uint32 s, Uint32 type, const Uint8 *name, Uint32 name_len),
             Qel2DeleteUser(s, type, name, low8(name_len)))
QEL3_FORWARD(Qel3GetMValue, (Uint32 s, Service service, Uint8 *m), Qel2GetMValue(s, service, m))
QEL3_FORWARD(Qel3SetMValue, (Uint32 s, Service service, Uint32 m), Qel2SetMValue(s, service, low8(m)))
QEL3_FORWARD(Qel3SetNodeId, (Uint32 s, Uint32 node), Qel2SetNodeId(s, node))
QEL3_FORWARD(Qel3StoreCert, (Uint32 s, CertSubject subject, Uint8 *cert, Uint32 len), Qel2StoreCert(s, subject, cert, len))
QEL3_FORWARD(Qel3GetCert, (Uint32 s, CertSubject subject, Uint8 *cert, Uint32 *len), Qel2GetCert(s, subject, cert, len))
QEL3_FORWARD(Qel3GetPartnSingleKeyHandleHash, (Uint32 s, Uint64 obj, HashType hash_type, Uint8 *hash),
             Qel2GetPartnSingleKeyHandleHash(s, obj, hash_type, hash))
QEL3_FORWARD(Qel3GetPartnKeyHandlesHash, (Uint32 s, HashType hash_type, Uint8 *hash), Qel2GetPartnKeyHandlesHash(s, hash_type, hash))
QEL3_FORWARD(Qel3GetHSMInfo, (Uint32 s, HSMInfo *info), Qel2GetHSMInfoNew(s, info))
QEL3_FORWARD(Qel3LoginHSM, (Uint32 s, Uint32 type, const Uint8 *name, Uint32 name_len, const Uint8 *pswd, Uint32 pswd_len, Uint32 *rid),
             Qel2LoginHSM4(s, type, name, name_len, pswd, pswd_len, rid))
QEL3_FORWARD(Qel3LogoutHSM, (Uint32 s, Uint32 *rid), Qel2LogoutHSM3(s, rid))
QEL3_FORWARD(Qel3GetLoginStatus, (Uint32 s, Uint32 *status), Qel2GetLoginStatus(s, status))
QEL3_FORWARD(Qel3DeleteKey, (Uint32 s, Uint64 key, Uint32 *rid), Qel2DeleteKey2(s, key, rid))
QEL3_FORWARD(Qel3ExtractMaskedObject, (Uint32 s, Uint64 obj, Uint8 *out, Uint32 *len, Uint32 *rid),
             Qel2ExtractMaskedObjectWithUserInfo(s, obj, out, len, rid))
QEL3_FORWARD(Qel3ExportPublicKey, (Uint32 s, Uint64 key, Uint8 *out, Uint32 *len, Uint32 *rid), Qel2ExportPublicKey2(s, key, out, len, rid))
QEL3_FORWARD(Qel3ExportUnwrapKeyWithMech, (Uint32 s, Uint8 *wrapped, Uint32 wrapped_len, Uint8 *key, Uint32 *key_len, Uint64 kek, Uint32 mech, Uint8 *iv, Uint32 *rid),
             Qel2ExportUnwrapKey(s, wrapped, wrapped_len, key, key_len, kek, mech, iv, rid))
QEL3_FORWARD(Qel3Verify, (Uint32 s, Uint8 *msg, Uint32 msg_len, Uint8 *sig, Uint32 sig_len, Uint64 key, Uint32 mech, Uint32 drop_hashing),
             Qel2Verify2(s, msg, msg_len, sig, sig_len, key, mech, drop_hashing))
QEL3_FORWARD(Qel3GetToken, (Uint32 s, Service service, Uint64 key, Int8 *user, token_t *token, Uint32 *len, Uint32 flags),
             Qel2GetToken(s, service, key, user, token, len, flags))
QEL3_FORWARD(Qel3ApproveToken, (Uint32 s, token_t *t, Uint32 n_tokens, Uint8 *tokens, Uint32 n_approvals, Uint8 *approvals, Uint32 *status),
             Qel2ApproveToken(s, t, low16(n_tokens), tokens, low16(n_approvals), approvals, status))
QEL3_FORWARD(Qel3GenKeyEncKey, (Uint32 s, Uint32 method, Uint8 *nonce_in, Uint32 *out_len, Uint8 *nonce_out),
             Qel2GenKeyEncKeyNew(s, low8(method), nonce_in, out_len, nonce_out))
QEL3_FORWARD(Qel3GenPswdEncKey, (Uint32 s, Uint8 *nonce_in, Uint32 *out_len, Uint8 *nonce_out), Qel2GenPswdEncKey(s, nonce_in, out_len, nonce_out))
QEL3_FORWARD(Qel3CloneSourceInit, (Uint32 s, Uint8 *out, Uint32 *out_len), Qel2CloneSourceInit(s, out, out_len))
QEL3_FORWARD(Qel3CloneTargetInit, (Uint32 s, Uint8 *in, Uint32 in_len, Uint8 *out, Uint32 *out_len), Qel2CloneTargetInit(s, in, in_len, out, out_len))
QEL3_FORWARD(Qel3CloneSourceStage1, (Uint32 s, Uint8 *in, Uint32 in_len, Uint8 *out, Uint32 *out_len), Qel2CloneSourceStage1(s, in, in_len, out, out_len))
QEL3_FORWARD(Qel3CloneTargetStage1, (Uint32 s, Uint8 *in, Uint32 in_len, Uint8 *out, Uint32 *out_len), Qel2CloneTargetStage1(s, in, in_len, out, out_len))
QEL3_FORWARD(Qel3UnWrapKey, (Uint32 s, Uint8 *wrapped, Uint32 wrapped_len, Uint64 kek, Uint8 *iv, Uint8 *tmpl, Uint32 tmpl_size, Uint32 count, Uint64 *handle, Uint8 *attested, Uint32 *attested_len, Uint32 *rid, Uint8 location),
             Qel2UnWrapWithTemplate(s, wrapped, wrapped_len, kek, iv, tmpl, tmpl_size, count, handle, attested, attested_len, rid, location))
QEL3_FORWARD(Qel3ImportUnWrapKey, (Uint32 s, Uint8 *wrapped, Uint32 wrapped_len, Uint64 kek, Uint8 *iv, Uint8 *tmpl, Uint32 tmpl_size, Uint32 count, Uint64 *handle, Uint8 *attested, Uint32 *attested_len, Uint32 *rid, Uint8 location),
             Qel2ImportUnWrapKey(s, wrapped, wrapped_len, kek, iv, tmpl, tmpl_size, count, handle, attested, attested_len, rid, location))
QEL3_FORWARD(Qel3UnWrapKeyWithSize, (Uint32 s, Uint8 *wrapped, Uint32 wrapped_len, Uint64 kek, Uint8 *iv, Uint32 type, Uint32 size, Uint32 mod_bits, Uint32 has_template, Uint8 *label, Uint32 label_len, Uint64 *handle, Uint32 location, Uint32 extractable, Uint32 mech, Uint32 *rid),
             Qel2UnWrapKeyWithSize(s, wrapped, wrapped_len, kek, iv, type, size, mod_bits, low8(has_template), label, label_len, handle, low8(location), low8(extractable), mech, rid))
QEL3_FORWARD(Qel3ListTokens, (Uint32 s, token_info_t *info, Uint32 *size, Uint32 *n), Qel2ListTokens(s, info, size, n))

// ---- fixed or rearranged arguments ----
QEL3_FORWARD(Qel3Initialize, (Uint32 *app), Qel2Initialize2(0, static_cast<DmaMode>(0), app))
QEL3_FORWARD(Qel3BackupBegin, (Uint32 s, Uint32 pre_shared), Qel2BackupBegin(s, 0, 0, nullptr, 0, low8(pre_shared)))
QEL3_FORWARD(Qel3BackupEnd, (Uint32 s), Qel2BackupEnd(s, 0, 0))
QEL3_FORWARD(Qel3BackupConfig, (Uint32 s, Uint8 *config, Uint32 *len), Qel2BackupConfig(s, 0, config, len))
QEL3_FORWARD(Qel3BackupUsersFromIndex, (Uint32 s, Uint32 *index, Uint8 *users, Uint32 *len, Uint32 *count, Uint32 type),
             Qel2BackupUsersFromIndex(s, 0, index, users, len, count, type))
QEL3_FORWARD(Qel3BackupUsers, (Uint32 s, Uint8 *users, Uint32 *len, Uint32 *count, Uint32 type), Qel2BackupUsers(s, 0, users, len, count, type))
QEL3_FORWARD(Qel3BackupKey, (Uint32 s, Uint64 key, Uint8 *data, Uint32 *len), Qel2BackupKey(s, 0, key, data, len))
QEL3_FORWARD(Qel3RestoreBegin, (Uint32 s, Uint32 pre_shared), Qel2RestoreBegin(s, 0, 0, nullptr, 0, low8(pre_shared)))
QEL3_FORWARD(Qel3RestoreEnd, (Uint32 s), Qel2RestoreEnd(s, 0, 0))
QEL3_FORWARD(Qel3RestoreConfig, (Uint32 s, Uint8 *config, Uint32 len), Qel2RestoreConfig(s, 0, config, len))
QEL3_FORWARD(Qel3RestoreUsersFromIndex, (Uint32 s, Uint8 *users, Uint32 len, Uint32 *index, Uint32 count, Uint32 type),
             Qel2RestoreUsersFromIndex(s, 0, users, len, index, count, type))
QEL3_FORWARD(Qel3RestoreUsers, (Uint32 s, Uint8 *users, Uint32 len, Uint32 count, Uint32 type), Qel2RestoreUsers(s, 0, users, len, count, type))
QEL3_FORWARD(Qel3RestoreKey, (Uint32 s, Uint32 preserve, Uint8 *data, Uint32 len, Uint64 *handle), Qel2RestoreKey(s, 0, low8(preserve), data, len, handle))
QEL3_FORWARD(Qel3StoreKBKShare, (Uint32 s, Uint8 *enc_key, Uint32 enc_key_len),
             Qel2StoreKBKShare(s, kKbkKeyType, kKbkPlainLen, kKbkOwner, enc_key, enc_key_len, nullptr, 0))
QEL3_FORWARD(Qel3GetCertReq, (Uint32 s, Uint8 *req, Uint32 *len), Qel2GetCertReq(s, kHsmCertReq, req, len))
QEL3_FORWARD(Qel3GetSourceRandom, (Uint32 s, Uint8 *random), Qel2GetSourceRandom(s, 0, random))
QEL3_FORWARD(Qel3ValidateCert, (Uint32 s, Uint8 *cert, Uint32 cert_len, Uint8 *t_random, Uint8 *t_kx, Uint32 t_kx_len, Uint8 *s_random, Uint8 *s_kx, Uint32 *s_kx_len),
             Qel2ValidateCert(s, 0, cert, cert_len, t_random, t_kx, t_kx_len, s_random, s_kx, s_kx_len))
QEL3_FORWARD(Qel3SourceKeyExchange, (Uint32 s, Uint8 *kx, Uint32 *kx_len), Qel2SourceKeyExchange(s, 0, kx, kx_len))
QEL3_FORWARD(Qel3TargetKeyExchange, (Uint32 s, Uint8 *kx, Uint32 kx_len), Qel2TargetKeyExchange(s, 0, kx, kx_len))
QEL3_FORWARD(Qel3ZeroizeHSM, (Uint32 s, Uint32 zeroize_certs),
             low8(zeroize_certs) != 0 ? Qel2VendorZeroizeHSM(s, 1) : Qel2ZeroizeHSM(s))
QEL3_FORWARD(Qel3ShareKey, (Uint32 s, Uint64 key, Uint32 share, const Uint16 *users, Uint32 n_users, Uint32 *rid),
             Qel2ShareKey(s, key, low8(share), nullptr, 0, users, low8(n_users), rid))
QEL3_FORWARD(Qel3InsertMaskedObject, (Uint32 s, Uint64 *handle, const Uint8 *data, Uint32 len, Uint32 *rid),
             Qel2InsertMaskedObjectWithUserInfo(s, handle, data, len, 1, rid))
QEL3_FORWARD(Qel3FindAllKeys, (Uint32 s, Uint16 user, Uint64 *keys, Uint8 *info, Uint32 *n), Qel2FindAllKeysFromIndex(s, 0, user, keys, info, n))
QEL3_FORWARD(Qel3GenerateSymmetricKey, (Uint32 s, Uint32 type, Uint32 len, Uint16 *users, Uint32 n_users, Uint32 m, Uint8 *id, Uint32 id_len, Uint8 *label, Uint32 label_len, Uint32 location, Uint32 extractable, Uint64 *handle, KeyGenAttest *attest, Uint32 *rid),
             Qel2GenerateSymmetricKey3(s, type, len, nullptr, 0, users, low8(n_users), low8(m), id, id_len, label, label_len, low8(location), low8(extractable), handle, attest, rid))
QEL3_FORWARD(Qel3GenerateKeyPair, (Uint32 s, Uint32 type, Uint32 mod_bits, Uint32 exp, Uint32 curve, Uint16 *users, Uint32 n_users, Uint32 m, Uint8 *id, Uint32 id_len, Uint8 *pub_label, Uint32 pub_label_len, Uint8 *priv_label, Uint32 priv_label_len, Uint32 location, Uint32 extractable, Uint64 *pub, Uint64 *priv, KeyGenAttest *attest, Uint32 *rid),
             Qel2GenerateKeyPair4(s, type, mod_bits, exp, curve, 0, nullptr, 0, nullptr, nullptr, 0, users, low8(n_users), m, id, id_len, pub_label, pub_label_len, priv_label, priv_label_len, low8(location), low8(extractable), 0, pub, priv, attest, rid))
QEL3_FORWARD(Qel3GeneratePBEKey, (Uint32 s, Uint16 *users, Uint32 n_users, Uint8 m, Uint8 *id, Uint32 id_len, Uint8 *label, Uint32 label_len, Uint8 *pswd, Uint32 pswd_len, Uint8 *salt, Uint32 salt_len, Uint32 iterations, Uint8 *iv, Uint32 location, Uint8 old_pbe, Uint32 extractable, Uint64 *handle, KeyGenAttest *attest, Uint32 *rid),
             Qel2GeneratePBEKey2(s, nullptr, 0, users, low8(n_users), m, id, id_len, label, label_len, pswd, pswd_len, salt, salt_len, iterations, iv, low8(location), old_pbe, low8(extractable), handle, attest, rid))
QEL3_FORWARD(Qel3WrapKeyWithTemplate, (Uint32 s, Uint64 kek, Uint64 key, Uint8 *iv, Uint8 *out, Uint32 *len, Uint32 *rid),
             Qel2WrapKey4(s, kek, key, iv, kWrapMech, 0, out, len, 0, rid))
QEL3_FORWARD(Qel3WrapKey, (Uint32 s, Uint64 kek, Uint64 key, Uint8 *iv, Uint8 *out, Uint32 *len, Uint32 *rid),
             Qel2WrapKey4(s, kek, key, iv, kWrapMech, 0, out, len, 1, rid))
QEL3_FORWARD(Qel3ExportWrapKey, (Uint32 s, Uint64 kek, Uint64 key, Uint8 *iv, Uint8 *out, Uint32 *len, Uint32 *rid),
             Qel2ExportWrapKey(s, kek, key, iv, kWrapMech, 0, out, len, 1, rid))
QEL3_FORWARD(Qel3ExportWrapKeyWithMech, (Uint32 s, Uint64 kek, Uint64 key, Uint8 *iv, Uint32 mech, Uint8 *out, Uint32 *len, Uint32 *rid),
             Qel2ExportWrapKey(s, kek, key, iv, mech, 0, out, len, 1, rid))
QEL3_FORWARD(Qel3WrapHostKey, (Uint32 s, Uint8 *key, Uint32 key_len, Uint64 kek, Uint8 *iv, Uint8 *out, Uint32 *len, Uint32 *rid),
             Qel2WrapHostKey2(s, key, key_len, out, len, kek, kWrapMech, iv, rid))
QEL3_FORWARD(Qel3ImportWrapKey, (Uint32 s, Uint8 *key, Uint32 key_len, Uint64 kek, Uint8 *iv, Uint8 *out, Uint32 *len, Uint32 *rid),
             Qel2ImportWrapKey(s, key, key_len, out, len, kek, kWrapMech, iv, rid))
QEL3_FORWARD(Qel3UnWrapHostKey, (Uint32 s, Uint8 *wrapped, Uint32 wrapped_len, Uint8 *key, Uint32 *key_len, Uint64 kek, Uint8 *iv, Uint32 *rid),
             Qel2UnWrapHostKey2(s, wrapped, wrapped_len, key, key_len, kek, kWrapMech, iv, rid))
QEL3_FORWARD(Qel3ExportUnwrapKey, (Uint32 s, Uint8 *wrapped, Uint32 wrapped_len, Uint8 *key, Uint32 *key_len, Uint64 kek, Uint8 *iv, Uint32 *rid),
             Qel2ExportUnwrapKey(s, wrapped, wrapped_len, key, key_len, kek, kWrapMech, iv, rid))
QEL3_FORWARD(Qel3SetAttribute, (Uint32 s, Uint64 obj, Uint32 attr, Uint8 *buf, Uint32 len, Uint32 *rid),
             Qel2SetAttribute2(s, obj, attr, buf, len, nullptr, rid))
QEL3_FORWARD(Qel3Sign, (Uint32 s, Uint8 *msg, Uint32 msg_len, Uint64 key, Uint32 mech, Uint32 drop_hashing, Uint8 *sig, Uint32 *sig_len),
             Qel2Sign2(s, msg, msg_len, sig, sig_len, key, mech, drop_hashing))
QEL3_FORWARD(Qel3DeleteToken, (Uint32 s, token_t *token, DelTokenFlag flags), Qel2DeleteToken(s, token, kTokenLen, flags))
// clang-format on

}  // extern "C"
