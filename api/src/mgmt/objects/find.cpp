// Key search by attributes: a search template (built from arguments, or the
// caller's) sent with a starting index; the HSM answers with the number of
// matches and as many handles as the caller has room for.
#include <algorithm>
#include <cstdio>

#include "common/template/attr_walk.h"
#include "mgmt/objects/objects_internal.h"
#include "qel2_errors.h"
#include "qel2_helpers.h"
#include "qel2_template.h"
#include "request/app_state.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr size_t kFindCommandLen = sizeof(FindObjectsCommand);
constexpr size_t kFindHeadLen = sizeof(FindObjectsResponse);
constexpr uint64_t kFindFixedLen = kFindCommandLen + sizeof(Object);  // 32
// What an event-driven search without a handle array asks for beyond the head.
constexpr uint32_t kEventHandlesLen = 8800;

// The caller's partition number, or the session's when that is 0.
uint32_t search_partition(Uint32 ulSessionHandle, Uint32 ulPartitionNo) {
  return ulPartitionNo != 0 ? ulPartitionNo : partition_of(ulSessionHandle);
}

// A search template must fit the request's data beside the command and the
// Object head.
Uint32 check_template_size(Uint32 size) {
  return kFindFixedLen + size > kMaxDataLen ? static_cast<Uint32>(ERR_BUFFER_TOO_BIG) : 0u;
}

bool reserved_label(const Uint8 *label, Uint32 len) {
  // Both words are shorter than 8: a label without a NUL in its first 8
  // bytes is neither, so nothing past them is read before the template
  // builder has bounded the stated length.
  const size_t n = tmpl::bounded_strlen(label, len < 8 ? len : 8);
  return tmpl::equals_nocase(label, n, "public") || tmpl::equals_nocase(label, n, "private");
}

}  // namespace

Uint32 Qel2FindKeyWithTemplateCommon(Uint32 ulSessionHandle, const FindSpec &query,
                                     const Uint8 *pTemplate, Uint32 ulTemplateSize,
                                     Uint32 ulAttributeCount) {
  if (!pTemplate || !query.num_keys) return ERR_INVALID_INPUT;
  if (Uint32 r = check_template_size(ulTemplateSize)) return r;
  const uint32_t session = masked_session(ulSessionHandle);

  CommandRecord<kFindCommandLen> cmd;
  put_search_command(cmd.w, query.opcode == KQ_FIND_OBJECTS_USING_COUNT, query.index, session,
                     search_partition(ulSessionHandle, query.partition));
  ObjectHead head;
  put_object_head(head, ulAttributeCount, ulTemplateSize);
  uint8_t resp[kFindHeadLen] = {};

  const Uint32 room = *query.num_keys;
  const Uint32 asked = std::min(room, kMaxFindHandles);
  MgmtRequest rq(query.opcode, session);
  rq.command(cmd).command(head).in(pTemplate, ulTemplateSize).out_local(resp, sizeof resp);
  rq.callback_args(query.buffer_ev);
  if (query.keys && room > 0)
    rq.out(query.keys, asked * 8u);
  else if (query.buffer_ev)
    rq.out_discard(kEventHandlesLen);  // declared as before; nothing is kept
  if (query.ctx) rq.raw().ctx = *query.ctx;
  if (query.buffer_ev) return rq.send();
  rq.send(OSTREL_BLOCKING, query.request_id);
  if (query.ctx) *query.ctx = rq.raw().ctx;
  if (rq.decode() == MgmtRequest::Decode::kNo) return rq.result();

  const Uint32 matches = be32_at(resp + offsetof(FindObjectsResponse, ulNumHandles));
  if (!query.keys) {
    *query.num_keys = matches;
  } else if (room > 0) {
    // More matches than room: the caller goes on from the next index. The
    // handles reported must have arrived; the rest of the array stays the
    // caller's.
    const Uint32 reported = matches < asked ? matches : asked;
    if (Uint32 bad = rq.check_arrived(1, uint64_t{reported} * 8u)) return bad;
    for (Uint32 i = 0; i < reported; ++i) query.keys[i] = from_be64(query.keys[i]);
    *query.num_keys = reported;
  }
  return rq.result();
}

