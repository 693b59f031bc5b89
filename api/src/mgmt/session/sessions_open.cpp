// Opening sessions, plain and with the session-encryption handshake.
#include <cstdio>

#include "mgmt/session/mgmt_workers.h"
#include "qel2_errors.h"
#include "qel2_sdk.h"
#include "request/app_state.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr Uint16 kDefaultSlot = 1;

void build_open_session(CommandRecord<sizeof(OpenSessionCommand)> &cmd, Uint16 slotID,
                        Uint32 ulAppID, Uint32 ulFlags, Uint8 ucMakeMaster) {
  put_nosession_header(cmd.w, nonce_for(ulAppID));
  cmd.w.u32(ulFlags).u16(slotID).u16(0).u32(0).u32(masked_app(ulAppID)).u8(ucMakeMaster).zeros(3);
}

}  // namespace

Uint32 Qel2OpenSessionCommon(Uint16 slotID, Uint32 ulAppID, Uint32 ulFlags,
                             Uint32 *pulSessionHandle, Uint8 ucMakeMaster, Uint8 *server_random) {
  if (pulSessionHandle == nullptr) return ERR_INVALID_INPUT;
  if (masked_app(ulAppID) == 0) return ERR_LIB_NOT_INITIALIZED;

  CommandRecord<sizeof(OpenSessionCommand)> cmd;
  build_open_session(cmd, slotID, ulAppID, ulFlags, ucMakeMaster);
  uint8_t resp[sizeof(OpenSessionResponse)] = {};
  MgmtRequest rq(KQ_OPEN_SESSION, masked_app(ulAppID));
  rq.command(cmd).out_local(resp, sizeof resp);
  if (server_random) rq.out(server_random, QEL2_SERVER_RANDOM_LEN);
  rq.send();
  Uint32 r = rq.result();
  if (r != 0) return r;
  // The HSM's handle is 30 bits; the device of the application goes on top.
  Uint32 hsm_handle = be32_at(resp + offsetof(OpenSessionResponse, ulSessionHandle));
  *pulSessionHandle = (ulAppID & ~QEL2_SESSION_HANDLE_MASK) | hsm_handle;
  return 0;
}

extern "C" {

QEL2_EXPORT Uint32 Qel2OpenSession(int dev_id, Uint32 *pulSessionHandle) {
  if (!valid_device(dev_id)) return ERR_INVALID_INPUT;
  return Qel2OpenSessionCommon(kDefaultSlot, global_application_id[dev_id], FLAG_RW_SESSION,
                               pulSessionHandle, 0, nullptr);
}

QEL2_EXPORT Uint32 Qel2OpenSession2(Uint32 ulAppID, Uint32 *pulSessionHandle) {
  return Qel2OpenSessionCommon(kDefaultSlot, ulAppID, FLAG_RW_SESSION, pulSessionHandle, 0,
                               nullptr);
}

QEL2_EXPORT Uint32 Qel2OpenSession3(Uint32 ulAppID, Uint32 ulFlags, Uint32 *pulSessionHandle) {
  return Qel2OpenSessionCommon(kDefaultSlot, ulAppID, ulFlags, pulSessionHandle, 0, nullptr);
}

QEL2_EXPORT Uint32 Qel2OpenSession4(Uint16 slotID, Uint32 ulAppID, Uint32 ulFlags,
                                    Uint32 *pulSessionHandle) {
  return Qel2OpenSessionCommon(slotID, ulAppID, ulFlags, pulSessionHandle, 0, nullptr);
}

QEL2_EXPORT Uint32 Qel2OpenSession5(Uint16 slotID, Uint32 ulAppID, Uint32 ulFlags,
                                    Uint32 *pulSessionHandle, Uint8 ucMakeMaster,
                                    Uint8 *server_random) {
  return Qel2OpenSessionCommon(slotID, ulAppID, ulFlags, pulSessionHandle, ucMakeMaster,
                               server_random);
}

QEL2_EXPORT Uint32 Qel2OpenEncryptSession(Uint32 ulAppID, Uint32 *pulSessionHandle,
                                          Uint8 ucMakeMaster, Uint8 *server_random) {
  return Qel2OpenSessionCommon(kDefaultSlot, ulAppID, FLAG_RW_SESSION, pulSessionHandle,
                               ucMakeMaster, server_random);
}

QEL2_EXPORT Uint32 Qel2OpenEncryptSession2(Uint32 ulAppID, request_type req_type,
                                           OpenSessionResponse *respOpenSession, Uint8 ucMakeMaster,
                                           Uint8 *server_random, Uint32 *request_id) {
  if (Uint32 r = check_request_id_arg(req_type, request_id)) return r;
  if (masked_app(ulAppID) == 0) return ERR_LIB_NOT_INITIALIZED;
  if (respOpenSession == nullptr) return ERR_INVALID_INPUT;

  CommandRecord<sizeof(OpenSessionCommand)> cmd;
  build_open_session(cmd, kDefaultSlot, ulAppID, FLAG_RW_SESSION, ucMakeMaster);
  MgmtRequest rq(KQ_OPEN_SESSION, masked_app(ulAppID));
  rq.command(cmd).out(respOpenSession, sizeof *respOpenSession);
  if (server_random) rq.out(server_random, QEL2_SERVER_RANDOM_LEN);
  rq.send(req_type, request_id);
  return rq.async_result();
}

QEL2_EXPORT Uint32 Qel2EncryptSession(Uint32 ulSessionHandle, request_type req_type,
                                      const Uint8 *encrypted_pms, const Uint8 *client_random,
                                      const Uint8 *client_finish_iv, const Uint8 *handshake,
                                      Uint16 handshake_length, Uint8 *encrypted_client_finish,
                                      Uint8 *encrypted_server_finish, Uint32 *request_id) {
  if (Uint32 r = check_request_id_arg(req_type, request_id)) return r;
  if (!encrypted_pms || !client_random || !client_finish_iv || (!handshake && handshake_length) ||
      !encrypted_client_finish || !encrypted_server_finish)
    return ERR_INVALID_INPUT;

  MgmtRequest rq(KQ_ENCRYPT_SESSION, ulSessionHandle, KQ_MGMT_CMD, kLongTimeout);
  rq.in(encrypted_pms, QEL2_ENCRYPTED_PMS_LEN)
      .in(client_random, QEL2_CLIENT_RANDOM_LEN)
      .in(client_finish_iv, QEL2_CLIENT_FINISH_IV_LEN)
      .in(handshake, handshake_length)
      .out(encrypted_client_finish, QEL2_ENCRYPTED_FINISH_LEN)
      .out(encrypted_server_finish, QEL2_ENCRYPTED_FINISH_LEN);
  if (Uint32 r = rq.check_data_len()) return r;
  rq.lengths(static_cast<Uint16>(rq.data_len()), 2 * QEL2_ENCRYPTED_FINISH_LEN).params(0, 0);
  rq.send(req_type, request_id);
  return rq.status_result();
}

}  // extern "C"
