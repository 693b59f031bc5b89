// Partition private data: named blobs written in chunks that keep every
// request within the data limit (8140 bytes + the 52-byte record = 8192),
// read back in chunks, deleted by name. The session travels only in the
// request; the records' headers stay zero.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "qel2_admin2.h"
#include "qel2_errors.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr size_t kUpdateCmdLen = 52;
constexpr size_t kGetCmdLen = 44;
constexpr size_t kDeleteCmdLen = 36;
constexpr size_t kHeaderLen = 20;
constexpr size_t kNameField = 16;
constexpr uint32_t kChunk = QEL2_PRIV_DATA_CHUNK;

enum ChunkFlag : uint32_t { kMiddle = 0, kFirst = 1, kLast = 2, kOnly = 3 };

// The given length must be the name's own (at most 15 characters).
bool name_ok(const Uint8 *name, Uint32 name_len) {
  return name != nullptr &&
         name_len == strnlen(reinterpret_cast<const char *>(name), QEL2_PRIV_DATA_NAME_MAX);
}

// The name, NUL-padded in its 16-byte field.
void put_name(BeWriter &w, const Uint8 *name, Uint32 name_len) {
  w.fixed(name, name_len, kNameField);
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2UpdatePartnPriveDataChunk(Uint32 ulSessionHandle, Uint8 *pname,
                                                 Uint32 name_len, Uint8 *pData, Uint32 ulDataLen,
                                                 Uint32 ulTotalLen, Uint32 ulOffset,
                                                 Uint32 ulBeginEndFlag) {
  if (ulDataLen == 0 || pData == nullptr || !name_ok(pname, name_len)) return ERR_INVALID_INPUT;
  CommandRecord<kUpdateCmdLen> cmd;
  cmd.w.zeros(kHeaderLen).u32(ulDataLen).u32(ulTotalLen).u32(ulOffset).u32(ulBeginEndFlag);
  put_name(cmd.w, pname, name_len);
  uint8_t resp[kResponseHeaderLen] = {};
  MgmtRequest rq(KQ_PARTN_STORAGE_UPDATE, masked_session(ulSessionHandle));
  rq.command(cmd).in(pData, ulDataLen).out_local(resp, sizeof resp);
  // A chunk larger than a request can carry would wrap the 16-bit lengths.
  if (Uint32 r = rq.check_data_len()) return r;
  rq.send();
  return rq.result();
}

QEL2_EXPORT Uint32 Qel2UpdatePartnPriveData(Uint32 ulSessionHandle, Uint8 *pname, Uint32 name_len,
                                            Uint8 *pData, Uint32 ulDataLen, Uint32 ulOffset) {
  if (ulDataLen == 0 || pData == nullptr || !name_ok(pname, name_len)) return ERR_INVALID_INPUT;
  // Every chunk's offset must be expressible: the blob ends within 32 bits.
  if (uint64_t{ulOffset} + ulDataLen - 1 > UINT32_MAX) return ERR_INVALID_INPUT;
  for (uint32_t pos = 0; pos < ulDataLen;) {
    const uint32_t n = std::min(kChunk, ulDataLen - pos);
    const bool first = pos == 0, last = pos + n == ulDataLen;
    const uint32_t flag = first && last ? kOnly : first ? kFirst : last ? kLast : kMiddle;
    if (Uint32 r = Qel2UpdatePartnPriveDataChunk(ulSessionHandle, pname, name_len, pData + pos, n,
                                                 ulDataLen, ulOffset + pos, flag))
      return r;
    pos += n;
  }
  return 0;
}

QEL2_EXPORT Uint32 Qel2GetPartnPriveDatachunk(Uint32 ulSessionHandle, Uint8 *pname, Uint32 name_len,
                                              Uint8 *pData, Uint32 *ulDataLen, Uint32 ulOffset) {
  if (ulDataLen == nullptr || pData == nullptr || !name_ok(pname, name_len))
    return ERR_INVALID_INPUT;
  const Uint32 wanted = *ulDataLen;
  if (wanted > kMaxSegmentLen - kResponseHeaderLen) return ERR_BUFFER_TOO_BIG;
  CommandRecord<kGetCmdLen> cmd;
  cmd.w.zeros(kHeaderLen).u32(wanted).u32(ulOffset);
  put_name(cmd.w, pname, name_len);
  uint8_t resp[kResponseHeaderLen] = {};
  MgmtRequest rq(KQ_PARTN_STORAGE_GET, masked_session(ulSessionHandle));
  rq.command(cmd).out_local(resp, sizeof resp).out(pData, wanted);
  rq.send();
  Uint32 r = rq.result();
  if (rq.decode() == MgmtRequest::Decode::kNo) return r;
  const Uint32 got = be32_at(resp + 12);  // ulBufferSize
  if (got > wanted) {
    puts("Provided buffer is too small");
    if (r == 0) r = ERR_BUFFER_TOO_SMALL;
  } else if (r == 0) {
    if (Uint32 bad = rq.check_arrived(1, got)) return bad;
  }
  *ulDataLen = got;
  return r;
}

QEL2_EXPORT Uint32 Qel2GetPartnPriveData(Uint32 ulSessionHandle, Uint8 *pname, Uint32 name_len,
                                         Uint8 *pdata, Uint32 *ulDataLen, Uint32 ulOffset) {
  if (ulDataLen == nullptr || pdata == nullptr || !name_ok(pname, name_len))
    return ERR_INVALID_INPUT;
  const Uint32 size = *ulDataLen;
  if (size == 0) return ERR_INVALID_INPUT;
  Uint32 read = 0, r = 0;
  while (read < size) {
    const Uint32 want = std::min(kChunk, size - read);
    Uint32 got = want;
    if (uint64_t{ulOffset} + read > UINT32_MAX) {
      r = ERR_INVALID_INPUT;
      break;
    }
    r = Qel2GetPartnPriveDatachunk(ulSessionHandle, pname, name_len, pdata + read, &got,
                                   ulOffset + read);
    if (r != 0) break;
    read += got;
    if (got != want) break;  // the blob ended
  }
  *ulDataLen = read;
  return r;
}

QEL2_EXPORT Uint32 Qel2DeletePartnPriveData(Uint32 ulSessionHandle, Uint8 *pname, Uint32 name_len) {
  if (!name_ok(pname, name_len)) return ERR_INVALID_INPUT;
  CommandRecord<kDeleteCmdLen> cmd;
  cmd.w.zeros(kHeaderLen);
  put_name(cmd.w, pname, name_len);
  MgmtRequest rq(KQ_PARTN_STORAGE_DELETE, masked_session(ulSessionHandle));
  rq.command(cmd).out_std_response();
  rq.send();
  return rq.result();
}

}  // extern "C"