Uint32 Qel2FindKeyCommon(Uint32 ulSessionHandle, const FindSpec &query, const FindKeyArgs &a) {
  if (a.access.label && reserved_label(a.access.label, a.access.label_len)) return ERR_BAD_LABEL;
  if (!validate_key_class_arg(a.key_class)) {
    printf("Invalid key class %d \n", static_cast<int>(a.key_class));
    return ERR_INVALID_INPUT;
  }
  if (!validate_key_type_arg(a.key_type)) {
    printf("Invalid key type %d \n", static_cast<int>(a.key_type));
    return ERR_INVALID_INPUT;
  }
  // A modulus whose length in bits does not fit 32 bits cannot fit a template either.
  if (a.mod_len > UINT32_MAX / 8) return ERR_SET_TEMPLATE;

  tmpl::BuildArgs b = tmpl::build_args(TEMPLATE_MODE_FIND, a.key_class, a.key_type, a.access);
  b.kcv = a.kcv;
  b.kcv_len = a.kcv_len;
  b.mod_bits = a.mod_len * 8;
  b.modulus = a.modulus;
  Uint32 size = 0, count = 0;
  FreedBuffer tmpl(build_template(b, &size, &count));
  if (!tmpl) return ERR_SET_TEMPLATE;
  return Qel2FindKeyWithTemplateCommon(ulSessionHandle, query, tmpl.get(), size, count);
}

