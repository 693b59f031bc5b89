// Partitions from an officer's session of partition 0: create, delete and
// resize, the information of all partitions, their count and sizes, and
// the HSM's label.
#include <cstdio>
#include <cstring>
#include <vector>

#include "mgmt/mgmt_common.h"
#include "qel2_admin.h"
#include "qel2_errors.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr uint32_t kNameField = QEL2_PARTITION_NAME_FIELD;
constexpr uint32_t kMaxName = kNameField - 1;
constexpr int kIoctlLine = 8232;  // the line number the ioctl message has always named
constexpr size_t kCreateCmdLen = 72, kCreateRespLen = 32;
constexpr size_t kDeleteCmdLen = 36;
constexpr size_t kResizeCmdLen = 60, kResizeRespLen = 28;
constexpr size_t kAllInfoRespLen = 36 + QEL2_MAX_PARTITIONS * sizeof(PartitionInfo);
constexpr size_t kCountRespLen = 432;

// Partition names are C strings; a longer name given with length 15 is sent
// as its first 15 characters.
bool name_ok(const Uint8 *name, Uint8 name_len) {
  if (name != nullptr && strnlen(reinterpret_cast<const char *>(name), kMaxName) == name_len)
    return true;
  printf("\n Invalid partition len [%d] and Max len [%d]", static_cast<int>(name_len),
         static_cast<int>(kMaxName));
  return false;
}

// Transport status, else request status, else the response code when a
// response header arrived: an HSM refusal carried only in the answer is
// not success.
Uint32 partition_result(const MgmtRequest &rq) {
  Uint32 r = rq.status_result();
  ResponseHead head;
  if (r == 0 && rq.response_head(&head)) r = head.code;
  if (r != 0) printf("\nioctl error %d at line %d\n", static_cast<int>(r), kIoctlLine);
  return r;
}

// One command record, one response record; the header carries the whole
// session handle, the request the masked one.
template <size_t N>
Uint32 partition_request(Uint32 handle, uint16_t opcode, const CommandRecord<N> &cmd, uint8_t *resp,
                         size_t resp_len) {
  MgmtRequest rq(opcode, masked_session(handle));
  rq.command(cmd).out(resp, static_cast<uint32_t>(resp_len));
  rq.send();
  return partition_result(rq);
}

}  // namespace

Uint32 Qel2CreatePartitionCommon(Uint32 ulSessionHandle, const Uint8 *name, Uint8 name_len,
                                 Uint32 key_store_size, Uint32 max_ssl_ctx, Uint32 max_crpto_dev,
                                 Uint8 wrap_flag, const Uint8 *AltName, Uint32 ulAltNameLen,
                                 Uint8 partn_idx) {
  if (!name_ok(name, name_len)) return ERR_INVALID_INPUT;
  size_t alt_len = 0;
  if (AltName != nullptr && ulAltNameLen != 0) {
    if (ulAltNameLen > kMaxName) return ERR_INVALID_STRING_OP;
    alt_len = bounded_name_len(AltName, ulAltNameLen, kMaxName);
  }
  CommandRecord<kCreateCmdLen> cmd;
  put_session_header(cmd.w, ulSessionHandle);
  cmd.w.fixed(name, name_len, kNameField).u32(key_store_size).u32(max_ssl_ctx).u32(max_crpto_dev);
  cmd.w.u32(wrap_flag).fixed(AltName, alt_len, kNameField).u8(partn_idx).zeros(3);
  uint8_t resp[kCreateRespLen] = {};
  Uint32 r = partition_request(ulSessionHandle, KQ_CREATE_PARTITION, cmd, resp, sizeof resp);
  if (r != 0) printf("\n Create partition failed with error code [%d]!!", static_cast<int>(r));
  return r;
}

Uint32 Qel2DeletePartitionCommon(Uint32 ulSessionHandle, const Uint8 *name, Uint8 name_len,
                                 Uint8 forceDelete) {
  if (!name_ok(name, name_len)) return ERR_INVALID_INPUT;
  CommandRecord<kDeleteCmdLen> cmd;
  put_session_header(cmd.w, ulSessionHandle, forceDelete & 1u);
  cmd.w.fixed(name, name_len, kNameField);
  uint8_t resp[sizeof(StdResponse)] = {};
  Uint32 r = partition_request(ulSessionHandle, KQ_DELETE_PARTITION, cmd, resp, sizeof resp);
  if (r != 0) printf("\n Delete partition failed with error code [%d] !!", static_cast<int>(r));
  return r;
}

