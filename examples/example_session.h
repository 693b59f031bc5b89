/* The road every example past login shares: start the library, open a
 * session and log in as a crypto user; then log out, close the session and
 * shut down. Each step is printed with its status and the status text.
 *
 *   <example> [partition] [user] [password]
 *
 * The defaults are the stand-in HSM's seeded crypto user. The daemon is found
 * through the environment (tessaline_daemon_id, ...) or
 * /opt/hsm/data/application.cfg, as for examples/first.c. */
#ifndef QEL2_EXAMPLE_SESSION_H
#define QEL2_EXAMPLE_SESSION_H

#include <stdio.h>
#include <string.h>

#include "qel2.h"

/* Prints one step with its status and the status text; 1 when it succeeded. */
static int step(const char *what, Uint32 status) {
  printf("%-32s 0x%08x  %s\n", what, (unsigned)status, (const char *)Qel2ResultAsString(status));
  return status == 0;
}

/* Starts the library, opens a session and logs in; 1 when all three worked.
 * On failure whatever was started is taken down again. */
static int example_login(int argc, char **argv, Uint32 *app, Uint32 *session) {
  const char *partition = argc > 1 ? argv[1] : "PARTITION_1";
  const char *user = argc > 2 ? argv[2] : "crypto_user";
  const char *password = argc > 3 ? argv[3] : "user_password";

  if (!step("start the library", Qel2Initialize3(0, OSTREL_DIRECT, partition, app))) {
    Qel2SDKCleanup(); /* a failed start leaves the library to be cleaned up */
    return 0;
  }
  if (!step("open a session", Qel2OpenSession2(*app, session))) {
    if (Qel2Shutdown2(*app) != 0) Qel2SDKCleanup();
    return 0;
  }
  if (!step("log in",
            Qel2LoginHSM(*session, KQ_CRYPTO_USER, (const Uint8 *)user, (Uint32)strlen(user),
                         (const Uint8 *)password, (Uint32)strlen(password)))) {
    Qel2CloseSession(*session);
    if (Qel2Shutdown2(*app) != 0) Qel2SDKCleanup();
    return 0;
  }
  return 1;
}

/* Logs out, closes the session (its session objects go with it) and shuts
 * down; returns the process exit status: 0 when ok and every step worked. */
static int example_logout(Uint32 app, Uint32 session, int ok) {
  if (!step("log out", Qel2LogoutHSM2(session))) ok = 0;
  if (!step("close the session", Qel2CloseSession(session))) ok = 0;
  if (!step("shut down", Qel2Shutdown2(app))) {
    Qel2SDKCleanup(); /* drop the connections even when the HSM refused */
    ok = 0;
  }
  printf("%s\n", ok ? "example finished" : "example finished with failures");
  return ok ? 0 : 1;
}

#endif