namespace {

FindKeyArgs by_arguments(Uint32 ulKeyClass, Uint32 ulKeyType, Uint8 ucKeyLocation,
                         const Uint32 *pSessions, Uint8 ulSessCount, const Uint16 *pUsers,
                         Uint8 ulUserCount, const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
                         Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen,
                         const Uint8 *pKCV = nullptr, Uint32 ulKCVLen = 0,
                         const extendedTemplateArgs *extArgs = nullptr) {
  FindKeyArgs a;
  a.key_class = ulKeyClass;
  a.key_type = ulKeyType;
  a.access = {pSessions, ulSessCount, pUsers,     ulUserCount,   0,   pID,
              ulIDLen,   pbLabel,     ulLabelLen, ucKeyLocation, 255, extArgs};
  a.modulus = pModulus;
  a.mod_len = ulModLen;
  a.kcv = pKCV;
  a.kcv_len = ulKCVLen;
  return a;
}

FindSpec search(Uint16 opcode, Uint32 partition, Uint64 index, Uint64 *keys, Uint32 *num_keys) {
  FindSpec s;
  s.opcode = opcode;
  s.partition = partition;
  s.index = static_cast<Uint32>(index);  // only the low 32 bits travel
  s.keys = keys;
  s.num_keys = num_keys;
  return s;
}

// A key check value given as a number: its 8 bytes big-endian; 0 gives none.
struct Kcv64 {
  explicit Kcv64(Uint64 v) : given(v != 0) { put_be64(bytes, v); }
  const Uint8 *data() const { return given ? bytes : nullptr; }
  Uint32 len() const { return given ? sizeof bytes : 0; }
  Uint8 bytes[8];
  bool given;
};

// Template searches check the caller's template first, its stated size
// before any byte of it is read.
Uint32 find_with_checked_template(Uint32 ulSessionHandle, const FindSpec &query,
                                  Uint32 ulTemplateSize, Uint8 *pTemplate) {
  if (Uint32 r = check_template_size(ulTemplateSize)) return r;
  Uint32 count = 0;
  if (validateTemplateFromUser2(ulTemplateSize, pTemplate, &count, TEMPLATE_MODE_FIND) != 0)
    return ERR_INVALID_INPUT;
  return Qel2FindKeyWithTemplateCommon(ulSessionHandle, query, pTemplate, ulTemplateSize, count);
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2FindKey(Uint32 ulSessionHandle, Uint32 ulPartitionNo, Uint32 ulKeyClass,
                               Uint32 ulKeyType, Uint8 ucKeyLocation, const Uint32 *pSessions,
                               Uint8 ulSessCount, const Uint16 *pUsers, Uint8 ulUserCount,
                               const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
                               Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen,
                               Uint64 ulKeyCheckValue, Uint64 *pulKeys, Uint32 *pulNumOfKeys) {
  const Kcv64 kcv(ulKeyCheckValue);
  return Qel2FindKeyCommon(ulSessionHandle,
                           search(KQ_FIND_OBJECTS, ulPartitionNo, 0, pulKeys, pulNumOfKeys),
                           by_arguments(ulKeyClass, ulKeyType, ucKeyLocation, pSessions,
                                        ulSessCount, pUsers, ulUserCount, pID, ulIDLen, pbLabel,
                                        ulLabelLen, pModulus, ulModLen, kcv.data(), kcv.len()));
}

QEL2_EXPORT Uint32 Qel2FindKey2(Uint32 ulSessionHandle, Uint32 ulPartitionNo, Uint32 ulKeyClass,
                                Uint32 ulKeyType, Uint8 ucKeyLocation, const Uint32 *pSessions,
                                Uint8 ulSessCount, const Uint16 *pUsers, Uint8 ulUserCount,
                                const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
                                Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen,
                                const Uint8 *pKCV, Uint32 ulKCVLen, Uint64 *pulKeys,
                                Uint32 *pulNumOfKeys) {
  return Qel2FindKeyCommon(ulSessionHandle,
                           search(KQ_FIND_OBJECTS, ulPartitionNo, 0, pulKeys, pulNumOfKeys),
                           by_arguments(ulKeyClass, ulKeyType, ucKeyLocation, pSessions,
                                        ulSessCount, pUsers, ulUserCount, pID, ulIDLen, pbLabel,
                                        ulLabelLen, pModulus, ulModLen, pKCV, ulKCVLen));
}

QEL2_EXPORT Uint32 Qel2FindKey3(Uint32 ulSessionHandle, Uint32 ulPartitionNo, Uint32 ulKeyClass,
                                Uint32 ulKeyType, Uint8 ucKeyLocation, const Uint32 *pSessions,
                                Uint8 ulSessCount, const Uint16 *pUsers, Uint8 ulUserCount,
                                const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
                                Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen,
                                const Uint8 *pKCV, Uint32 ulKCVLen,
                                const extendedTemplateArgs *extArgs, Uint64 *pulKeys,
                                Uint32 *pulNumOfKeys) {
  return Qel2FindKeyCommon(ulSessionHandle,
                           search(KQ_FIND_OBJECTS, ulPartitionNo, 0, pulKeys, pulNumOfKeys),
                           by_arguments(ulKeyClass, ulKeyType, ucKeyLocation, pSessions,
                                        ulSessCount, pUsers, ulUserCount, pID, ulIDLen, pbLabel,
                                        ulLabelLen, pModulus, ulModLen, pKCV, ulKCVLen, extArgs));
}

QEL2_EXPORT Uint32 Qel2FindKeyFromIndex(Uint32 ulSessionHandle, Uint32 ulPartitionNo,
                                        Uint64 ulSearchIndex, Uint32 ulKeyClass, Uint32 ulKeyType,
                                        Uint8 ucKeyLocation, const Uint32 *pSessions,
                                        Uint8 ulSessCount, const Uint16 *pUsers, Uint8 ulUserCount,
                                        const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
                                        Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen,
                                        Uint64 ulKeyCheckValue, Uint64 *pulKeys,
                                        Uint32 *pulNumOfKeys) {
  return Qel2FindKeyFromIndex2(ulSessionHandle, ulPartitionNo, ulSearchIndex, ulKeyClass, ulKeyType,
                               ucKeyLocation, pSessions, ulSessCount, pUsers, ulUserCount, pID,
                               ulIDLen, pbLabel, ulLabelLen, pModulus, ulModLen, ulKeyCheckValue,
                               pulKeys, pulNumOfKeys, nullptr);
}

QEL2_EXPORT Uint32 Qel2FindKeyFromIndex2(Uint32 ulSessionHandle, Uint32 ulPartitionNo,
                                         Uint64 ulSearchIndex, Uint32 ulKeyClass, Uint32 ulKeyType,
                                         Uint8 ucKeyLocation, const Uint32 *pSessions,
                                         Uint8 ulSessCount, const Uint16 *pUsers, Uint8 ulUserCount,
                                         const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
                                         Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen,
                                         Uint64 ulKeyCheckValue, Uint64 *pulKeys,
                                         Uint32 *pulNumOfKeys, Uint32 *request_id) {
  const Kcv64 kcv(ulKeyCheckValue);
  FindSpec query =
      search(KQ_FIND_OBJECTS_FROM_INDEX, ulPartitionNo, ulSearchIndex, pulKeys, pulNumOfKeys);
  query.request_id = request_id;
  return Qel2FindKeyCommon(ulSessionHandle, query,
                           by_arguments(ulKeyClass, ulKeyType, ucKeyLocation, pSessions,
                                        ulSessCount, pUsers, ulUserCount, pID, ulIDLen, pbLabel,
                                        ulLabelLen, pModulus, ulModLen, kcv.data(), kcv.len()));
}

QEL2_EXPORT Uint32 Qel2FindKeyFromIndex3(Uint32 ulSessionHandle, Uint32 ulPartitionNo,
                                         Uint64 ulSearchIndex, Uint32 ulKeyClass, Uint32 ulKeyType,
                                         Uint8 ucKeyLocation, const Uint32 *pSessions,
                                         Uint8 ulSessCount, const Uint16 *pUsers, Uint8 ulUserCount,
                                         const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
                                         Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen,
                                         Uint64 *pulKeys, Uint32 *pulNumOfKeys, void *buffer_ev,
                                         Uint32 *request_id) {
  FindSpec query =
      search(KQ_FIND_OBJECTS_FROM_INDEX, ulPartitionNo, ulSearchIndex, pulKeys, pulNumOfKeys);
  query.buffer_ev = buffer_ev;
  query.request_id = request_id;
  return Qel2FindKeyCommon(
      ulSessionHandle, query,
      by_arguments(ulKeyClass, ulKeyType, ucKeyLocation, pSessions, ulSessCount, pUsers,
                   ulUserCount, pID, ulIDLen, pbLabel, ulLabelLen, pModulus, ulModLen));
}

QEL2_EXPORT Uint32 Qel2FindKeyFromIndex4(Uint32 ulSessionHandle, Uint32 ulPartitionNo,
                                         Uint64 ulSearchIndex, Uint32 ulKeyClass, Uint32 ulKeyType,
                                         Uint8 ucKeyLocation, const Uint32 *pSessions,
                                         Uint8 ulSessCount, const Uint16 *pUsers, Uint8 ulUserCount,
                                         const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
                                         Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen,
                                         const Uint8 *pKCV, Uint32 ulKCVLen, Uint64 *pulKeys,
                                         Uint32 *pulNumOfKeys, Uint32 *request_id) {
  return Qel2FindKeyFromIndex5(ulSessionHandle, ulPartitionNo, ulSearchIndex, ulKeyClass, ulKeyType,
                               ucKeyLocation, pSessions, ulSessCount, pUsers, ulUserCount, pID,
                               ulIDLen, pbLabel, ulLabelLen, pModulus, ulModLen, pKCV, ulKCVLen,
                               nullptr, pulKeys, pulNumOfKeys, request_id);
}

QEL2_EXPORT Uint32 Qel2FindKeyFromIndex5(Uint32 ulSessionHandle, Uint32 ulPartitionNo,
                                         Uint64 ulSearchIndex, Uint32 ulKeyClass, Uint32 ulKeyType,
                                         Uint8 ucKeyLocation, const Uint32 *pSessions,
                                         Uint8 ulSessCount, const Uint16 *pUsers, Uint8 ulUserCount,
                                         const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
                                         Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen,
                                         const Uint8 *pKCV, Uint32 ulKCVLen,
                                         const extendedTemplateArgs *extArgs, Uint64 *pulKeys,
                                         Uint32 *pulNumOfKeys, Uint32 *request_id) {
  FindSpec query =
      search(KQ_FIND_OBJECTS_FROM_INDEX, ulPartitionNo, ulSearchIndex, pulKeys, pulNumOfKeys);
  query.request_id = request_id;
  return Qel2FindKeyCommon(ulSessionHandle, query,
                           by_arguments(ulKeyClass, ulKeyType, ucKeyLocation, pSessions,
                                        ulSessCount, pUsers, ulUserCount, pID, ulIDLen, pbLabel,
                                        ulLabelLen, pModulus, ulModLen, pKCV, ulKCVLen, extArgs));
}

QEL2_EXPORT Uint32 Qel2FindKeyFromIndexAsCount(
    Uint32 ulSessionHandle, Uint32 ulPartitionNo, Uint32 ulSearchIndex, Uint32 ulKeyClass,
    Uint32 ulKeyType, Uint8 ucKeyLocation, const Uint32 *pSessions, Uint8 ulSessCount,
    const Uint16 *pUsers, Uint8 ulUserCount, const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
    Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen, Uint64 *pulKeys,
    Uint32 *pulNumOfKeys) {
  return Qel2FindKeyFromIndexAsCount2(ulSessionHandle, ulPartitionNo, ulSearchIndex, ulKeyClass,
                                      ulKeyType, ucKeyLocation, pSessions, ulSessCount, pUsers,
                                      ulUserCount, pID, ulIDLen, pbLabel, ulLabelLen, pModulus,
                                      ulModLen, pulKeys, pulNumOfKeys, nullptr);
}

QEL2_EXPORT Uint32 Qel2FindKeyFromIndexAsCount2(
    Uint32 ulSessionHandle, Uint32 ulPartitionNo, Uint32 ulSearchIndex, Uint32 ulKeyClass,
    Uint32 ulKeyType, Uint8 ucKeyLocation, const Uint32 *pSessions, Uint8 ulSessCount,
    const Uint16 *pUsers, Uint8 ulUserCount, const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
    Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen, Uint64 *pulKeys,
    Uint32 *pulNumOfKeys, Uint32 *request_id) {
  FindSpec query =
      search(KQ_FIND_OBJECTS_USING_COUNT, ulPartitionNo, ulSearchIndex, pulKeys, pulNumOfKeys);
  query.request_id = request_id;
  return Qel2FindKeyCommon(
      ulSessionHandle, query,
      by_arguments(ulKeyClass, ulKeyType, ucKeyLocation, pSessions, ulSessCount, pUsers,
                   ulUserCount, pID, ulIDLen, pbLabel, ulLabelLen, pModulus, ulModLen));
}

QEL2_EXPORT Uint32 Qel2FindKeyFromIndexAsCount3(
    Uint32 ulSessionHandle, Uint32 ulPartitionNo, Uint32 ulSearchIndex, Uint32 ulKeyClass,
    Uint32 ulKeyType, Uint8 ucKeyLocation, const Uint32 *pSessions, Uint8 ulSessCount,
    const Uint16 *pUsers, Uint8 ulUserCount, const Uint8 *pID, Uint32 ulIDLen, const Uint8 *pbLabel,
    Uint32 ulLabelLen, const Uint8 *pModulus, Uint32 ulModLen, const Uint8 *pKCV, Uint32 ulKCVLen,
    Uint64 *pulKeys, Uint32 *pulNumOfKeys, Uint64 *ctx, Uint32 *request_id) {
  FindSpec query =
      search(KQ_FIND_OBJECTS_USING_COUNT, ulPartitionNo, ulSearchIndex, pulKeys, pulNumOfKeys);
  query.ctx = ctx;
  query.request_id = request_id;
  return Qel2FindKeyCommon(ulSessionHandle, query,
                           by_arguments(ulKeyClass, ulKeyType, ucKeyLocation, pSessions,
                                        ulSessCount, pUsers, ulUserCount, pID, ulIDLen, pbLabel,
                                        ulLabelLen, pModulus, ulModLen, pKCV, ulKCVLen));
}

QEL2_EXPORT Uint32 Qel2FindKeyPkcs(Uint32 ulSessionHandle, Uint32 ulPartitionNo,
                                   Uint32 ulTemplateSize, Uint8 *pTemplate, Uint64 *pulKeys,
                                   Uint32 *pulNumOfKeys) {
  return find_with_checked_template(
      ulSessionHandle, search(KQ_FIND_OBJECTS, ulPartitionNo, 0, pulKeys, pulNumOfKeys),
      ulTemplateSize, pTemplate);
}

QEL2_EXPORT Uint32 Qel2FindKeyFromIndexPkcs(Uint32 ulSessionHandle, Uint32 ulPartitionNo,
                                            Uint64 ulSearchIndex, Uint32 ulTemplateSize,
                                            Uint8 *pTemplate, Uint64 *pulKeys,
                                            Uint32 *pulNumOfKeys) {
  return find_with_checked_template(
      ulSessionHandle,
      search(KQ_FIND_OBJECTS_FROM_INDEX, ulPartitionNo, ulSearchIndex, pulKeys, pulNumOfKeys),
      ulTemplateSize, pTemplate);
}

QEL2_EXPORT Uint32 Qel2FindKeyFromIndexAsCountPkcs(Uint32 ulSessionHandle, Uint32 ulPartitionNo,
                                                   Uint32 ulSearchIndex, Uint32 ulTemplateSize,
                                                   Uint8 *pTemplate, Uint64 *pulKeys,
                                                   Uint32 *pulNumOfKeys, Uint64 *ctx,
                                                   Uint32 *request_id) {
  FindSpec query =
      search(KQ_FIND_OBJECTS_USING_COUNT, ulPartitionNo, ulSearchIndex, pulKeys, pulNumOfKeys);
  query.ctx = ctx;
  query.request_id = request_id;
  return find_with_checked_template(ulSessionHandle, query, ulTemplateSize, pTemplate);
}

QEL2_EXPORT Uint32 Qel2FindKeyFromIndexAsCountTemplate(Uint32 ulSessionHandle, Uint32 ulSearchIndex,
                                                       const Uint8 *pTemplate,
                                                       Uint32 ulTemplateSize,
                                                       Uint32 ulAttributeCount, Uint64 *pulKeys,
                                                       Uint32 *pulNumOfKeys, void *buffer_ev,
                                                       Uint32 *request_id) {
  FindSpec query = search(KQ_FIND_OBJECTS_USING_COUNT, 0, ulSearchIndex, pulKeys, pulNumOfKeys);
  query.buffer_ev = buffer_ev;
  query.request_id = request_id;
  return Qel2FindKeyWithTemplateCommon(ulSessionHandle, query, pTemplate, ulTemplateSize,
                                       ulAttributeCount);
}

}  // extern "C"
