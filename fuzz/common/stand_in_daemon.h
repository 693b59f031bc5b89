// The stand-in daemon the public-call fuzzers answer through, started once
// per process and stopped before the exit-time leak check.
#pragma once

#include <chrono>
#include <cstdlib>

#include <hsmsim/daemon.h>
#include <openssl/crypto.h>

#include "qel2.h"

namespace fuzz {

inline hsmsim::Daemon *&stand_in_daemon() {
  static hsmsim::Daemon *d = nullptr;
  return d;
}

// Drop the library's connections and join the daemon's threads at exit. A
// connection thread still winding down when the leak check stops the world
// shows its OpenSSL per-thread state as leaked.
//
// Exit handlers run in reverse order of registration, and OpenSSL's own one
// deletes the key that frees a thread's OpenSSL state when the thread ends.
// Started here (with an option: OPENSSL_init_crypto(0, ...) does nothing),
// before the stop is registered, OpenSSL cleans up after the daemon's threads
// are joined, whichever thread would otherwise have used it first.
inline hsmsim::Daemon *start_stand_in_daemon() {
  OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr);
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

// Called by every input that talked to the stand-in, before it returns. The
// library returns once it has the answer, while the stand-in's thread still
// holds the answer's buffers; libFuzzer runs a leak scan after an input that
// allocated more than it freed, and could catch them there. Bounded, so that
// a stand-in that never settles shows as slow inputs, not a hang.
inline void settle_stand_in_daemon() {
  if (hsmsim::Daemon *d = stand_in_daemon()) d->wait_idle(std::chrono::seconds(2));
}

}  // namespace fuzz
