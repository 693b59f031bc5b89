/* Key objects that already exist on the HSM: information, sharing,
 * destruction, tombstones, masked export and import, public-key export,
 * reading and changing attributes, and key search.
 *
 * Every function returns a 32-bit status (0 on success). Object handles are
 * 64-bit: bits 27-31 name the cluster server that holds the object.
 * The records below describe the bytes as they travel: every integer field is
 * big-endian. */
#ifndef QEL2_OBJECTS_H
#define QEL2_OBJECTS_H

#include "qel2_defs.h"
#include "qel2_records.h"
#include "qel2_template.h"

QEL2_EXTERN_C_BEGIN

/* ---- object handles ---- */
#define QEL2_OBJECT_SERVER_SHIFT 27
#define QEL2_OBJECT_SERVER_MASK 0x1Fu
#define QEL2_OBJECT_LOCAL_MASK 0x7FFFFFFu /* the handle on its server */

/* ---- key object operations ---- */

typedef struct GetObjectInfoCommand {
  CommandHeaderWithSession header;
  Uint32 reserved;
  Uint64 ulObjectHandle; /* handle & QEL2_OBJECT_LOCAL_MASK */
} GetObjectInfoCommand;
QEL2_STATIC_ASSERT(sizeof(GetObjectInfoCommand) == 32, "GetObjectInfoCommand is 32 bytes");
QEL2_STATIC_ASSERT(offsetof(GetObjectInfoCommand, reserved) == 20, "reserved at 20");
QEL2_STATIC_ASSERT(offsetof(GetObjectInfoCommand, ulObjectHandle) == 24, "ulObjectHandle at 24");
/* The command travels in a segment of this size, zero-padded. */
#define QEL2_GET_OBJECT_INFO_SEGMENT 68

#define QEL2_MAX_SHARED_SESSIONS 8
#define QEL2_MAX_SHARED_USERS 8

typedef struct GetObjectInfoResponse {
  ResponseHeader header;
  Uint8 SessCount;
  Uint8 UserCount; /* low nibble: M value; high nibble: number of users */
  Uint8 pad[2];
  Uint32 sessions[QEL2_MAX_SHARED_SESSIONS];
  Uint16 users[QEL2_MAX_SHARED_USERS];
} GetObjectInfoResponse;
QEL2_STATIC_ASSERT(sizeof(GetObjectInfoResponse) == 68, "GetObjectInfoResponse is 68 bytes");
QEL2_STATIC_ASSERT(offsetof(GetObjectInfoResponse, SessCount) == 16, "SessCount at 16");
QEL2_STATIC_ASSERT(offsetof(GetObjectInfoResponse, UserCount) == 17, "UserCount at 17");
QEL2_STATIC_ASSERT(offsetof(GetObjectInfoResponse, sessions) == 20, "sessions at 20");
QEL2_STATIC_ASSERT(offsetof(GetObjectInfoResponse, users) == 52, "users at 52");

/* header.reserved1: 1 to share, 0 to unshare. The share list follows. */
typedef GetObjectInfoCommand ShareObjectCommand;
typedef GetObjectInfoCommand DeleteObjectCommand;
typedef GetObjectInfoCommand TombstoneObjectCommand;
typedef GetObjectInfoCommand DeleteTombstoneObjectCommand;

/* Share list blocks: an 8-byte name field, a count byte, the entries. */
#define QEL2_SHARE_SESSIONS_NAME "sessns:"
#define QEL2_SHARE_USERS_NAME "users:"
#define QEL2_SHARE_NAME_FIELD 8

typedef struct ExtractMaskedObjectCommand {
  CommandHeaderWithSession header; /* byte 16: the object class */
  Uint32 ulObjectType;
  Uint64 ulObjectHandle;
  Uint32 ulMaskingMech;
} ExtractMaskedObjectCommand;
QEL2_STATIC_ASSERT(sizeof(ExtractMaskedObjectCommand) == 40,
                   "ExtractMaskedObjectCommand is 40 bytes");
