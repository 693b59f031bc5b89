// Everything the stand-in HSM knows, by topic. `mu` guards all of it; a
// request holds it except while it runs a long computation or one with a
// key it took a copy of (Call::unlocked).
// Each request also holds its partition's lock (see PartitionLock).
#pragma once

#include <array>
#include <functional>
#include <map>
#include <mutex>
#include <shared_mutex>

#include <hsmsim/hsm.h>

#include "hsm/objects/store.h"
#include "hsm/ops/crypto_engine.h"
#include "hsm/state/admin.h"
#include "hsm/state/admin2.h"
#include "hsm/state/applications.h"
#include "hsm/state/faults.h"
#include "hsm/state/identity.h"
#include "hsm/state/maintenance.h"
#include "hsm/state/partitions.h"
#include "hsm/state/sessions.h"
#include "hsm/state/ssl_contexts.h"

namespace hsmsim::hsm {

struct HsmState {
  mutable std::mutex mu;
  // By partition number (session handle bits 24-29); taken before `mu`.
  std::array<std::shared_mutex, 64> partition_locks;
  // Test hook: long operations by (command type << 16 | opcode), run outside `mu`.
  struct SlowOp {
    std::function<void()> work;
    bool whole_partition = false;
  };
  std::map<uint32_t, SlowOp> slow_ops;
  Identity id;
  Partitions partitions;
  Applications apps;
  Sessions sessions;
  Faults faults;
  obj::ObjectStore objects;   // key objects of every partition
  AdminState admin;           // lifecycle, configuration, policies, audit logs
  crypto::Contexts contexts;  // hash, RC4 and result contexts of the raw cryptographic requests
  Admin2State admin2;         // private data, certificates, M-of-N, backups
  SslContexts ssl_contexts;
  MaintenanceState maintenance;  // firmware updates, clone exchanges, dumps

  HsmState() { seed(); }

  // The configuration a fresh stand-in starts with (see defaults in hsm.h).
  void seed();

  uint32_t random_u32_nonzero();

  // SessionState of a session, from its application's login.
  uint32_t session_state(const Session &s);
  uint32_t fail_limit(uint32_t user_type) const;

  // Closes the selected sessions; applications left without a session are logged out.
  // Session objects end with their session.
  template <typename Pred>
  void close_sessions(Pred pred) {
    for (const auto &[h, s] : sessions.all())
      if (pred(s)) objects.end_session(h);
    for (uint16_t app : sessions.close_if(pred))
      if (sessions.count_of_app(app) == 0)
        if (Application *a = apps.by_index(app)) a->login.reset();
  }
};

}  // namespace hsmsim::hsm
