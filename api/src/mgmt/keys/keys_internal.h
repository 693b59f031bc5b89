// What the key-making operations share: the command head that asks for the
// new objects' attributes, the caller's attribute buffer and the length it
// needs, label checks, and the workers behind the numbered variants.
#ifndef QEL2_MGMT_KEYS_KEYS_INTERNAL_H
#define QEL2_MGMT_KEYS_KEYS_INTERNAL_H

#include <cstdint>

#include "mgmt/objects/objects_internal.h"
#include "qel2_keys.h"

namespace qel2::mgmt {

inline constexpr uint32_t kMaxLabelLen = 128;

// The session header of a key-making command: when the new objects'
// attributes are asked for, reserved word 0 = 1 and get_new_attrs = 1.
inline void put_keygen_header(BeWriter &w, uint32_t session, bool want_attrs) {
  put_session_header(w, session, 0, want_attrs ? QEL2_GET_NEW_ATTRS : 0, want_attrs ? 1 : 0);
}

// The caller's buffer for the attributes of new objects; asked for only
// when both pointers are given.
struct AttrOut {
  Uint8 *buf = nullptr;
  Uint32 *len = nullptr;
  bool asked() const { return buf && len; }
};

// The output segments after the response record: the caller's attribute
// buffer when asked for, then the 952-byte attestation (with the request's
// attest flag) when asked for.
void add_keygen_outputs(MgmtRequest &rq, AttrOut attrs, KeyGenAttest *attestation);

// "public" or "private" in any case: names the HSM keeps for itself.
bool reserved_label(const Uint8 *label, Uint32 len);

// Length the attribute data of one new object needs (its Object head's
// obj_size + 12), read only from the `got` bytes that arrived; false when
// the head did not arrive whole.
bool one_object_needed(const Uint8 *data, uint64_t got, uint64_t *needed);

// Length the attribute data of a key pair needs, read only from the `got`
// bytes that arrived: 0 and the length (the public object's alone when
// `capacity` cannot hold it and the private head), or TESSALINE_INVALID_MSG
// when a buffer that could hold what was read received less.
uint32_t key_pair_needed(const Uint8 *data, uint64_t got, Uint32 capacity, uint64_t *needed);

// Stores the needed length and gives ERR_BUFFER_TOO_SMALL (with its
// message) when the caller's buffer is shorter, else 0.
uint32_t report_attr_len(AttrOut attrs, uint64_t needed, const char *message);

// The value of a number attribute of a caller's template, read as decimal
// within its size; false when the template has no such attribute.
bool template_number(Uint8 *tmpl, Uint32 size, Uint32 type, int32_t *out);

// Secret key generation mechanism of a type (generic secret, RC4, 3DES,
// AES); 0 for any other.
Uint32 secret_key_mechanism(Uint32 key_type);

}  // namespace qel2::mgmt

Uint32 Qel2GenerateKeyWithTemplateCommon(Uint32 ulSessionHandle, Uint32 ulMech, Uint8 *pTemplate,
                                         Uint32 ulTemplateSize, Uint32 ulAttributeCount,
                                         Uint64 *pulKeyHandle, Uint8 *pAttrObj, Uint32 *ulAttrLen,
                                         KeyGenAttest *keygenattest, Uint32 *request_id);

// The by-arguments secret key: every argument form forwards here.
struct SecretKeyArgs {
  Uint32 key_type = 0;
  Uint32 key_len = 0;
  qel2::tmpl::ObjectAccess access;
};
Uint32 Qel2GenerateKeyCommon(Uint32 ulSessionHandle, const SecretKeyArgs &args,
                             Uint64 *pulKeyHandle, Uint8 *pAttrObj, Uint32 *ulAttrLen,
                             KeyGenAttest *keygenattest, Uint32 *request_id);

struct PbeKeyArgs {
  qel2::tmpl::ObjectAccess access;  // without extended arguments
  Uint8 *password = nullptr;
  Uint32 password_len = 0;
  Uint8 *salt = nullptr;
  Uint32 salt_len = 0;
  Uint32 iterations = 0;
  Uint8 old_mechanism = 0;
};
Uint32 Qel2GeneratePBEKeyCommon(Uint32 ulSessionHandle, const PbeKeyArgs &args,
                                Uint64 *pulKeyHandle, KeyGenAttest *keygenattest,
                                Uint32 *request_id);

Uint32 Qel2GenerateKeyPairWithTemplateCommon(Uint32 ulSessionHandle, Uint32 ulMech,
                                             Uint8 *pPubTemplate, Uint32 ulPubTemplateSize,
                                             Uint32 ulPubAttributeCount, Uint8 *pPrivTemplate,
                                             Uint32 ulPrivTemplateSize, Uint32 ulPrivAttributeCount,
                                             Uint64 *pulPublicKey, Uint64 *pulPrivateKey,
                                             Uint8 *pAttrObj, Uint32 *ulAttrLen,
                                             KeyGenAttest *keygenattest, Uint32 *request_id);

struct KeyPairArgs {
  Uint32 key_type = 0;
  Uint32 mod_bits = 0;
  Uint32 pub_exp = 0;
  Uint32 curve = 0;
  Uint32 prime_bits = 0;
  Uint8 *prime = nullptr;
  Uint32 base_len = 0;
  Uint8 *base = nullptr;
  // Who may use the private key, under its label and M value; the public
  // key shares the rest under its own label, without an M value.
  qel2::tmpl::ObjectAccess access;
  const Uint8 *pub_label = nullptr;
  Uint32 pub_label_len = 0;
};
Uint32 Qel2GenerateKeyPairCommon(Uint32 ulSessionHandle, const KeyPairArgs &args,
                                 Uint64 *pulPublicKey, Uint64 *pulPrivateKey, Uint8 *pAttrObj,
                                 Uint32 *ulAttrLen, KeyGenAttest *keygenattest, Uint32 *request_id);

Uint32 Qel2CreateObjectWithTemplateCommon(Uint32 ulSessionHandle, Uint8 *pKeyData,
                                          Uint32 ulKeyDataLen, Uint32 ulPubTemplateSize,
                                          Uint8 *pPubTemplate, Uint32 ulAttributeCount,
                                          Uint64 *pulHandle, Uint8 *pAttrObj, Uint32 *ulAttrLen,
                                          Uint32 *request_id);

struct PublicKeyArgs {
  Uint32 key_type = 0;
  Uint32 mod_len = 0;  // bytes
  Uint32 pub_exp = 0;
  Uint32 curve = 0;
  Uint32 prime_len = 0;  // bytes
  Uint8 *prime = nullptr;
  Uint32 base_len = 0;
  Uint8 *base = nullptr;
  Uint8 *key_data = nullptr;
  Uint32 key_data_len = 0;
  qel2::tmpl::ObjectAccess access;  // no M value, always extractable
};
Uint32 Qel2CreateObjectCommon(Uint32 ulSessionHandle, const PublicKeyArgs &args, Uint64 *pulHandle,
                              Uint8 *pAttrObj, Uint32 *ulAttrLen, Uint32 *request_id);

Uint32 Qel2DeriveKeyCommon(DeriveSymKeyArgs *pArgs, Uint8 *pTemplate, Uint32 ulTemplateSize,
                           Uint32 ulAttributeCount);

#endif
