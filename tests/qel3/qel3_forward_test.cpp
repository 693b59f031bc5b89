// One row per wrapper: the wrapper and its target with the fixed arguments
// written out send the same bytes and return the same status.
#include "qel3_fixture.h"

namespace qel3_test {
namespace {

// Caller buffers shared by the rows; each call only needs them to be valid.
Uint8 buf[4096];
Uint8 buf2[4096];
Uint8 iv[16];
Uint32 len32 = sizeof buf;
Uint32 rid = 0;
Uint64 h1 = 0, h2 = 0;
Uint16 users[2] = {1, 2};
Uint8 id[4] = {1, 2, 3, 4};
Uint8 label[5] = {'l', 'a', 'b', 'e', 'l'};
Uint8 name[] = "alice";
Uint8 pswd[] = "password";
token_t token{};
Uint32 u1 = 0, u2 = 0;
Uint8 b1 = 0;
Int8 user_name[] = "crypto_user";
constexpr Uint64 kKey = 0x1234, kKek = 4;

// An AES-256 unwrap template, built once.
Uint8 tmpl[4096];
Uint32 tmpl_size = 0, tmpl_count = 0;
const bool tmpl_built = [] {
  return Qel3CreateUnwrapTemplate(OBJ_CLASS_SECRET_KEY, KEY_TYPE_AES, 1, nullptr, 0, 0, id, 4,
                                  label, 5, 32, 0, 0, 0, tmpl, &tmpl_size, &tmpl_count) == 0;
}();

const std::vector<Row> &rows() {
  static const std::vector<Row> r = {
      {"GenKeyEncKey: the method as one byte (no host key file: refused before sending)",
       [](Uint32 s) {
         len32 = 256;
         return Qel3GenKeyEncKey(s, 0x100, buf, &len32, buf2);
       },
       [](Uint32 s) {
         len32 = 256;
         return Qel2GenKeyEncKeyNew(s, 0, buf, &len32, buf2);
       },
       false},
      {"GenPswdEncKey (no host key file: refused before sending)",
       [](Uint32 s) {
         len32 = 256;
         return Qel3GenPswdEncKey(s, buf, &len32, buf2);
       },
       [](Uint32 s) {
         len32 = 256;
         return Qel2GenPswdEncKey(s, buf, &len32, buf2);
       },
       false},
      {"CloneSourceInit",
       [](Uint32 s) {
         len32 = 512;
         return Qel3CloneSourceInit(s, buf, &len32);
       },
       [](Uint32 s) {
         len32 = 512;
         return Qel2CloneSourceInit(s, buf, &len32);
       }},
      {"CloneTargetInit",
       [](Uint32 s) {
         len32 = 512;
         return Qel3CloneTargetInit(s, buf, 64, buf2, &len32);
       },
       [](Uint32 s) {
         len32 = 512;
         return Qel2CloneTargetInit(s, buf, 64, buf2, &len32);
       }},
      {"CloneSourceStage1",
       [](Uint32 s) {
         len32 = 512;
         return Qel3CloneSourceStage1(s, buf, 64, buf2, &len32);
       },
       [](Uint32 s) {
         len32 = 512;
         return Qel2CloneSourceStage1(s, buf, 64, buf2, &len32);
       }},
      {"CloneTargetStage1",
       [](Uint32 s) {
         len32 = 512;
         return Qel3CloneTargetStage1(s, buf, 64, buf2, &len32);
       },
       [](Uint32 s) {
         len32 = 512;
         return Qel2CloneTargetStage1(s, buf, 64, buf2, &len32);
       }},
      {"BackupBegin: partition 0, no signature", [](Uint32 s) { return Qel3BackupBegin(s, 0x101); },
       [](Uint32 s) { return Qel2BackupBegin(s, 0, 0, nullptr, 0, 1); }},
      {"BackupEnd: partition 0", [](Uint32 s) { return Qel3BackupEnd(s); },
       [](Uint32 s) { return Qel2BackupEnd(s, 0, 0); }},
      {"BackupConfig: partition 0",
       [](Uint32 s) {
         len32 = 1024;
         return Qel3BackupConfig(s, buf, &len32);
       },
       [](Uint32 s) {
         len32 = 1024;
         return Qel2BackupConfig(s, 0, buf, &len32);
       }},
      {"BackupUsersFromIndex: partition 0",
       [](Uint32 s) {
         len32 = sizeof buf;
         u1 = 0;
         return Qel3BackupUsersFromIndex(s, &u1, buf, &len32, &u2, 0);
       },
       [](Uint32 s) {
         len32 = sizeof buf;
         u1 = 0;
         return Qel2BackupUsersFromIndex(s, 0, &u1, buf, &len32, &u2, 0);
       }},
      {"BackupUsers: partition 0",
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel3BackupUsers(s, buf, &len32, &u2, 0);
       },
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel2BackupUsers(s, 0, buf, &len32, &u2, 0);
       }},
      {"BackupKey: partition 0",
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel3BackupKey(s, kKey, buf, &len32);
       },
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel2BackupKey(s, 0, kKey, buf, &len32);
       }},
      {"RestoreBegin: partition 0, no signature, the flags",
       [](Uint32 s) { return Qel3RestoreBegin(s, 0x101); },
       [](Uint32 s) { return Qel2RestoreBegin(s, 0, 0, nullptr, 0, 1); }},
      {"RestoreEnd: partition 0", [](Uint32 s) { return Qel3RestoreEnd(s); },
       [](Uint32 s) { return Qel2RestoreEnd(s, 0, 0); }},
      {"RestoreConfig: partition 0", [](Uint32 s) { return Qel3RestoreConfig(s, buf, 128); },
       [](Uint32 s) { return Qel2RestoreConfig(s, 0, buf, 128); }},
      {"RestoreUsersFromIndex: partition 0",
       [](Uint32 s) {
         u1 = 0;
         return Qel3RestoreUsersFromIndex(s, buf, 142, &u1, 1, 0);
       },
       [](Uint32 s) {
         u1 = 0;
         return Qel2RestoreUsersFromIndex(s, 0, buf, 142, &u1, 1, 0);
       }},
      {"RestoreUsers: partition 0", [](Uint32 s) { return Qel3RestoreUsers(s, buf, 142, 1, 0); },
       [](Uint32 s) { return Qel2RestoreUsers(s, 0, buf, 142, 1, 0); }},
      {"RestoreKey: partition 0, preserve as one byte",
       [](Uint32 s) { return Qel3RestoreKey(s, 0x101, buf, 256, &h1); },
       [](Uint32 s) { return Qel2RestoreKey(s, 0, 1, buf, 256, &h1); }},
      {"UnWrapKey",
       [](Uint32 s) {
         return Qel3UnWrapKey(s, buf, 40, kKek, iv, tmpl, tmpl_size, tmpl_count, &h1, nullptr,
                              nullptr, &rid, 1);
       },
       [](Uint32 s) {
         return Qel2UnWrapWithTemplate(s, buf, 40, kKek, iv, tmpl, tmpl_size, tmpl_count, &h1,
                                       nullptr, nullptr, &rid, 1);
       }},
      {"ImportUnWrapKey",
       [](Uint32 s) {
         return Qel3ImportUnWrapKey(s, buf, 40, kKek, iv, tmpl, tmpl_size, tmpl_count, &h1, nullptr,
                                    nullptr, &rid, 1);
       },
       [](Uint32 s) {
         return Qel2ImportUnWrapKey(s, buf, 40, kKek, iv, tmpl, tmpl_size, tmpl_count, &h1, nullptr,
                                    nullptr, &rid, 1);
       }},
      {"UnWrapKeyWithSize: bytes cut",
       [](Uint32 s) {
         return Qel3UnWrapKeyWithSize(s, buf, 40, kKek, iv, KEY_TYPE_AES, 32, 0, 0x100, label, 5,
                                      &h1, 0x101, 0x101, 4241, &rid);
       },
       [](Uint32 s) {
         return Qel2UnWrapKeyWithSize(s, buf, 40, kKek, iv, KEY_TYPE_AES, 32, 0, 0, label, 5, &h1,
                                      1, 1, 4241, &rid);
       }},
      {"InitHSM",
       [](Uint32 s) {
         BoardConfiguration c{};
         return Qel3InitHSM(s, &c);
       },
       [](Uint32 s) {
         BoardConfiguration c{};
         return Qel2InitHSMNimbrel(s, &c);
       }},
      {"InitHSMDone", [](Uint32 s) { return Qel3InitHSMDone(s); },
       [](Uint32 s) { return Qel2InitHSMDone(s); }},
      {"CreateUser",
       [](Uint32 s) {
         return Qel3CreateUser(s, KQ_CRYPTO_USER, name, 5, pswd, 8, nullptr, nullptr);
       },
       [](Uint32 s) {
         return Qel2CreateUser2(s, KQ_CRYPTO_USER, name, 5, pswd, 8, nullptr, nullptr);
       }},
      {"ChangeUserPswd",
       [](Uint32 s) {
         return Qel3ChangeUserPswd(s, KQ_CRYPTO_USER, name, 5, pswd, 8, nullptr, nullptr);
       },
       [](Uint32 s) {
         return Qel2ChangeUserPswd(s, KQ_CRYPTO_USER, name, 5, pswd, 8, nullptr, nullptr);
       }},
      {"DeleteUser: the name length as one byte",
       [](Uint32 s) { return Qel3DeleteUser(s, KQ_CRYPTO_USER, name, 0x105); },
       [](Uint32 s) { return Qel2DeleteUser(s, KQ_CRYPTO_USER, name, 5); }},
      {"ListUsers",
       [](Uint32 s) {
         UserInfo u[4];
         return Qel3ListUsers(s, 0, u, &u1, &u2, &rid);
       },
       [](Uint32 s) {
         UserInfo u[4];
         return Qel2ListUsers2(s, 0, u, &u1, &u2, &rid);
       }},
      {"SetMValue: M as one byte",
       [](Uint32 s) { return Qel3SetMValue(s, static_cast<Service>(1), 0x203); },
       [](Uint32 s) { return Qel2SetMValue(s, static_cast<Service>(1), 3); }},
      {"GetMValue", [](Uint32 s) { return Qel3GetMValue(s, static_cast<Service>(1), &b1); },
       [](Uint32 s) { return Qel2GetMValue(s, static_cast<Service>(1), &b1); }},
      {"SetNodeId", [](Uint32 s) { return Qel3SetNodeId(s, 7); },
       [](Uint32 s) { return Qel2SetNodeId(s, 7); }},
      {"ZeroizeHSM: low byte zero is the plain zeroize",
       [](Uint32 s) { return Qel3ZeroizeHSM(s, 0x100); },
       [](Uint32 s) { return Qel2ZeroizeHSM(s); }},
      {"ZeroizeHSM: certificates too", [](Uint32 s) { return Qel3ZeroizeHSM(s, 1); },
       [](Uint32 s) { return Qel2VendorZeroizeHSM(s, 1); }},
      {"GetPartnKeyHandlesHash",
       [](Uint32 s) { return Qel3GetPartnKeyHandlesHash(s, SHA256_TYPE, buf); },
       [](Uint32 s) { return Qel2GetPartnKeyHandlesHash(s, SHA256_TYPE, buf); }},
      {"GetPartnSingleKeyHandleHash",
       [](Uint32 s) { return Qel3GetPartnSingleKeyHandleHash(s, kKey, SHA256_TYPE, buf); },
       [](Uint32 s) { return Qel2GetPartnSingleKeyHandleHash(s, kKey, SHA256_TYPE, buf); }},
      {"GetHSMInfo",
       [](Uint32 s) {
         HSMInfo i;
         return Qel3GetHSMInfo(s, &i);
       },
       [](Uint32 s) {
         HSMInfo i;
         return Qel2GetHSMInfoNew(s, &i);
       }},
      {"LoginHSM", [](Uint32 s) { return Qel3LoginHSM(s, KQ_CRYPTO_USER, name, 5, pswd, 8, &rid); },
       [](Uint32 s) { return Qel2LoginHSM4(s, KQ_CRYPTO_USER, name, 5, pswd, 8, &rid); }},
      {"LogoutHSM", [](Uint32 s) { return Qel3LogoutHSM(s, &rid); },
       [](Uint32 s) { return Qel2LogoutHSM3(s, &rid); }},
      {"GetLoginStatus", [](Uint32 s) { return Qel3GetLoginStatus(s, &u1); },
       [](Uint32 s) { return Qel2GetLoginStatus(s, &u1); }},
      {"StoreCert", [](Uint32 s) { return Qel3StoreCert(s, HSM_CERT, buf, 64); },
       [](Uint32 s) { return Qel2StoreCert(s, HSM_CERT, buf, 64); }},
      {"GetCert",
       [](Uint32 s) {
         len32 = 512;
         return Qel3GetCert(s, HSM_CERT, buf, &len32);
       },
       [](Uint32 s) {
         len32 = 512;
         return Qel2GetCert(s, HSM_CERT, buf, &len32);
       }},
      {"GetCertReq: subject 8",
       [](Uint32 s) {
         len32 = 512;
         return Qel3GetCertReq(s, buf, &len32);
       },
       [](Uint32 s) {
         len32 = 512;
         return Qel2GetCertReq(s, static_cast<CertSubject>(8), buf, &len32);
       }},
      {"GetSourceRandom: target partition 0", [](Uint32 s) { return Qel3GetSourceRandom(s, buf); },
       [](Uint32 s) { return Qel2GetSourceRandom(s, 0, buf); }},
      {"ValidateCert: target partition 0",
       [](Uint32 s) {
         len32 = 256;
         return Qel3ValidateCert(s, buf, 64, buf + 64, buf + 128, 32, buf2, buf2 + 64, &len32);
       },
       [](Uint32 s) {
         len32 = 256;
         return Qel2ValidateCert(s, 0, buf, 64, buf + 64, buf + 128, 32, buf2, buf2 + 64, &len32);
       }},
      {"SourceKeyExchange: target partition 0",
       [](Uint32 s) {
         len32 = 256;
         return Qel3SourceKeyExchange(s, buf, &len32);
       },
       [](Uint32 s) {
         len32 = 256;
         return Qel2SourceKeyExchange(s, 0, buf, &len32);
       }},
      {"TargetKeyExchange: target partition 0",
       [](Uint32 s) { return Qel3TargetKeyExchange(s, buf, 48); },
       [](Uint32 s) { return Qel2TargetKeyExchange(s, 0, buf, 48); }},
      {"StoreKBKShare: type 31, 32 bytes, owner 3, no signature",
       [](Uint32 s) { return Qel3StoreKBKShare(s, buf, 40); },
       [](Uint32 s) { return Qel2StoreKBKShare(s, 31, 32, 3, buf, 40, nullptr, 0); }},
      {"GetToken",
       [](Uint32 s) {
         len32 = sizeof token;
         return Qel3GetToken(s, static_cast<Service>(1), kKey, user_name, &token, &len32, 0);
       },
       [](Uint32 s) {
         len32 = sizeof token;
         return Qel2GetToken(s, static_cast<Service>(1), kKey, user_name, &token, &len32, 0);
       }},
      {"ApproveToken: counts as 16 bits",
       [](Uint32 s) { return Qel3ApproveToken(s, &token, 0x10001, buf, 0x10001, buf2, &u1); },
       [](Uint32 s) { return Qel2ApproveToken(s, &token, 1, buf, 1, buf2, &u1); }},
      {"ListTokens",
       [](Uint32 s) {
         len32 = 1024;
         return Qel3ListTokens(s, reinterpret_cast<token_info_t *>(buf), &len32, &u1);
       },
       [](Uint32 s) {
         len32 = 1024;
         return Qel2ListTokens(s, reinterpret_cast<token_info_t *>(buf), &len32, &u1);
       }},
      {"DeleteToken: 80 bytes",
       [](Uint32 s) { return Qel3DeleteToken(s, &token, static_cast<DelTokenFlag>(0)); },
       [](Uint32 s) { return Qel2DeleteToken(s, &token, 80, static_cast<DelTokenFlag>(0)); }},
      {"DeleteKey", [](Uint32 s) { return Qel3DeleteKey(s, kKey, &rid); },
       [](Uint32 s) { return Qel2DeleteKey2(s, kKey, &rid); }},
      {"ShareKey: no sessions, share and count as one byte",
       [](Uint32 s) { return Qel3ShareKey(s, kKey, 0x101, users, 0x102, &rid); },
       [](Uint32 s) { return Qel2ShareKey(s, kKey, 1, nullptr, 0, users, 2, &rid); }},
      {"GetKeyInfo: no session list",
       [](Uint32 s) {
         Uint16 u[8];
         return Qel3GetKeyInfo(s, kKey, u, &b1, &b1, &rid);
       },
       [](Uint32 s) {
         Uint16 u[8];
         Uint8 n = 0;
         return Qel2GetKeyInfo(s, kKey, nullptr, &n, u, &b1, &b1, &rid);
       }},
      {"ExtractMaskedObject",
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel3ExtractMaskedObject(s, kKey, buf, &len32, &rid);
       },
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel2ExtractMaskedObjectWithUserInfo(s, kKey, buf, &len32, &rid);
       }},
      {"InsertMaskedObject: forced",
       [](Uint32 s) { return Qel3InsertMaskedObject(s, &h1, buf, 104, &rid); },
       [](Uint32 s) { return Qel2InsertMaskedObjectWithUserInfo(s, &h1, buf, 104, 1, &rid); }},
      {"ExportPublicKey",
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel3ExportPublicKey(s, kKey, buf, &len32, &rid);
       },
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel2ExportPublicKey2(s, kKey, buf, &len32, &rid);
       }},
      {"GetAttribute 512: every attribute",
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel3GetAttribute(s, kKey, OBJ_ATTR_ALL, buf, &len32, nullptr, nullptr, &rid);
       },
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel2GetAllAttributes2(s, kKey, buf, &len32, nullptr, nullptr, &rid);
       }},
      {"GetAttribute 260: that one",
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel3GetAttribute(s, kKey, 260, buf, &len32, nullptr, nullptr, &rid);
       },
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel2GetAttribute2(s, kKey, 260, buf, &len32, nullptr, nullptr, &rid);
       }},
      {"SetAttribute: no event",
       [](Uint32 s) {
         Uint8 v[] = {'0'};
         return Qel3SetAttribute(s, kKey, 260, v, 1, &rid);
       },
       [](Uint32 s) {
         Uint8 v[] = {'0'};
         return Qel2SetAttribute2(s, kKey, 260, v, 1, nullptr, &rid);
       }},
      {"FindAllKeys: index 0",
       [](Uint32 s) {
         Uint64 k[4];
         u1 = 4;
         return Qel3FindAllKeys(s, 1, k, buf, &u1);
       },
       [](Uint32 s) {
         Uint64 k[4];
         u1 = 4;
         return Qel2FindAllKeysFromIndex(s, 0, 1, k, buf, &u1);
       }},
      {"FindSingleKey: any class, type and place",
       [](Uint32 s) { return Qel3FindSingleKey(s, kKey, &rid); },
       [](Uint32 s) {
         Uint32 n = 1;
         return Qel2FindKeyFromIndex2(s, 0, kKey, 0xFFFFFFFF, 0xFFFFFFFF, 255, nullptr, 0, nullptr,
                                      0, nullptr, 0, nullptr, 0, nullptr, 0, 0, nullptr, &n, &rid);
       }},
      {"FindKey: partition 0, no sessions, location and count as one byte",
       [](Uint32 s) {
         Uint64 k[4];
         u1 = 4;
         return Qel3FindKey(s, 0, OBJ_CLASS_SECRET_KEY, KEY_TYPE_AES, 0x101, users, 0x102, id, 4,
                            label, 5, nullptr, 0, nullptr, 0, k, &u1, &rid);
       },
       [](Uint32 s) {
         Uint64 k[4], ctx = 0;
         u1 = 4;
         return Qel2FindKeyFromIndexAsCount3(s, 0, 0, OBJ_CLASS_SECRET_KEY, KEY_TYPE_AES, 1,
                                             nullptr, 0, users, 2, id, 4, label, 5, nullptr, 0,
                                             nullptr, 0, k, &u1, &ctx, &rid);
       }},
      {"GenerateSymmetricKey: no sessions, bytes cut",
       [](Uint32 s) {
         return Qel3GenerateSymmetricKey(s, KEY_TYPE_AES, 32, users, 0x101, 0x101, id, 4, label, 5,
                                         0x101, 0x100, &h1, nullptr, &rid);
       },
       [](Uint32 s) {
         return Qel2GenerateSymmetricKey3(s, KEY_TYPE_AES, 32, nullptr, 0, users, 1, 1, id, 4,
                                          label, 5, 1, 0, &h1, nullptr, &rid);
       }},
      {"GenerateKeyPair: no prime, base or sessions, partition 0",
       [](Uint32 s) {
         return Qel3GenerateKeyPair(s, KEY_TYPE_EC, 0, 0, 2, users, 0x101, 1, id, 4, label, 5,
                                    label, 5, 0x101, 0x101, &h1, &h2, nullptr, &rid);
       },
       [](Uint32 s) {
         return Qel2GenerateKeyPair4(s, KEY_TYPE_EC, 0, 0, 2, 0, nullptr, 0, nullptr, nullptr, 0,
                                     users, 1, 1, id, 4, label, 5, label, 5, 1, 1, 0, &h1, &h2,
                                     nullptr, &rid);
       }},
      {"GeneratePBEKey: no sessions",
       [](Uint32 s) {
         Uint8 salt[8] = {1};
         return Qel3GeneratePBEKey(s, users, 0x101, 1, id, 4, label, 5, pswd, 8, salt, 8, 1000, iv,
                                   0x101, 0, 0x101, &h1, nullptr, &rid);
       },
       [](Uint32 s) {
         Uint8 salt[8] = {1};
         return Qel2GeneratePBEKey2(s, nullptr, 0, users, 1, 1, id, 4, label, 5, pswd, 8, salt, 8,
                                    1000, iv, 1, 0, 1, &h1, nullptr, &rid);
       }},
      {"CreatePublicKey: no prime, base, sessions or attribute buffer",
       [](Uint32 s) {
         return Qel3CreatePublicKey(s, KEY_TYPE_RSA, 256, 65537, 0, buf, 256, users, 0x101, id, 4,
                                    label, 5, 0x101, &h1, &rid);
       },
       [](Uint32 s) {
         Uint32 attr_len = 0;
         return Qel2CreatePublicKey3(s, KEY_TYPE_RSA, 256, 65537, 0, 0, nullptr, 0, nullptr, buf,
                                     256, nullptr, 0, users, 1, id, 4, label, 5, 1, 0, &h1, nullptr,
                                     &attr_len, &rid);
       }},
      {"WrapKeyWithTemplate: 4241 with the template",
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel3WrapKeyWithTemplate(s, kKek, kKey, nullptr, buf, &len32, &rid);
       },
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel2WrapKey4(s, kKek, kKey, nullptr, 4241, 0, buf, &len32, 0, &rid);
       }},
      {"WrapKey: 4241 without the template",
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel3WrapKey(s, kKek, kKey, nullptr, buf, &len32, &rid);
       },
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel2WrapKey4(s, kKek, kKey, nullptr, 4241, 0, buf, &len32, 1, &rid);
       }},
      {"ExportWrapKey: 4241",
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel3ExportWrapKey(s, kKek, kKey, nullptr, buf, &len32, &rid);
       },
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel2ExportWrapKey(s, kKek, kKey, nullptr, 4241, 0, buf, &len32, 1, &rid);
       }},
      {"ExportWrapKeyWithMech",
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel3ExportWrapKeyWithMech(s, kKek, kKey, nullptr, 4240, buf, &len32, &rid);
       },
       [](Uint32 s) {
         len32 = sizeof buf;
         return Qel2ExportWrapKey(s, kKek, kKey, nullptr, 4240, 0, buf, &len32, 1, &rid);
       }},
      {"WrapHostKey: rearranged, 4241",
       [](Uint32 s) {
         len32 = sizeof buf2;
         return Qel3WrapHostKey(s, buf, 32, kKek, iv, buf2, &len32, &rid);
       },
       [](Uint32 s) {
         len32 = sizeof buf2;
         return Qel2WrapHostKey2(s, buf, 32, buf2, &len32, kKek, 4241, iv, &rid);
       }},
      {"ImportWrapKey: rearranged, 4241",
       [](Uint32 s) {
         len32 = sizeof buf2;
         return Qel3ImportWrapKey(s, buf, 32, kKek, iv, buf2, &len32, &rid);
       },
       [](Uint32 s) {
         len32 = sizeof buf2;
         return Qel2ImportWrapKey(s, buf, 32, buf2, &len32, kKek, 4241, iv, &rid);
       }},
      {"UnWrapHostKey: 4241 before the IV",
       [](Uint32 s) {
         len32 = sizeof buf2;
         return Qel3UnWrapHostKey(s, buf, 40, buf2, &len32, kKek, iv, &rid);
       },
       [](Uint32 s) {
         len32 = sizeof buf2;
         return Qel2UnWrapHostKey2(s, buf, 40, buf2, &len32, kKek, 4241, iv, &rid);
       }},
      {"ExportUnwrapKey: 4241 before the IV",
       [](Uint32 s) {
         len32 = sizeof buf2;
         return Qel3ExportUnwrapKey(s, buf, 40, buf2, &len32, kKek, iv, &rid);
       },
       [](Uint32 s) {
         len32 = sizeof buf2;
         return Qel2ExportUnwrapKey(s, buf, 40, buf2, &len32, kKek, 4241, iv, &rid);
       }},
      {"ExportUnwrapKeyWithMech",
       [](Uint32 s) {
         len32 = sizeof buf2;
         return Qel3ExportUnwrapKeyWithMech(s, buf, 40, buf2, &len32, kKek, 4242, iv, &rid);
       },
       [](Uint32 s) {
         len32 = sizeof buf2;
         return Qel2ExportUnwrapKey(s, buf, 40, buf2, &len32, kKek, 4242, iv, &rid);
       }},
      {"Sign: rearranged",
       [](Uint32 s) {
         len32 = 512;
         return Qel3Sign(s, buf, 32, kKey, 1, 0, buf2, &len32);
       },
       [](Uint32 s) {
         len32 = 512;
         return Qel2Sign2(s, buf, 32, buf2, &len32, kKey, 1, 0);
       }},
      {"Verify", [](Uint32 s) { return Qel3Verify(s, buf, 32, buf2, 256, kKey, 1, 0); },
       [](Uint32 s) { return Qel2Verify2(s, buf, 32, buf2, 256, kKey, 1, 0); }},
      {"GetPartitionInfo: the name from the record",
       [](Uint32 s) {
         PartitionInfo i{};
         std::memcpy(i.name, "PARTITION_1", 11);
         return Qel3GetPartitionInfo(s, &i, &rid);
       },
       [](Uint32 s) {
         PartitionInfo i{};
         std::memcpy(i.name, "PARTITION_1", 11);
         return Qel2GetPartitionInfo2(s, i.name, 15, &i, &rid);
       }},
  };
  return r;
}

class Forward : public Qel3Test, public ::testing::WithParamInterface<Row> {};

TEST_P(Forward, SendsWhatItsTargetSendsAndReturnsItsStatus) {
  const Row &row = GetParam();
  const Uint32 s = officer_session();
  script_refusals(row.target, s);
  Uint32 wrapper_status = 0, target_status = 0;
  const auto by_wrapper = sent_by(row.wrapper, s, &wrapper_status);
  const auto by_target = sent_by(row.target, s, &target_status);
  ASSERT_EQ(row.sends, !by_target.empty()) << "what the target sent";
  EXPECT_NE(0u, target_status);  // the scripted refusal, or what the target made of it
  EXPECT_EQ(target_status, wrapper_status);
  ASSERT_EQ(by_target.size(), by_wrapper.size());
  for (size_t i = 0; i < by_target.size(); ++i) EXPECT_EQ(by_target[i], by_wrapper[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(Qel3, Forward, ::testing::ValuesIn(rows()), [](const auto &info) {
  std::string n;
  for (char c : info.param.name) {
    if (c == ':') break;
    if (std::isalnum(static_cast<unsigned char>(c))) n += c;
  }
  return n + std::to_string(info.index);
});

}  // namespace
}  // namespace qel3_test