extern "C" {

QEL2_EXPORT Uint32 Qel2CreatePartition(Uint32 ulSessionHandle, const Uint8 *name, Uint8 name_len,
                                       Uint32 key_store_size, Uint32 max_ssl_ctx,
                                       Uint32 max_crpto_dev, Uint8 wrap_flag) {
  return Qel2CreatePartitionCommon(ulSessionHandle, name, name_len, key_store_size, max_ssl_ctx,
                                   max_crpto_dev, wrap_flag, nullptr, 0, 0);
}

QEL2_EXPORT Uint32 Qel2CreatePartition2(Uint32 ulSessionHandle, const Uint8 *name, Uint8 name_len,
                                        Uint32 key_store_size, Uint32 max_ssl_ctx,
                                        Uint32 max_crpto_dev, Uint8 wrap_flag, const Uint8 *AltName,
                                        Uint32 ulAltNameLen) {
  return Qel2CreatePartitionCommon(ulSessionHandle, name, name_len, key_store_size, max_ssl_ctx,
                                   max_crpto_dev, wrap_flag, AltName, ulAltNameLen, 0);
}

QEL2_EXPORT Uint32 Qel2CreatePartition3(Uint32 ulSessionHandle, const Uint8 *name, Uint8 name_len,
                                        Uint32 key_store_size, Uint32 max_ssl_ctx,
                                        Uint32 max_crpto_dev, Uint8 wrap_flag, const Uint8 *AltName,
                                        Uint32 ulAltNameLen, Uint8 partn_idx) {
  return Qel2CreatePartitionCommon(ulSessionHandle, name, name_len, key_store_size, max_ssl_ctx,
                                   max_crpto_dev, wrap_flag, AltName, ulAltNameLen, partn_idx);
}

QEL2_EXPORT Uint32 Qel2CreatePartitionNew(Uint32 ulSessionHandle, const Uint8 *name, Uint8 name_len,
                                          Uint32 key_store_size, Uint32 max_ssl_ctx,
                                          Uint32 max_crpto_dev, Uint8 wrap_flag,
                                          const Uint8 *AltName, Uint32 ulAltNameLen,
                                          Uint8 partn_idx) {
  return Qel2CreatePartitionCommon(ulSessionHandle, name, name_len, key_store_size, max_ssl_ctx,
                                   max_crpto_dev, wrap_flag, AltName, ulAltNameLen, partn_idx);
}

QEL2_EXPORT Uint32 Qel2DeletePartition(Uint32 ulSessionHandle, const Uint8 *name, Uint8 name_len) {
  return Qel2DeletePartitionCommon(ulSessionHandle, name, name_len, 0);
}

QEL2_EXPORT Uint32 Qel2DeletePartition2(Uint32 ulSessionHandle, const Uint8 *name, Uint8 name_len,
                                        Uint8 forceDelete) {
  return Qel2DeletePartitionCommon(ulSessionHandle, name, name_len, forceDelete);
}

QEL2_EXPORT Uint32 Qel2ResizePartition(Uint32 ulSessionHandle, const Uint8 *name, Uint8 name_len,
                                       Uint32 newKeySize, Uint8 keys_inc, Uint32 newCtxSize,
                                       Uint8 ctxs_inc, Uint32 newAcclrSize, Uint8 acclr_inc,
                                       Uint8 backupPolicyChange) {
  if (!name_ok(name, name_len)) return ERR_INVALID_INPUT;
  if (newKeySize == 0 && newCtxSize == 0 && newAcclrSize == 0 && backupPolicyChange == 0) {
    printf("\n Invalid key/ctx size/acclr dev");
    return ERR_INVALID_INPUT;
  }
  CommandRecord<kResizeCmdLen> cmd;
  put_session_header(cmd.w, ulSessionHandle, backupPolicyChange);
  cmd.w.fixed(name, name_len, kNameField);
  cmd.w.u8(keys_inc).zeros(3).u32(newKeySize);
  cmd.w.u8(ctxs_inc).zeros(3).u32(newCtxSize);
  cmd.w.u8(acclr_inc).zeros(3).u32(newAcclrSize);
  uint8_t resp[kResizeRespLen] = {};
  Uint32 r = partition_request(ulSessionHandle, KQ_RESIZE_PARTITION, cmd, resp, sizeof resp);
  if (r != 0) printf("\n Resize partition failed with error code [%d] !!", static_cast<int>(r));
  return r;
}

QEL2_EXPORT Uint32 Qel2GetAllPartitionInfo(Uint32 ulSessionHandle, PartitionInfo *info,
                                           Uint32 *total_partitions, Uint32 *free_partitions,
                                           Uint32 *total_keys, Uint32 *free_keys,
                                           Uint32 *total_ssl_ctx, Uint32 *free_ssl_ctx,
                                           Uint32 *total_acclr_dev, Uint32 *free_acclr_dev) {
  if (info == nullptr) return ERR_INVALID_INPUT;
  CommandRecord<sizeof(StdSessionCommand)> cmd;  // the header alone
  put_session_header(cmd.w, ulSessionHandle);
  std::vector<uint8_t> resp(kAllInfoRespLen);
  Uint32 r =
      partition_request(ulSessionHandle, KQ_ALL_PARTITION_INFO, cmd, resp.data(), resp.size());
  if (r != 0) return r;
  BeReader rd(resp.data() + kResponseHeaderLen, resp.size() - kResponseHeaderLen);
  const Uint32 keys = rd.u32(), keys_free = rd.u32(), ssl = rd.u32(), ssl_free = rd.u32();
  const Uint32 acclr = rd.u8(), acclr_free = rd.u8(), parts = rd.u8(), parts_free = rd.u8();
  rd.bytes(info, QEL2_MAX_PARTITIONS * sizeof(PartitionInfo));
  const struct {
    Uint32 *out;
    Uint32 value;
  } counts[] = {{total_partitions, parts}, {free_partitions, parts_free}, {total_keys, keys},
                {free_keys, keys_free},    {total_ssl_ctx, ssl},          {free_ssl_ctx, ssl_free},
                {total_acclr_dev, acclr},  {free_acclr_dev, acclr_free}};
  for (const auto &c : counts)
    if (c.out) *c.out = c.value;
  return 0;
}

QEL2_EXPORT Uint32 Qel2GetPartitionCount(Uint32 ulSessionHandle, Uint8 *partition_count,
                                         Uint8 *partition_index, Uint32 *partition_key_size,
                                         Uint32 *partition_ssl_size, Uint32 *partition_acclr_size) {
  if (!partition_count || !partition_index || !partition_key_size || !partition_ssl_size ||
      !partition_acclr_size)
    return ERR_INVALID_INPUT;
  uint8_t resp[kCountRespLen] = {};
  MgmtRequest rq(KQ_GET_PARTITION_COUNT, ulSessionHandle);
  rq.out(resp, sizeof resp);
  rq.send();
  const Uint32 r = rq.status_result();
  const Uint8 count = resp[396];
  *partition_count = count;
  if (r == 0 && (count == 0 || count > QEL2_MAX_PARTITIONS)) {
    printf("Obtained invalid partition count %d\n", count);
    return QEL2_INVALID_PARTITION_COUNT;
  }
  const unsigned n = count < QEL2_MAX_PARTITIONS ? count : QEL2_MAX_PARTITIONS;
  for (unsigned i = 0; i < n; ++i) {
    partition_index[i] = resp[397 + i];
    partition_key_size[i] = be32_at(resp + 4 * i);
    partition_ssl_size[i] = be32_at(resp + 132 + 4 * i);
    partition_acclr_size[i] = be32_at(resp + 264 + 4 * i);
  }
  return r;
}

QEL2_EXPORT Uint32 Qel2GetHSMLabel(Uint32 ulSessionHandle, Uint8 *label) {
  if (label == nullptr) return ERR_INVALID_INPUT;
  uint8_t text[QEL2_HSM_LABEL_LEN] = {};
  MgmtRequest rq(KQ_GET_HSM_LABEL, ulSessionHandle);
  rq.out(text, sizeof text);
  rq.send();
  if (Uint32 r = rq.status_result()) return r;
  const void *nul = std::memchr(text, 0, sizeof text);
  if (nul == nullptr) return ERR_INVALID_STRING_OP;
  std::memcpy(label, text, static_cast<const uint8_t *>(nul) - text + 1);
  return 0;
}

}  // extern "C"
