#include "daemon_intf/sdk_state.h"

app_config a_conf;
Int32 QEL1_driver_handle[QEL2_MAX_DEVICES] = {-1};
pid_t process_id = -1;
