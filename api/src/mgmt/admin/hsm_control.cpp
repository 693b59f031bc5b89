// Whole-HSM operations: node id, digests over key handles, shutdown,
// zeroise (plain and with a reset type) and the slave configuration.
#include "mgmt/admin/header_command.h"
#include "mgmt/admin/teardown.h"
#include "qel2_admin.h"
#include "qel2_crypto.h"
#include "qel2_errors.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr size_t kNodeIdCmdLen = 24;      // header, node id
constexpr size_t kAllHashesCmdLen = 24;   // header, hash type, 3 zero bytes
constexpr size_t kOneHashCmdLen = 40;     // header, reserved word, handle, hash type, 7 zero bytes
constexpr size_t kVendorZeroizeLen = 24;  // header, reset type, 3 zero bytes

// The response head, then the digest straight into the caller's buffer.
Uint32 send_hash_request(MgmtRequest &rq, HashType type, Uint8 *hash) {
  uint8_t head[sizeof(ResponseHeader)] = {};
  const uint32_t size = get_hash_size(type);  // 0 for AES-CMAC and unknown types
  rq.out(head, sizeof head);
  if (size != 0) rq.out(hash, size);
  rq.send();
  return rq.result();
}

// A command that is the session header alone, answered by a StdResponse.
Uint32 send_header_only(uint16_t opcode, Uint32 handle) {
  uint8_t resp[sizeof(StdResponse)] = {};
  return header_command(opcode, handle, resp, sizeof resp);
}

Uint32 after_zeroise(Uint32 r) {
  if (r == 0) drop_all_connections();
  return r;
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2SetNodeId(Uint32 ulSessionHandle, Uint32 ulNodeId) {
  const Uint32 handle = masked_session(ulSessionHandle);
  CommandRecord<kNodeIdCmdLen> cmd;
  put_session_header(cmd.w, handle);
  cmd.w.u32(ulNodeId);
  uint8_t resp[sizeof(StdResponse)] = {};
  MgmtRequest rq(KQ_SET_NODEID, handle);
  rq.command(cmd).out(resp, sizeof resp);
  rq.send();
  return rq.result();
}

QEL2_EXPORT Uint32 Qel2GetPartnSingleKeyHandleHash(Uint32 ulSessionHandle, Uint64 ulObjectHandle,
                                                   HashType hash_type, Uint8 *hash) {
  if (hash == nullptr) return ERR_INVALID_INPUT;
  const Uint32 handle = masked_session(ulSessionHandle);
  CommandRecord<kOneHashCmdLen> cmd;
  put_session_header(cmd.w, handle);
  cmd.w.u32(0).u64(ulObjectHandle).u8(static_cast<uint8_t>(hash_type)).zeros(7);
  MgmtRequest rq(KQ_GET_PARTN_SINGLE_KEYHANDLE_HASH, handle);
  rq.command(cmd).key_handle(ulObjectHandle);
  return send_hash_request(rq, hash_type, hash);
}

QEL2_EXPORT Uint32 Qel2GetPartnKeyHandlesHash(Uint32 ulSessionHandle, HashType hash_type,
                                              Uint8 *hash) {
  if (hash == nullptr) return ERR_INVALID_INPUT;
  const Uint32 handle = masked_session(ulSessionHandle);
  CommandRecord<kAllHashesCmdLen> cmd;
  put_session_header(cmd.w, handle);
  cmd.w.u8(static_cast<uint8_t>(hash_type)).zeros(3);
  MgmtRequest rq(KQ_ADMIN_GET_PARTN_KEYHANDLES_HASH, handle);
  rq.command(cmd);
  return send_hash_request(rq, hash_type, hash);
}

QEL2_EXPORT Uint32 Qel2ShutdownHSM(Uint32 ulSessionHandle) {
  return send_header_only(KQ_SHUTDOWN, masked_session(ulSessionHandle));
}

QEL2_EXPORT Uint32 Qel2ZeroizeHSM(Uint32 ulSessionHandle) {
  return after_zeroise(send_header_only(KQ_ZEROIZE, masked_session(ulSessionHandle)));
}

QEL2_EXPORT Uint32 Qel2VendorZeroizeHSM(Uint32 ulSessionHandle, Uint8 reset_type) {
  const Uint32 handle = masked_session(ulSessionHandle);
  CommandRecord<kVendorZeroizeLen> cmd;
  put_session_header(cmd.w, handle);
  cmd.w.u8(reset_type).zeros(3);
  uint8_t resp[sizeof(StdResponse)] = {};
  MgmtRequest rq(KQ_VENDOR_ZEROIZE, handle);
  rq.command(cmd).out(resp, sizeof resp);
  rq.send();
  return after_zeroise(rq.result());
}

// No segments at all: the configuration travels in the second parameter.
QEL2_EXPORT Uint32 Qel2SetSlaveConfig(Uint32 ulSessionHandle, Uint32 ulSlaveCfg) {
  MgmtRequest rq(KQ_SLAVE_CONFIG, masked_session(ulSessionHandle));
  rq.params(0, static_cast<uint16_t>(ulSlaveCfg & 0xFFFF));
  rq.send();
  return rq.status_result();
}

}  // extern "C"
