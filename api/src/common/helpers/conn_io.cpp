// Counted reads from a connected socket.
#include <sys/socket.h>

#include <climits>
#include <cstdio>

#include "qel2_helpers.h"

int read_conn_data(int sockfd, void *buf, size_t len) {
  if (!buf) {
    printf("Null parameters are passed");
    return -1;
  }
  if (len == 0) return 0;
  if (len > INT_MAX) {  // the count is returned as an int
    printf("Invalid length %zu\n", len);
    return -1;
  }
  auto *p = static_cast<unsigned char *>(buf);
  size_t got = 0;
  while (got < len) {
    ssize_t n = recv(sockfd, p + got, len - got, 0);
    if (n == 0) break;  // the peer closed
    if (n < 0) {
      printf("recv function failed");
      return -1;
    }
    got += static_cast<size_t>(n);
  }
  return static_cast<int>(got);
}
