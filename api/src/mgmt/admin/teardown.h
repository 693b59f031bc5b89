// The end of every connection of the process, after the HSM finished its
// initialisation or was zeroised: later requests fail until the library is
// cleaned up and started again.
#ifndef QEL2_MGMT_ADMIN_TEARDOWN_H
#define QEL2_MGMT_ADMIN_TEARDOWN_H

namespace qel2::mgmt {
void drop_all_connections();
}  // namespace qel2::mgmt

#endif
