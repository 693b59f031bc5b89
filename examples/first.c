/* first: the smallest complete program against libqel2, in C11.
 *
 *   first [partition] [user] [password]
 *
 * Starts the library for a partition, opens a session, logs in as a crypto
 * user, shows the HSM and the partition, logs out, closes the session and
 * shuts down, printing each step with its status text. The daemon is found
 * through the environment (tessaline_daemon_id, tessaline_daemon_socket_type,
 * tessaline_daemon_tcp_port) or /opt/hsm/data/application.cfg. The defaults
 * are the stand-in HSM's seeded crypto user. */
#include <stdio.h>
#include <string.h>

#include "qel2.h"

/* Prints one step with its status and the status text; 1 when it succeeded. */
static int step(const char *what, Uint32 status) {
  printf("%-24s 0x%08x  %s\n", what, (unsigned)status, (const char *)Qel2ResultAsString(status));
  return status == 0;
}

/* HSMInfo and PartitionInfo arrive as the HSM sent them: integers big-endian.
 * Reading the bytes in order gives the value on any host. */
static unsigned long be32(const void *field) {
  const unsigned char *b = field;
  return (unsigned long)b[0] << 24 | (unsigned long)b[1] << 16 | (unsigned long)b[2] << 8 | b[3];
}
static unsigned be16(const void *field) {
  const unsigned char *b = field;
  return (unsigned)b[0] << 8 | b[1];
}

/* Text fields are zero-padded, not always zero-terminated. */
static void show_text(const char *name, const Uint8 *field, size_t size) {
  size_t n = 0;
  while (n < size && field[n]) ++n;
  printf("  %-16s %.*s\n", name, (int)n, (const char *)field);
}

static void show_hsm(const HSMInfo *h) {
  show_text("label", h->label, sizeof h->label);
  show_text("model", h->model, sizeof h->model);
  show_text("serial number", h->serialNumber, sizeof h->serialNumber);
  show_text("firmware", h->firmwareString, sizeof h->firmwareString);
  printf("  %-16s %lu of %lu\n", "sessions", be32(&h->uiSessionCount), be32(&h->uiMaxSessionCount));
  printf("  %-16s %lu to %lu\n", "password length", be32(&h->uiMinPinLen), be32(&h->uiMaxPinLen));
  printf("  %-16s %lu\n", "FIPS state", be32(&h->uiFipsState));
}

static void show_partition(const PartitionInfo *p) {
  show_text("name", p->name, sizeof p->name);
  printf("  %-16s %u of %u free\n", "users", be16(&p->AvailableUsers), be16(&p->MaxUsers));
  printf("  %-16s %lu stored, at most %lu\n", "token keys", be32(&p->OccupiedTokenKeys),
         be32(&p->MaxKeys));
  printf("  %-16s %lu\n", "sessions", be32(&p->SessionCount));
}

int main(int argc, char **argv) {
  const char *partition = argc > 1 ? argv[1] : "PARTITION_1";
  const char *user = argc > 2 ? argv[2] : "crypto_user";
  const char *password = argc > 3 ? argv[3] : "user_password";
  Uint32 app = 0, session = 0;
  HSMInfo hsm;
  PartitionInfo part;
  int ok = 1, logged_in;

  /* Start the library: connects this thread to the daemon, checks its
   * protocol version and registers the application for the partition. */
  if (!step("start the library", Qel2Initialize3(0, OSTREL_DIRECT, partition, &app))) {
    Qel2SDKCleanup(); /* a failed start leaves the library to be cleaned up */
    return 1;
  }
  if (!step("open a session", Qel2OpenSession2(app, &session))) {
    step("shut down", Qel2Shutdown2(app));
    return 1;
  }
  logged_in = step("log in",
                   Qel2LoginHSM(session, KQ_CRYPTO_USER, (const Uint8 *)user, (Uint32)strlen(user),
                                (const Uint8 *)password, (Uint32)strlen(password)));
  ok = logged_in;

  memset(&hsm, 0, sizeof hsm);
  if (step("HSM information", Qel2GetHSMInfo(0, &hsm)))
    show_hsm(&hsm);
  else
    ok = 0;
  memset(&part, 0, sizeof part);
  if (step("partition information", Qel2GetPartitionInfo(session, (const Uint8 *)partition,
                                                         (Uint32)strlen(partition), &part)))
    show_partition(&part);
  else
    ok = 0;

  if (logged_in && !step("log out", Qel2LogoutHSM2(session))) ok = 0;
  if (!step("close the session", Qel2CloseSession(session))) ok = 0;
  if (!step("shut down", Qel2Shutdown2(app))) {
    Qel2SDKCleanup(); /* drop the connections even when the HSM refused */
    ok = 0;
  }
  return ok ? 0 : 1;
}
