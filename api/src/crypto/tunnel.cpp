// The end-to-end record tunnel: one record and the host's write sequence to
// the HSM firmware, its answer record and write sequence back.
#include <cstdio>

#include "crypto/raw_request.h"

using namespace qel2::crypto;

namespace {

constexpr uint16_t kTunnelOpcode = 0x300D;  // never the DMA bit
constexpr uint16_t kTunnelParam = 0x20A7;
constexpr uint32_t kSeqLen = 8;

Uint32 submit(Uint32 session_handle, request_type rt, Uint8 *host_write_seq, Uint8 *host_inp_record,
              Uint16 inp_record_sz, Uint8 *fw_write_seq, Uint8 *fw_outp_record,
              Uint16 outp_record_sz, Uint8 *err_info, Uint16 *updated_rlen, Uint32 timeout,
              Uint32 *request_id) {
  if (uint32_t r = check_nonblocking(rt, request_id, NbMessage::kUpper)) return r;
  // The whole session handle and the caller's time-out, unlike the other requests.
  RawRequest rq(FW_TUNNEL_INPUT_CMD, kTunnelOpcode, session_handle, timeout);
  rq.params(static_cast<uint16_t>(inp_record_sz - 8), kTunnelParam).dma_mode();
  rq.in(host_write_seq, kSeqLen).in(host_inp_record, inp_record_sz);
  // The answer record may be shorter than its buffer; the sequence is whole.
  rq.out(fw_write_seq, kSeqLen).out_upto(fw_outp_record, outp_record_sz, 0);
  rq.raw().err_info = reinterpret_cast<uintptr_t>(err_info);
  rq.raw().updated_rlen = reinterpret_cast<uintptr_t>(updated_rlen);
  return rq.send(rt, request_id);
}

Uint32 null_argument() {
  fputs("NULL argument pointer in request", stdout);
  return ERR_ARGUMENTS_BAD;
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2E2ESubmitRecord(Uint32 session_handle, request_type request_type,
                                       Uint8 *host_write_seq, Uint8 *host_inp_record,
                                       Uint16 inp_record_sz, Uint8 *fw_write_seq,
                                       Uint8 *fw_outp_record, Uint16 outp_record_sz, Uint32 timeout,
                                       Uint32 *request_id) {
  if (!host_write_seq || !host_inp_record || !fw_write_seq || !fw_outp_record)
    return null_argument();
  return submit(session_handle, request_type, host_write_seq, host_inp_record, inp_record_sz,
                fw_write_seq, fw_outp_record, outp_record_sz, nullptr, nullptr, timeout,
                request_id);
}

QEL2_EXPORT Uint32 Qel2E2ESubmitRecordErr(Uint32 session_handle, request_type request_type,
                                          Uint8 *host_write_seq, Uint8 *host_inp_record,
                                          Uint16 inp_record_sz, Uint8 *fw_write_seq,
                                          Uint8 *fw_outp_record, Uint16 outp_record_sz,
                                          Uint8 *err_info, Uint16 *updated_rlen, Uint32 timeout,
                                          Uint32 *request_id) {
  if (!host_write_seq || !host_inp_record || !fw_write_seq || !fw_outp_record || !err_info ||
      !updated_rlen)
    return null_argument();
  return submit(session_handle, request_type, host_write_seq, host_inp_record, inp_record_sz,
                fw_write_seq, fw_outp_record, outp_record_sz, err_info, updated_rlen, timeout,
                request_id);
}

}  // extern "C"
