// The EAP-FAST key operations on an SSL context: the session key seed
// export and the PAC handshake. The server random travels before the
// client random; the seed comes back as 56 bytes.
#include "qel2_errors.h"
#include "qel2_sign.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr uint32_t kRandomLen = 48;
constexpr uint32_t kSeedLen = 56;
constexpr uint32_t kEapCommandLen = sizeof(EapFastPacHandshakeCommand);
static_assert(sizeof(EapFastExportSKSCommand) == kEapCommandLen);

// The randoms, the seed's segment, the context and the wrapping key: the
// part both requests share. The result, with the seed only when it arrived.
Uint32 send_eap(MgmtRequest &rq, Uint8 *server_random, Uint8 *client_random, Uint8 *seed,
                Uint32 wrapper, Uint64 context) {
  rq.in(server_random, kRandomLen).in(client_random, kRandomLen);
  rq.out_std_response().out(seed, kSeedLen).ctx_ptr(context).key_handle(wrapper);
  rq.send();
  if (Uint32 r = rq.result()) return r;
  return rq.check_arrived(1, kSeedLen);
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2EapFastExportSks(Uint32 ulSessionHandle, Uint32 ulMasterSecretOffset,
                                        Uint32 ulMasterSecretLen, Uint32 ulTlsKeyMaterialSize,
                                        Uint8 *ucClientRandom, Uint8 *ucServerRandom,
                                        Uint8 *ucSessionKeySeed, Uint32 ulWrapperKeyHandle,
                                        Uint64 ulIV, Uint64 ulContextHandle) {
  if (!ucServerRandom || !ucSessionKeySeed || !ucClientRandom) return ERR_INVALID_INPUT;
  const uint32_t session = masked_session(ulSessionHandle);
  CommandRecord<kEapCommandLen> cmd;
  put_session_header(cmd.w, session);
  cmd.w.u32(ulMasterSecretOffset).u32(ulMasterSecretLen).u32(ulWrapperKeyHandle);
  cmd.w.u32(ulTlsKeyMaterialSize).u32(0).u64(ulIV);
  MgmtRequest rq(KQ_EXPORT_SKS, session);
  rq.command(cmd);
  return send_eap(rq, ucServerRandom, ucClientRandom, ucSessionKeySeed, ulWrapperKeyHandle,
                  ulContextHandle);
}

QEL2_EXPORT Uint32 Qel2EapFastPacHs(Uint32 ulSessionHandle, Uint8 *ucPacOpaque,
                                    Uint32 ulPacOpaqueSize, Uint32 ulPacKeyOffset,
                                    Uint32 ulPacKeyLen, Uint32 ulKeyMaterialSize, Uint64 ulIV,
                                    Uint8 *ucClientRandom, Uint8 *ucServerRandom,
                                    Uint8 *ucSessionKeySeed, Uint32 ulWrapperKeyHandle,
                                    Uint64 ulContextHandle) {
  if (!ucPacOpaque || !ucClientRandom || !ucServerRandom || !ucSessionKeySeed)
    return ERR_INVALID_INPUT;
  // 64-bit sum: a size near 4 GiB must not wrap below the limit.
  if (uint64_t{ulPacOpaqueSize} + kEapCommandLen + 2 * kRandomLen > kMaxDataLen)
    return ERR_BUFFER_TOO_BIG;
  const uint32_t session = masked_session(ulSessionHandle);
  CommandRecord<kEapCommandLen> cmd;
  put_session_header(cmd.w, session);
  cmd.w.u32(ulPacKeyOffset).u32(ulPacKeyLen).u32(ulWrapperKeyHandle);
  cmd.w.u32(ulPacOpaqueSize).u32(ulKeyMaterialSize).u64(ulIV);
  MgmtRequest rq(KQ_PAC_KEY_HS, session);
  rq.command(cmd).in(ucPacOpaque, ulPacOpaqueSize);
  return send_eap(rq, ucServerRandom, ucClientRandom, ucSessionKeySeed, ulWrapperKeyHandle,
                  ulContextHandle);
}

}  // extern "C"
