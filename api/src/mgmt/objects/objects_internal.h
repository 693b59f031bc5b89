// Shared pieces of the key object operations: the routing of requests about
// one object to the cluster server that holds it, the workers behind the
// numbered variants, the attestation step, the thread's token flags and the
// rebuilding of a creation template from a key.
#ifndef QEL2_MGMT_OBJECTS_OBJECTS_INTERNAL_H
#define QEL2_MGMT_OBJECTS_OBJECTS_INTERNAL_H

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "common/template/builder_parts.h"
#include "qel2_objects.h"
#include "request/mgmt_request.h"

namespace qel2::mgmt {

// The cluster server that holds an object: bits 27-31 of its handle.
inline uint8_t object_server(uint64_t handle) {
  return static_cast<uint8_t>((handle >> QEL2_OBJECT_SERVER_SHIFT) & QEL2_OBJECT_SERVER_MASK);
}
// The handle as that server knows it.
inline uint64_t object_local_handle(uint64_t handle) { return handle & QEL2_OBJECT_LOCAL_MASK; }

// The 32-byte command about one object: session header (with its last word),
// a reserved word, then the handle.
inline void put_object_command(BeWriter &w, uint32_t session, uint64_t handle,
                               uint32_t common_word = 0) {
  put_session_header(w, session, 0, common_word);
  w.u32(0).u64(handle);
}

// The session header of the search commands: the search index sits in the
// reserved words (32 bits at the front in the count form, else a 64-bit
// value), then the flags word, the session and the last word (the partition
// or the user).
inline void put_search_command(BeWriter &w, bool count_form, uint32_t index, uint32_t session,
                               uint32_t last_word) {
  if (count_form)
    w.u32(index).u32(0);
  else
    w.u64(index);
  w.u32(0).u32(session).u32(last_word);
}

// The 12-byte Object head in front of a template: reserved 0, the
// attribute count, the template's length plus the head's.
using ObjectHead = CommandRecord<sizeof(Object)>;
inline void put_object_head(ObjectHead &head, uint32_t count, uint32_t template_len) {
  head.w.u32(0).u32(count).u32(template_len + static_cast<uint32_t>(sizeof(Object)));
}

// Adds the 256-byte attestation segment (pointing just past the answer's
// copy in attestedResponse), sends the request and copies the answer's
// segments in front of the attestation. Returns the transport status, or the
// refusal when the attested buffer cannot hold answer and attestation.
uint32_t appendAttestation(MgmtRequest *rq, Uint8 *attestedResponse, Uint32 *attestedLength);
// The refusal appendAttestation would give before sending anything (with
// its message), or 0.
uint32_t attestation_refusal(const MgmtRequest *rq, const Uint8 *attestedResponse,
                             const Uint32 *attestedLength);

// Attested answers of more than this many response bytes are refused.
inline constexpr uint64_t kMaxAttestedResponse = 8744;

// The header flags (MgmtRequest::token_flags) of an object-creating request
// made from these templates: kTokenObjectFlag unless the first template
// (or, for a key pair, both) says session object; kTokenAndSessionFlag as
// well when a second template (the private-key template of a key pair,
// searched within its own length) differs from the first in its token
// attribute. A null first template prints "\n\tNull parameters are passed"
// and gives the defaults.
uint8_t template_token_flags(Uint32 size, const Uint8 *tmpl, const Uint8 *tmpl2 = nullptr,
                             Uint32 size2 = 0);

// A buffer from malloc or calloc (templates, record buffers), freed on scope exit.
struct FreeDeleter {
  void operator()(void *p) const { std::free(p); }
};
using FreedBuffer = std::unique_ptr<Uint8, FreeDeleter>;

// The template SetTemplate3 builds from gathered arguments, with its length
// and attribute count; null when the build fails.
inline FreedBuffer build_template(const tmpl::BuildArgs &b, Uint32 *size, Uint32 *count) {
  return FreedBuffer(tmpl::set_template3(b, size, count));
}

}  // namespace qel2::mgmt

// ---- token flags of the next object-creating request sent through the
// exported plain send (the library's own requests use
// template_token_flags) ----

// True unless the template's first OBJ_ATTR_TOKEN reads as a number other
// than 1; a template without one makes a token object. Only the first
// ulTemplate_size bytes are looked at.
bool is_token_template(Uint32 ulTemplate_size, const Uint8 *pTemplate);

// Sets bIsToken_op from the template and, given a second template (the
// private-key template of a key pair, searched within its own length),
// bIsTokenAndSession_op when the two disagree.
void update_thread_token_op(Uint32 ulTemplate_size, const Uint8 *pTemplate,
                            const Uint8 *pTemplate2 = nullptr, Uint32 ulTemplate2_size = 0);

// ---- rebuilding a creation template from a key ----

