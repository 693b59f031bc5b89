// Version range check shared by the daemon and smart-card handshakes.
#include "qel2_transport.h"

// 1 when ver lies outside [min_ver, max_ver], 0 when inside.
Uint8 version_compatible(ComponentVersion ver, ComponentVersion min_ver, ComponentVersion max_ver) {
  if (ver.major < min_ver.major || ver.major > max_ver.major) return 1;
  if (ver.major == min_ver.major && ver.minor < min_ver.minor) return 1;
  if (ver.major == max_ver.major && ver.minor > max_ver.minor) return 1;
  return 0;
}
