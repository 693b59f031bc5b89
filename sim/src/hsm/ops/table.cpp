#include "hsm/ops/table.h"

namespace hsmsim::hsm {

const HandlerTable &handlers() {
  static const HandlerTable table = [] {
    HandlerTable t;
    add_application_ops(t);
    add_session_ops(t);
    add_login_ops(t);
    add_keygen_ops(t);
    add_info_ops(t);
    add_object_store_ops(t);
    add_sign_ops(t);
    add_ssl_ctx_ops(t);
    return t;
  }();
  return table;
}

}  // namespace hsmsim::hsm
