/* An application's own functions that happen to share names with helpers the
 * library exports. They are written the way an application would write them
 * (its own signatures, no library header) and answer what would break the
 * library if its internal calls reached them. */
#include <stddef.h>

int namesake_calls = 0;

/* The application's own version check: "not compatible". */
int version_compatible(int have, int want) {
  (void)have;
  (void)want;
  ++namesake_calls;
  return 1;
}

/* Its own peer query: always fails. */
unsigned get_peer_version(void *peer) {
  (void)peer;
  ++namesake_calls;
  return 0xDEADu;
}

/* Its own socket reader: always fails. */
int read_conn_data(int fd, void *buf, size_t len) {
  (void)fd;
  (void)buf;
  (void)len;
  ++namesake_calls;
  return -1;
}

/* Generic names an application is likely to have as well. */
int read_file(const char *path) {
  (void)path;
  ++namesake_calls;
  return -1;
}

int timeout(int seconds) {
  (void)seconds;
  ++namesake_calls;
  return -1;
}
