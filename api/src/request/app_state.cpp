#include "request/app_state.h"

Uint32 global_application_id[QEL2_MAX_DEVICES] = {0xFFFFFFFFu};
Uint32 login_nonce[QEL2_MAX_DEVICES][QEL2_MAX_APPLICATIONS] = {};
DmaMode global_dma_mode = OSTREL_DIRECT;
