// SDK start and clean-up, and the daemon version query that every
// application initialise makes.
#include <unistd.h>

#include <cstdio>

#include "daemon_intf/transport.h"
#include "mgmt/mgmt_common.h"
#include "qel2_errors.h"
#include "qel2_sdk.h"
#include "request/app_state.h"

namespace {
constexpr ComponentVersion kOwnVersion = {2, 3};
}

extern "C" {

QEL2_EXPORT Uint32 Qel2SDKInit(int dev_id, Int32 driver_handle) {
  if (driver_handle != -1) return 0;
  if (!qel2::mgmt::valid_device(dev_id)) return ERR_INVALID_INPUT;
  bool configured = false;
  {
    qel2::mgmt::PthreadLock lock(cli_th_tbl_lock);
    if (orx_tessaline_cli_threads_table != nullptr && getpid() == process_id)
      return ERR_LIB_INITIALIZED;
    // A table inherited from the parent process belongs to the parent's
    // records; the child starts one of its own and leaves that one alone.
    orx_tessaline_cli_thread_hash *table = orx_tessaline_cli_create_threads_table();
    if (table == nullptr) return TESSALINE_MALLOC_FAIL;
    orx_tessaline_cli_threads_table = table;
    configured = orx_tessaline_cli_get_daemon_sock() == 0;
  }
  // A failed start leaves no table behind: none leaks, and the next start
  // is not refused as a second one.
  if (!configured || orx_tessaline_cli_register_thread() != 0) {
    orx_tessaline_cli_delete_threads_table();
    return TESSALINE_SOCKET_CONNECT;
  }
  process_id = getpid();
  QEL1_driver_handle[dev_id] = 0;
  return 0;
}

QEL2_EXPORT void Qel2SDKCleanup(void) {
  orx_tessaline_cli_delete_threads_table();
  QEL1_driver_handle[0] = -1;
}

QEL2_EXPORT Uint32 get_peer_version(Uint8 *version) {
  if (version == nullptr) return ERR_INVALID_INPUT;
  version[2] = kOwnVersion.major;
  version[3] = kOwnVersion.minor;
  if (Uint32 r = Qel2SDKInit(0, QEL1_driver_handle[0])) return r;
  return static_cast<Uint32>(
      orx_tessaline_cli_send_daemon(version, GET_DAEMON_VERSION, 0, nullptr, nullptr));
}

QEL2_EXPORT Uint32 get_version(Uint8 *vers) { return get_peer_version(vers); }

QEL2_EXPORT Uint32 GetPeerVersion(int /*dev_id*/, Uint32 *pulAppID) {
  Uint8 record[4] = {0, 0, 0, 0};
  if (Uint32 r = get_peer_version(record)) return r;
  ComponentVersion daemon = {record[0], record[1]};
  if (version_compatible(daemon, kOwnVersion, kOwnVersion) != 0) {
    printf("Version Mismatch with daemon, received: %u.%u, supported range: %u.%u to %u.%u\n",
           daemon.major, daemon.minor, kOwnVersion.major, kOwnVersion.minor, kOwnVersion.major,
           kOwnVersion.minor);
    if (pulAppID) *pulAppID = Uint32{daemon.major} * 256u + daemon.minor;
    Qel2SDKCleanup();
    return ERR_VERSION_MISMATCH;
  }
  return 0;
}

}  // extern "C"
