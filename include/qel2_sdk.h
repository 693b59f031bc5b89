/* The SDK's start-up and shutdown, sessions, login and information calls.
 * Every function returns a 32-bit status (0 on success, texts through
 * Qel2ResultAsString) unless stated otherwise. */
#ifndef QEL2_SDK_H
#define QEL2_SDK_H

#include "qel2_defs.h"
#include "qel2_records.h"
#include "qel2_transport.h"

QEL2_EXTERN_C_BEGIN

struct epoll_event;

/* ---- library start-up and shutdown ---- */
QEL2_EXPORT Uint32 Qel2SDKInit(int dev_id, Int32 driver_handle);
QEL2_EXPORT void Qel2SDKCleanup(void);
/* version: 4 bytes; bytes 0-1 the daemon's version, 2-3 the library's (2.3). */
QEL2_EXPORT Uint32 get_peer_version(Uint8 *version);
QEL2_EXPORT Uint32 GetPeerVersion(int dev_id, Uint32 *pulAppID);

QEL2_EXPORT Uint32 Qel2Initialize(int dev_id, DmaMode dma_mode);
QEL2_EXPORT Uint32 Qel2Initialize2(int dev_id, DmaMode dma_mode, Uint32 *pulAppID);
QEL2_EXPORT Uint32 Qel2Initialize3(int dev_id, DmaMode dma_mode, const char *partition_name,
                                   Uint32 *pulAppID);
QEL2_EXPORT Uint32 Qel2Initialize4(int dev_id, DmaMode dma_mode, const char *partition_name);
QEL2_EXPORT Uint32 Qel2Initialize5(int dev_id, Int32 driver_handle, DmaMode dma_mode,
                                   const char *partition_name, Uint32 *pulAppID);
QEL2_EXPORT Uint32 Qel2InitializeNew(int dev_id, DmaMode dma_mode, const char *partition_name);

QEL2_EXPORT Uint32 Qel2Shutdown(int dev_id);
QEL2_EXPORT Uint32 Qel2Shutdown2(Uint32 ulAppID);

/* Return an epoll descriptor / the number of events; negative on failure. */
QEL2_EXPORT int Qel2EpollInit(struct epoll_event *ev, int max_events, int dev_id);
QEL2_EXPORT int Qel2EpollWait(int epfd, struct epoll_event *ev, int max_events, int timeout);

/* ---- sessions ---- */
QEL2_EXPORT Uint32 Qel2OpenSession(int dev_id, Uint32 *pulSessionHandle);
QEL2_EXPORT Uint32 Qel2OpenSession2(Uint32 ulAppID, Uint32 *pulSessionHandle);
QEL2_EXPORT Uint32 Qel2OpenSession3(Uint32 ulAppID, Uint32 ulFlags, Uint32 *pulSessionHandle);
QEL2_EXPORT Uint32 Qel2OpenSession4(Uint16 slotID, Uint32 ulAppID, Uint32 ulFlags,
                                    Uint32 *pulSessionHandle);
/* server_random: null, or 32 bytes that receive the HSM's random. */
QEL2_EXPORT Uint32 Qel2OpenSession5(Uint16 slotID, Uint32 ulAppID, Uint32 ulFlags,
                                    Uint32 *pulSessionHandle, Uint8 ucMakeMaster,
                                    Uint8 *server_random);
QEL2_EXPORT Uint32 Qel2OpenEncryptSession(Uint32 ulAppID, Uint32 *pulSessionHandle,
                                          Uint8 ucMakeMaster, Uint8 *server_random);
/* respOpenSession receives the answer big-endian as the HSM sent it. */
QEL2_EXPORT Uint32 Qel2OpenEncryptSession2(Uint32 ulAppID, request_type req_type,
                                           OpenSessionResponse *respOpenSession, Uint8 ucMakeMaster,
                                           Uint8 *server_random, Uint32 *request_id);
/* encrypted_pms 256 bytes, client_random 32, client_finish_iv 8, handshake
 * handshake_length; the two finished outputs 40 bytes each. */
