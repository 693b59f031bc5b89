// epoll helpers for callers that wait on the device handle.
#include <sys/epoll.h>
#include <unistd.h>

#include <cstdio>

#include "daemon_intf/transport.h"
#include "qel2_sdk.h"
#include "request/app_state.h"

extern "C" {

QEL2_EXPORT int Qel2EpollInit(struct epoll_event *ev, int max_events, int dev_id) {
  if (!qel2::mgmt::valid_device(dev_id)) {
    printf("epoll_ctl failed");
    return -2;
  }
  int epfd = epoll_create(max_events);
  if (epfd < 0) {
    printf("Failed to create epoll instance");
    return -1;
  }
  struct epoll_event local = {};
  struct epoll_event *e = ev ? ev : &local;
  e->events = EPOLLIN;
  e->data.fd = QEL1_driver_handle[dev_id];
  if (epoll_ctl(epfd, EPOLL_CTL_ADD, QEL1_driver_handle[dev_id], e) != 0) {
    printf("epoll_ctl failed");
    close(epfd);  // the caller never learns the descriptor, so it cannot close it
    return -2;
  }
  return epfd;
}

QEL2_EXPORT int Qel2EpollWait(int epfd, struct epoll_event *ev, int max_events, int timeout) {
  int n = epoll_wait(epfd, ev, max_events, timeout);
  if (n < 0) {
    printf("epoll_wait returned error");
    return -1;
  }
  return n;
}

}  // extern "C"