QEL2_STATIC_ASSERT(offsetof(ExtractMaskedObjectCommand, ulObjectType) == 20, "ulObjectType at 20");
QEL2_STATIC_ASSERT(offsetof(ExtractMaskedObjectCommand, ulObjectHandle) == 24,
                   "ulObjectHandle at 24");
QEL2_STATIC_ASSERT(offsetof(ExtractMaskedObjectCommand, ulMaskingMech) == 32,
                   "ulMaskingMech at 32");

typedef struct ExtractMaskedObjectResponse {
  ResponseHeader header;
  Uint32 ulObjectLen;
} ExtractMaskedObjectResponse;
QEL2_STATIC_ASSERT(sizeof(ExtractMaskedObjectResponse) == 20,
                   "ExtractMaskedObjectResponse is 20 bytes");

typedef struct InsertMaskedObjectCommand {
  CommandHeaderWithSession header; /* reserved1: the force-insert word */
  Uint32 reserved;
  Uint64 ulObjectType; /* the handle to insert under, or 0 */
} InsertMaskedObjectCommand;
QEL2_STATIC_ASSERT(sizeof(InsertMaskedObjectCommand) == 32,
                   "InsertMaskedObjectCommand is 32 bytes");
QEL2_STATIC_ASSERT(offsetof(InsertMaskedObjectCommand, ulObjectType) == 24, "ulObjectType at 24");

typedef struct InsertMaskedObjectResponse {
  ResponseHeader header;
  Uint64 ulObjectHandle;
} InsertMaskedObjectResponse;
QEL2_STATIC_ASSERT(sizeof(InsertMaskedObjectResponse) == 24,
                   "InsertMaskedObjectResponse is 24 bytes");
QEL2_STATIC_ASSERT(offsetof(InsertMaskedObjectResponse, ulObjectHandle) == 16,
                   "ulObjectHandle at 16");

typedef struct ExportPublicKeyCommand {
  CommandHeaderWithSession header;
  Uint32 reserved;
  Uint64 ulKeyHandle;
} ExportPublicKeyCommand;
QEL2_STATIC_ASSERT(sizeof(ExportPublicKeyCommand) == 32, "ExportPublicKeyCommand is 32 bytes");
QEL2_STATIC_ASSERT(offsetof(ExportPublicKeyCommand, ulKeyHandle) == 24, "ulKeyHandle at 24");

/* Masked objects: 8 + 16 * k bytes, and the request stays within 8192. */
#define QEL2_MASKED_OBJECT_MAX 8152