// A template (4096-byte buffer, release with free) that recreates the key,
// with its length and attribute count; null on any failure (printed).
Uint8 *GetTemplate(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint32 *pulTemplateSize,
                   Uint32 *pulAttributeCount);

// The part of GetTemplate that works on the attribute data the HSM returned
// (an Object head and its attributes, data_len bytes).
Uint8 *build_template_from_attributes(const Uint8 *data, size_t data_len, Uint32 *pulTemplateSize,
                                      Uint32 *pulAttributeCount);

// ---- workers behind the numbered variants ----

Uint32 Qel2GetKeyInfoCommon(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint32 *pSessions,
                            Uint8 *pSessCount, Uint16 *pUsers, Uint8 *pUserCount, Uint8 *pMValue,
                            Uint32 *request_id);
Uint32 Qel2ShareKeyCommon(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint8 share,
                          const Uint32 *pSessions, Uint8 ulSessCount, const Uint16 *pUsers,
                          Uint8 ulUserCount, Uint32 *request_id);
Uint32 Qel2DeleteKeyCommon(Uint32 ulSessionHandle, Uint64 ulKeyHandle, Uint32 *request_id);
Uint32 Qel2TombstoneKeyCommon(Uint32 ulSessionHandle, Uint64 ulKeyHandle);
Uint32 Qel2DeleteTombstoneKeyCommon(Uint32 ulSessionHandle, Uint64 ulKeyHandle);
Uint32 Qel2ExtractMaskedObjectCommon(Uint32 ulSessionHandle, Uint16 opcode, Uint64 ulObjectHandle,
                                     Uint8 ObjectClass, Uint8 *pMaskedObject,
                                     Uint32 *pulMaskedObjectLen, Uint32 *request_id);
Uint32 Qel2InsertMaskedObjectCommon(Uint32 ulSessionHandle, Uint16 opcode, Uint64 *pulObjectHandle,
                                    const Uint8 *pMaskedObject, Uint32 ulMaskedObjectLen,
                                    Uint32 ulForceInsert, Uint32 *request_id);
Uint32 Qel2GetAttributeCommon(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAttrID,
                              Uint32 ulFlags, Uint8 *pAttrBuf, Uint32 *pulBufLen,
                              Uint8 *attestedResponse, Uint32 *attestedLength, Uint32 *request_id);
Uint32 Qel2GetAllAttributesCommon(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulFlags,
                                  Uint8 *pAttrBuf, Uint32 *pulBufLen, Uint8 *attestedResponse,
                                  Uint32 *attestedLength, Uint32 *request_id);
namespace qel2::mgmt {
// The size query of all attributes of an object (no buffer, flags 0): what
// the answer may be used for, its result in *result and, unless kNo, in
// *len the length Qel2GetAllAttributes reports (the data and the answer's head).
MgmtRequest::Decode all_attributes_len(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 *result,
                                       Uint32 *len);
}  // namespace qel2::mgmt
Uint32 Qel2SetAttributeCommon(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAttrID,
                              Uint8 *pAttrBuf, Uint32 ulBufLen, void *buffer_ev,
                              Uint32 *request_id);

// Key search. The index is taken as 32 bits; the opcode decides how it sits
// in the command.
struct FindSpec {
  Uint16 opcode = KQ_FIND_OBJECTS;
  Uint32 partition = 0;  // 0: the session's partition
  Uint32 index = 0;
  Uint64 *keys = nullptr;
  Uint32 *num_keys = nullptr;
  void *buffer_ev = nullptr;
  Uint64 *ctx = nullptr;
  Uint32 *request_id = nullptr;
};

// The handle arrays one search answer can fill: the response length
// (24 + 8 per handle) travels in 16 bits.
inline constexpr uint32_t kMaxFindHandles = (0xFFFFu - 24u) / 8u;

Uint32 Qel2FindKeyWithTemplateCommon(Uint32 ulSessionHandle, const FindSpec &query,
                                     const Uint8 *pTemplate, Uint32 ulTemplateSize,
                                     Uint32 ulAttributeCount);

// The search attributes of the by-arguments functions.
struct FindKeyArgs {
  Uint32 key_class = 0xFFFFFFFFu;
  Uint32 key_type = 0xFFFFFFFFu;
  qel2::tmpl::ObjectAccess access;  // no M value, extractable not given
  const Uint8 *modulus = nullptr;
  Uint32 mod_len = 0;  // bytes
  const Uint8 *kcv = nullptr;
  Uint32 kcv_len = 0;
};

Uint32 Qel2FindKeyCommon(Uint32 ulSessionHandle, const FindSpec &query, const FindKeyArgs &args);

Uint32 Qel2FindAllKeysCommon(Uint32 ulSessionHandle, Uint16 opcode, Uint32 ulSearchIndex,
                             Uint16 ulUser, Uint64 *pulKeys, Uint8 *pulKeyInfo,
                             Uint32 *pulNumOfKeys);

#endif
