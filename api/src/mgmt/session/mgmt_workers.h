// Shared workers behind the numbered variants of the session, login and
// information calls (the exported forms are declared in qel2_sdk.h).
#ifndef QEL2_MGMT_SESSION_MGMT_WORKERS_H
#define QEL2_MGMT_SESSION_MGMT_WORKERS_H

#include "qel2_records.h"
#include "qel2_transport.h"

Uint32 Qel2InitializeCommon(int dev_id, Int32 driver_handle, DmaMode dma_mode,
                            const char *partition_name, Uint32 *pulAppID);
Uint32 Qel2ShutdownCommon(Uint32 ulAppID);
Uint32 Qel2OpenSessionCommon(Uint16 slotID, Uint32 ulAppID, Uint32 ulFlags,
                             Uint32 *pulSessionHandle, Uint8 ucMakeMaster, Uint8 *server_random);
Uint32 Qel2AuthorizeSessionCommon(Uint32 ulSessionHandle, Uint32 ulTargetSessionHandle);
Uint32 Qel2CloseSessionCommon(Uint32 ulSessionHandle);
Uint32 Qel2LoginHSMCommon(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                          Uint32 name_len, const Uint8 *enc_pswd, Uint32 enc_pswd_len,
                          const Uint8 *pSignature, Uint8 ucBlock_unauth_sess, Uint32 *request_id);
Uint32 Qel2LogoutHSMCommon(Uint32 ulSessionHandle, Uint32 *request_id);
Uint32 Qel2GetHSMInfoCommon(Uint32 ulSessionHandle, HSMInfo *info);
Uint32 Qel2GetPartitionInfoCommon(Uint32 ulSessionHandle, const Uint8 *name, Uint32 name_len,
                                  PartitionInfo *info, Uint32 *request_id);

#endif