QEL2_EXPORT Uint32 Qel2GetKeyInfo(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint32 *pSessions,
                                  Uint8 *pSessCount, Uint16 *pUsers, Uint8 *pUserCount,
                                  Uint8 *pMValue, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2ShareKey(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint8 share,
                                const Uint32 *pSessions, Uint8 ulSessCount, const Uint16 *pUsers,
                                Uint8 ulUserCount, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2DeleteKey(Uint32 ulSessionHandle, Uint64 ulKeyHandle);
QEL2_EXPORT Uint32 Qel2DeleteKey2(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2TombstoneKey(Uint32 ulSessionHandle, Uint64 ulKeyHandle);
QEL2_EXPORT Uint32 Qel2DeleteTombstoneKey(Uint32 ulSessionHandle, Uint64 ulKeyHandle);

/* pMaskedObject is required also for a size query (*pulMaskedObjectLen 0). */
QEL2_EXPORT Uint32 Qel2ExtractMaskedObject(Uint32 ulSessionHandle, Uint64 ulObjectHandle,
                                           Uint8 ObjectClass, Uint8 *pMaskedObject,
                                           Uint32 *pulMaskedObjectLen);
QEL2_EXPORT Uint32 Qel2ExtractMaskedObjectWithUserInfo(Uint32 ulSessionHandle,
                                                       Uint64 ulObjectHandle, Uint8 *pMaskedObject,
                                                       Uint32 *pulMaskedObjectLen,
                                                       Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2InsertMaskedObject(Uint32 ulSessionHandle, Uint64 *pulObjectHandle,
                                          const Uint8 *pMaskedObject, Uint32 ulMaskedObjectLen,
                                          Uint8 ObjectClass);
QEL2_EXPORT Uint32 Qel2InsertMaskedObjectWithUserInfo(Uint32 ulSessionHandle,
                                                      Uint64 *pulObjectHandle,
                                                      const Uint8 *pMaskedObject,
                                                      Uint32 ulMaskedObjectLen,
                                                      Uint32 ulForceInsert, Uint32 *request_id);

/* pKeyBuf null: *pulBufLen receives the key's length. */
QEL2_EXPORT Uint32 Qel2ExportPublicKey(Uint32 ulSessionHandle, Uint64 ulPubKey, Uint8 *pKeyBuf,
                                       Uint32 *pulBufLen);
QEL2_EXPORT Uint32 Qel2ExportPublicKey2(Uint32 ulSessionHandle, Uint64 ulPubKey, Uint8 *pKeyBuf,
                                        Uint32 *pulBufLen, Uint32 *request_id);

/* ---- attributes ---- */

typedef struct GetAttributeCommand {
  CommandHeaderWithSession header; /* common flags: get_new_attrs 1, get_nd_attrs */
  Uint32 reserved;
  Uint64 ulObjectHandle;
  Uint32 ulAid;
} GetAttributeCommand;
QEL2_STATIC_ASSERT(sizeof(GetAttributeCommand) == 40, "GetAttributeCommand is 40 bytes");
QEL2_STATIC_ASSERT(offsetof(GetAttributeCommand, ulObjectHandle) == 24, "ulObjectHandle at 24");
QEL2_STATIC_ASSERT(offsetof(GetAttributeCommand, ulAid) == 32, "ulAid at 32");

typedef struct GetAttributeResponse {
  ResponseHeader header;
  Uint32 ulAttrLen;
} GetAttributeResponse;
QEL2_STATIC_ASSERT(sizeof(GetAttributeResponse) == 20, "GetAttributeResponse is 20 bytes");

typedef struct GetAllAttributeCommand {
  CommandHeaderWithSession header;
  Uint32 reserved;
  Uint64 ulObjectHandle;
} GetAllAttributeCommand;
QEL2_STATIC_ASSERT(sizeof(GetAllAttributeCommand) == 32, "GetAllAttributeCommand is 32 bytes");

typedef GetAttributeResponse GetAllAttributeResponse;

/* Followed by an Attribute head and the value. */
typedef struct SetAttributeCommand {
  CommandHeaderWithSession header;
  Uint32 reserved;
  Uint64 ulObjectHandle;
} SetAttributeCommand;
QEL2_STATIC_ASSERT(sizeof(SetAttributeCommand) == 32, "SetAttributeCommand is 32 bytes");

/* Size of the attestation the HSM appends to an attested answer. */
#define QEL2_ATTESTATION_LEN 256

/* pAttrBuf null: *pulBufLen receives the value's length. */
QEL2_EXPORT Uint32 Qel2GetAttribute(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAttrID,
                                    Uint8 *pAttrBuf, Uint32 *pulBufLen);
QEL2_EXPORT Uint32 Qel2GetAttribute2(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAttrID,
                                     Uint8 *pAttrBuf, Uint32 *pulBufLen, Uint8 *attestedResponse,
                                     Uint32 *attestedLength, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2GetAttribute3(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAttrID,
                                     Uint32 ulFlags, Uint8 *pAttrBuf, Uint32 *pulBufLen,
                                     Uint8 *attestedResponse, Uint32 *attestedLength,
                                     Uint32 *request_id);
/* *pulBufLen receives the data length plus 20. */
QEL2_EXPORT Uint32 Qel2GetAllAttributes(Uint32 ulSessionHandle, Uint64 ulObj64, Uint8 *pAttrBuf,
                                        Uint32 *pulBufLen);
QEL2_EXPORT Uint32 Qel2GetAllAttributes2(Uint32 ulSessionHandle, Uint64 ulObj64, Uint8 *pAttrBuf,
                                         Uint32 *pulBufLen, Uint8 *attestedResponse,
                                         Uint32 *attestedLength, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2GetAllAttributes3(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulFlags,
                                         Uint8 *pAttrBuf, Uint32 *pulBufLen,
                                         Uint8 *attestedResponse, Uint32 *attestedLength,
                                         Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2SetAttribute(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAttrID,
                                    Uint8 *pAttrBuf, Uint32 ulBufLen);
QEL2_EXPORT Uint32 Qel2SetAttribute2(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAttrID,
                                     Uint8 *pAttrBuf, Uint32 ulBufLen, void *buffer_ev,
                                     Uint32 *request_id);
/* *pulExponent receives the exponent's raw (big-endian) bytes. */
QEL2_EXPORT Uint32 Qel2ExportRSAPublicKeyPlain(Uint32 ulSessionHandle, Uint64 ulPubKey,
                                               Uint8 *pbModulus, Uint32 *pulModLen,
                                               Uint32 *pulExponent);

/* ---- key search ---- */

/* FindObjectsCommand (qel2_records.h) carries the search index in its
 * reserved words and the partition or user id in its last word. */
QEL2_FLEXIBLE_ARRAY_BEGIN
typedef struct FindObjectsResponse {
  ResponseHeader header;
  Uint32 ulNumHandles; /* number of matching objects */
  Uint32 ulPad;
  Uint64 ulHandles[];
} FindObjectsResponse;
QEL2_FLEXIBLE_ARRAY_END
QEL2_STATIC_ASSERT(sizeof(FindObjectsResponse) == 24, "FindObjectsResponse head is 24 bytes");
QEL2_STATIC_ASSERT(offsetof(FindObjectsResponse, ulNumHandles) == 16, "ulNumHandles at 16");
QEL2_STATIC_ASSERT(offsetof(FindObjectsResponse, ulHandles) == 24, "ulHandles at 24");

/* One object of a user search. */
typedef struct QEL2_PACKED find_cmd_key_info {
  Uint64 handle;
  Uint8 status;
} find_cmd_key_info;
QEL2_STATIC_ASSERT(sizeof(find_cmd_key_info) == 9, "find_cmd_key_info is 9 bytes");

#define QEL2_FIND_ALL_MAX_RECORDS 980
#define QEL2_FIND_ALL_MAX_INDEX 102399

/* Search by attributes. ulKeyClass and ulKeyType take OBJ_CLASS_ANY and
 * KEY_TYPE_ANY, ucKeyLocation a KeyLocation (qel2_template.h), with
 * STORAGE_LOCATION_ANY for both kinds of object. *pulNumOfKeys in: the room
 * in pulKeys, in handles; out: the handles written (host order), or the
 * number of matches when pulKeys is NULL. More matches than room: go on from
 * the next index (the FromIndex calls). */

QEL2_EXPORT Uint32 Qel2FindKey(Uint32 ulSessionHandle, Uint32 ulPartitionNo, Uint32 ulKeyClass,
                               Uint32 ulKeyType, Uint8 ucKeyLocation, const Uint32 *pSessions,
                               Uint8 ulSessCount, const Uint16 *pUsers, Uint8 ulUserCount,
                               const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
                               Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen,
                               Uint64 ulKeyCheckValue, Uint64 *pulKeys, Uint32 *pulNumOfKeys);
QEL2_EXPORT Uint32 Qel2FindKey2(Uint32 ulSessionHandle, Uint32 ulPartitionNo, Uint32 ulKeyClass,
                                Uint32 ulKeyType, Uint8 ucKeyLocation, const Uint32 *pSessions,
                                Uint8 ulSessCount, const Uint16 *pUsers, Uint8 ulUserCount,
                                const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
                                Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen,
                                const Uint8 *pKCV, Uint32 ulKCVLen, Uint64 *pulKeys,
                                Uint32 *pulNumOfKeys);
QEL2_EXPORT Uint32 Qel2FindKey3(Uint32 ulSessionHandle, Uint32 ulPartitionNo, Uint32 ulKeyClass,
                                Uint32 ulKeyType, Uint8 ucKeyLocation, const Uint32 *pSessions,
                                Uint8 ulSessCount, const Uint16 *pUsers, Uint8 ulUserCount,
                                const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
                                Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen,
                                const Uint8 *pKCV, Uint32 ulKCVLen,
                                const extendedTemplateArgs *extArgs, Uint64 *pulKeys,
                                Uint32 *pulNumOfKeys);
QEL2_EXPORT Uint32 Qel2FindKeyFromIndex(Uint32 ulSessionHandle, Uint32 ulPartitionNo,
                                        Uint64 ulSearchIndex, Uint32 ulKeyClass, Uint32 ulKeyType,
                                        Uint8 ucKeyLocation, const Uint32 *pSessions,
                                        Uint8 ulSessCount, const Uint16 *pUsers, Uint8 ulUserCount,
                                        const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
                                        Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen,
                                        Uint64 ulKeyCheckValue, Uint64 *pulKeys,
                                        Uint32 *pulNumOfKeys);
QEL2_EXPORT Uint32 Qel2FindKeyFromIndex2(Uint32 ulSessionHandle, Uint32 ulPartitionNo,
                                         Uint64 ulSearchIndex, Uint32 ulKeyClass, Uint32 ulKeyType,
                                         Uint8 ucKeyLocation, const Uint32 *pSessions,
                                         Uint8 ulSessCount, const Uint16 *pUsers, Uint8 ulUserCount,
                                         const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
                                         Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen,
                                         Uint64 ulKeyCheckValue, Uint64 *pulKeys,
                                         Uint32 *pulNumOfKeys, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2FindKeyFromIndex3(Uint32 ulSessionHandle, Uint32 ulPartitionNo,
                                         Uint64 ulSearchIndex, Uint32 ulKeyClass, Uint32 ulKeyType,
                                         Uint8 ucKeyLocation, const Uint32 *pSessions,
                                         Uint8 ulSessCount, const Uint16 *pUsers, Uint8 ulUserCount,
                                         const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
                                         Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen,
                                         Uint64 *pulKeys, Uint32 *pulNumOfKeys, void *buffer_ev,
                                         Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2FindKeyFromIndex4(Uint32 ulSessionHandle, Uint32 ulPartitionNo,
                                         Uint64 ulSearchIndex, Uint32 ulKeyClass, Uint32 ulKeyType,
                                         Uint8 ucKeyLocation, const Uint32 *pSessions,
                                         Uint8 ulSessCount, const Uint16 *pUsers, Uint8 ulUserCount,
                                         const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
                                         Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen,
                                         const Uint8 *pKCV, Uint32 ulKCVLen, Uint64 *pulKeys,
                                         Uint32 *pulNumOfKeys, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2FindKeyFromIndex5(
    Uint32 ulSessionHandle, Uint32 ulPartitionNo, Uint64 ulSearchIndex, Uint32 ulKeyClass,
    Uint32 ulKeyType, Uint8 ucKeyLocation, const Uint32 *pSessions, Uint8 ulSessCount,
    const Uint16 *pUsers, Uint8 ulUserCount, const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
    Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen, const Uint8 *pKCV, Uint32 ulKCVLen,
    const extendedTemplateArgs *extArgs, Uint64 *pulKeys, Uint32 *pulNumOfKeys, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2FindKeyFromIndexAsCount(
    Uint32 ulSessionHandle, Uint32 ulPartitionNo, Uint32 ulSearchIndex, Uint32 ulKeyClass,
    Uint32 ulKeyType, Uint8 ucKeyLocation, const Uint32 *pSessions, Uint8 ulSessCount,
    const Uint16 *pUsers, Uint8 ulUserCount, const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
    Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen, Uint64 *pulKeys,
    Uint32 *pulNumOfKeys);
QEL2_EXPORT Uint32 Qel2FindKeyFromIndexAsCount2(
    Uint32 ulSessionHandle, Uint32 ulPartitionNo, Uint32 ulSearchIndex, Uint32 ulKeyClass,
    Uint32 ulKeyType, Uint8 ucKeyLocation, const Uint32 *pSessions, Uint8 ulSessCount,
    const Uint16 *pUsers, Uint8 ulUserCount, const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
    Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen, Uint64 *pulKeys,
    Uint32 *pulNumOfKeys, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2FindKeyFromIndexAsCount3(
    Uint32 ulSessionHandle, Uint32 ulPartitionNo, Uint32 ulSearchIndex, Uint32 ulKeyClass,
    Uint32 ulKeyType, Uint8 ucKeyLocation, const Uint32 *pSessions, Uint8 ulSessCount,
    const Uint16 *pUsers, Uint8 ulUserCount, const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
    Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen, const Uint8 *pKCV, Uint32 ulKCVLen,
    Uint64 *pulKeys, Uint32 *pulNumOfKeys, Uint64 *ctx, Uint32 *request_id);

QEL2_EXPORT Uint32 Qel2FindKeyPkcs(Uint32 ulSessionHandle, Uint32 ulPartitionNo,
                                   Uint32 ulTemplateSize, Uint8 *pTemplate, Uint64 *pulKeys,
                                   Uint32 *pulNumOfKeys);
QEL2_EXPORT Uint32 Qel2FindKeyFromIndexPkcs(Uint32 ulSessionHandle, Uint32 ulPartitionNo,
                                            Uint64 ulSearchIndex, Uint32 ulTemplateSize,
                                            Uint8 *pTemplate, Uint64 *pulKeys,
                                            Uint32 *pulNumOfKeys);
QEL2_EXPORT Uint32 Qel2FindKeyFromIndexAsCountPkcs(Uint32 ulSessionHandle, Uint32 ulPartitionNo,
                                                   Uint32 ulSearchIndex, Uint32 ulTemplateSize,
                                                   Uint8 *pTemplate, Uint64 *pulKeys,
                                                   Uint32 *pulNumOfKeys, Uint64 *ctx,
                                                   Uint32 *request_id);
/* Sends the caller's template and count as they are. */
QEL2_EXPORT Uint32 Qel2FindKeyFromIndexAsCountTemplate(Uint32 ulSessionHandle, Uint32 ulSearchIndex,
                                                       const Uint8 *pTemplate,
                                                       Uint32 ulTemplateSize,
                                                       Uint32 ulAttributeCount, Uint64 *pulKeys,
                                                       Uint32 *pulNumOfKeys, void *buffer_ev,
                                                       Uint32 *request_id);

QEL2_EXPORT Uint32 Qel2FindAllKeysFromIndex(Uint32 ulSessionHandle, Uint32 ulSearchIndex,
                                            Uint16 ulUser, Uint64 *pulKeys, Uint8 *pulKeyInfo,
                                            Uint32 *pulNumOfKeys);
QEL2_EXPORT Uint32 Qel2FindAllKeysFromIndexAsCount(Uint32 ulSessionHandle, Uint32 ulSearchIndex,
                                                   Uint16 ulUser, Uint64 *pulKeys,
                                                   Uint8 *pulKeyInfo, Uint32 *pulNumOfKeys);
QEL2_EXPORT Uint32 Qel2FindAllKeys(Uint32 ulSessionHandle, Uint16 ulUser, Uint32 *pulNumOfKeys);

QEL2_EXTERN_C_END

#endif
