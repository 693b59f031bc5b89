// The HSM's device files, one descriptor per device number.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "qel2_errors.h"
#include "qel2_helpers.h"
#include "qel2_transport.h"

namespace {

constexpr unsigned kDebugOperation = 0xc010c007u;

int gy5dev_devhdlr[Y5DEV_MAX_DEVICES] = {-1, -1, -1, -1, -1, -1, -1, -1,
                                         -1, -1, -1, -1, -1, -1, -1, -1};

bool device_exists(int dev_id) {
  if (dev_id >= 0 && dev_id < Y5DEV_MAX_DEVICES) return true;
  printf("Y5DEV device %d does not exist\n", dev_id);
  return false;
}

}  // namespace

int CspInitialize(int dev_id) {
  if (!device_exists(dev_id)) return -1;
  if (gy5dev_devhdlr[dev_id] != -1) return 0;
  char path[32];
  if (dev_id == 0)
    snprintf(path, sizeof path, "/dev/y5dev");
  else
    snprintf(path, sizeof path, "/dev/y5dev%d", dev_id);
  int fd = open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    perror("Couldn't open file\n");
    return 1;
  }
  gy5dev_devhdlr[dev_id] = fd;
  return 0;
}

int CspShutdown(int dev_id) {
  if (dev_id < 0 || dev_id >= Y5DEV_MAX_DEVICES) return 0;
  if (gy5dev_devhdlr[dev_id] != -1) {
    close(gy5dev_devhdlr[dev_id]);
    gy5dev_devhdlr[dev_id] = -1;
  }
  return 0;
}

int CspDebug(CspDebugStruct *dbs, int dev_id) {
  if (!dbs) {
    printf("Null parameters are passed");
    return static_cast<int>(ERR_INVALID_INPUT);
  }
  if (!device_exists(dev_id)) return -1;
  if (gy5dev_devhdlr[dev_id] == -1) {
    printf("Device file is not open");
    return -1;
  }
  return orx_tessaline_cli_send_daemon(dbs, static_cast<op_type>(kDebugOperation), OSTREL_BLOCKING,
                                       nullptr, nullptr);
}
