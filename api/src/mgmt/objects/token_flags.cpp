// Token flags of object-creating requests: read from the request's
// templates and sent with that request (MgmtRequest::token_flags). The
// thread's flags stay for outside callers of the exported plain send, which
// update_thread_token_op sets and the transport consumes.
#include <cstdio>

#include "common/template/attr_walk.h"
#include "mgmt/objects/objects_internal.h"
#include "qel2_attributes.h"
#include "qel2_transport.h"

namespace {

// What one or two templates say: the new object is a token object; their
// token attributes differ.
struct TokenReading {
  bool token;
  bool mixed;
};

TokenReading read_tokens(Uint32 size, const Uint8 *tmpl, const Uint8 *tmpl2, Uint32 size2) {
  const bool first = is_token_template(size, tmpl);
  if (!tmpl2) return {first, false};
  const bool second = is_token_template(size2, tmpl2);
  return {first || second, first != second};
}

}  // namespace

bool is_token_template(Uint32 ulTemplate_size, const Uint8 *pTemplate) {
  qel2::tmpl::AttrView token;
  if (!qel2::tmpl::find_attr(pTemplate, ulTemplate_size, OBJ_ATTR_TOKEN, &token)) return true;
  return qel2::tmpl::read_decimal(token) == 1;
}

void update_thread_token_op(Uint32 ulTemplate_size, const Uint8 *pTemplate, const Uint8 *pTemplate2,
                            Uint32 ulTemplate2_size) {
  if (!pTemplate) {
    printf("\n\tNull parameters are passed");
    return;
  }
  const TokenReading r = read_tokens(ulTemplate_size, pTemplate, pTemplate2, ulTemplate2_size);
  bIsToken_op = r.token ? 1 : 0;
  // Agreeing templates leave the mixed flag as an earlier call set it.
  if (r.mixed) bIsTokenAndSession_op = 1;
}

namespace qel2::mgmt {

uint8_t template_token_flags(Uint32 size, const Uint8 *tmpl, const Uint8 *tmpl2, Uint32 size2) {
  if (!tmpl) {
    printf("\n\tNull parameters are passed");
    return kDefaultTokenFlags;
  }
  const TokenReading r = read_tokens(size, tmpl, tmpl2, size2);
  return static_cast<uint8_t>((r.token ? kTokenObjectFlag : 0) |
                              (r.mixed ? kTokenAndSessionFlag : 0));
}

}  // namespace qel2::mgmt