QEL2_EXPORT Uint32 Qel2EncryptSession(Uint32 ulSessionHandle, request_type req_type,
                                      const Uint8 *encrypted_pms, const Uint8 *client_random,
                                      const Uint8 *client_finish_iv, const Uint8 *handshake,
                                      Uint16 handshake_length, Uint8 *encrypted_client_finish,
                                      Uint8 *encrypted_server_finish, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2AuthorizeSession(Uint32 ulSessionHandle, Uint32 ulTargetSessionHandle);
/* info in host order. */
QEL2_EXPORT Uint32 Qel2GetSessionInfo(Uint32 ulSessionHandle, SessionInfo *info);
/* respGetSessionInfo receives the answer big-endian as the HSM sent it. */
QEL2_EXPORT Uint32 Qel2GetSessionInfo2(Uint32 ulSessionHandle,
                                       GetSessionInfoResponse *respGetSessionInfo,
                                       request_type req_type, Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2CloseSession(Uint32 ulSessionHandle);
QEL2_EXPORT Uint32 Qel2CloseAllSessions(Uint32 ulSessionHandle);
QEL2_EXPORT Uint32 Qel2ClosePartitionSessions(Uint32 ulSessionHandle, const Uint8 *name,
                                              Uint8 name_len);

/* ---- login and logout ---- */
QEL2_EXPORT Uint32 Qel2LoginHSM(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                Uint32 name_len, const Uint8 *enc_pswd, Uint32 enc_pswd_len);
/* pSignature: null, or a 256-byte signature. */
QEL2_EXPORT Uint32 Qel2LoginHSMNew(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                   Uint32 name_len, const Uint8 *enc_pswd, Uint32 enc_pswd_len,
                                   const Uint8 *pSignature);
QEL2_EXPORT Uint32 Qel2LoginHSM2(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                 Uint32 name_len, const Uint8 *enc_pswd, Uint32 enc_pswd_len,
                                 const Uint8 *pSignature);
QEL2_EXPORT Uint32 Qel2LoginHSM3(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                 Uint32 name_len, const Uint8 *enc_pswd, Uint32 enc_pswd_len,
                                 const Uint8 *pSignature, Uint8 ucBlock_unauth_sess);
QEL2_EXPORT Uint32 Qel2LoginHSM4(Uint32 ulSessionHandle, Uint32 ulUserType, const Uint8 *name,
                                 Uint32 name_len, const Uint8 *enc_pswd, Uint32 enc_pswd_len,
                                 Uint32 *request_id);
QEL2_EXPORT Uint32 Qel2LogoutHSM(Uint32 ulSessionHandle, Uint32 ulUserType);
QEL2_EXPORT Uint32 Qel2LogoutHSM2(Uint32 ulSessionHandle);
QEL2_EXPORT Uint32 Qel2LogoutHSM3(Uint32 ulSessionHandle, Uint32 *request_id);
/* status receives the session state (SessionState). */
QEL2_EXPORT Uint32 Qel2GetLoginStatus(Uint32 ulSessionHandle, Uint32 *status);
QEL2_EXPORT Uint32 Qel2GetLoginFailureCount(Uint32 ulSessionHandle, Uint32 ulUserType,
                                            const Uint8 *userName, Uint32 userNameLength,
                                            Uint32 *pulFailCount);

/* ---- HSM and partition information (records big-endian as sent) ---- */
QEL2_EXPORT Uint32 Qel2GetHSMInfo(int dev_id, HSMInfo *info);
QEL2_EXPORT Uint32 Qel2GetHSMInfo2(Uint32 ulSessionHandle, HSMInfo *info);
QEL2_EXPORT Uint32 Qel2GetHSMInfoNew(Uint32 ulSessionHandle, HSMInfo *info);
QEL2_EXPORT Uint32 Qel2GetPartitionInfo(Uint32 ulSessionHandle, const Uint8 *name, Uint32 name_len,
                                        PartitionInfo *info);
QEL2_EXPORT Uint32 Qel2GetPartitionInfo2(Uint32 ulSessionHandle, const Uint8 *name, Uint32 name_len,
                                         PartitionInfo *info, Uint32 *request_id);
/* version_length: in, the buffer's size; out, 50. */
QEL2_EXPORT Uint32 Qel2FWVersion(Uint32 ulSessionHandle, Uint8 *version, Uint32 *version_length);

QEL2_EXTERN_C_END

#endif
