// The thread's token flags: object-creating workers set them from their
// templates just before sending, and the transport turns them into the
// request's message flags and resets them.
#include <cstdio>

#include "common/template/attr_walk.h"
#include "mgmt/objects/objects_internal.h"
#include "qel2_attributes.h"
#include "qel2_transport.h"

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
  const bool first = is_token_template(ulTemplate_size, pTemplate);
  bIsToken_op = first ? 1 : 0;
  if (!pTemplate2) return;
  const bool second = is_token_template(ulTemplate2_size, pTemplate2);
  if (second && !first) {
    bIsToken_op = 1;
    bIsTokenAndSession_op = 1;
  } else if (!second && first) {
    bIsTokenAndSession_op = 1;
  }
}
