#include "mgmt/admin/teardown.h"

#include "daemon_intf/transport.h"
#include "qel2_transport.h"

namespace qel2::mgmt {

void drop_all_connections() {
  orx_tessaline_cli_delete_threads_table();
  process_id = -1;
}

}  // namespace qel2::mgmt
