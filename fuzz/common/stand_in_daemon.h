// The stand-in daemon the public-call fuzzers answer through, started once
// per process and stopped before the exit-time leak check.
#pragma once

#include <cstdlib>

#include <hsmsim/daemon.h>

#include "qel2.h"

namespace fuzz {

inline hsmsim::Daemon *&stand_in_daemon() {
  static hsmsim::Daemon *d = nullptr;
  return d;
}

// Drop the library's connections and join the daemon's threads at exit. A
// connection thread still winding down when the leak check stops the world
// shows its OpenSSL per-thread state as leaked.
inline hsmsim::Daemon *start_stand_in_daemon() {
  hsmsim::Daemon *&d = stand_in_daemon();
  d = new hsmsim::Daemon();
  d->set_capture(false);
  d->export_env();
  atexit([] {
    Qel2SDKCleanup();
    delete stand_in_daemon();
    stand_in_daemon() = nullptr;
  });
  return d;
}

}  // namespace fuzz
