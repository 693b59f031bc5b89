// The attestation step: the HSM signs a copy of an answer and appends the
// 256-byte attestation as one more output segment. The caller's attested
// buffer receives the answer's segments back to back, then the attestation.
#include <cstdio>
#include <cstring>

#include "mgmt/objects/objects_internal.h"
#include "qel2_errors.h"

namespace qel2::mgmt {

namespace {

uint64_t declared_response_len(const request_buffer &rb) {
  uint64_t total = 0;
  for (unsigned i = 0; i < rb.outcnt && i < MAX_SEGMENTS; ++i) total += rb.outsize[i];
  return total;
}

}  // namespace

uint32_t attestation_refusal(const MgmtRequest *rq, const Uint8 *attestedResponse,
                             const Uint32 *attestedLength) {
  if (!rq) return ERR_INVALID_INPUT;
  if (!attestedResponse || !attestedLength) {
    printf("Attestation Buffer empty");
    return ERR_INVALID_INPUT;
  }
  const uint64_t response_len = declared_response_len(rq->raw());
  if (uint64_t{*attestedLength} < response_len + QEL2_ATTESTATION_LEN) {
    printf("Buffer is too small");
    return ERR_BUFFER_TOO_SMALL;
  }
  if (response_len > kMaxAttestedResponse) {
    printf("Response length is too large");
    return ERR_BUFFER_TOO_BIG;
  }
  return 0;
}

uint32_t appendAttestation(MgmtRequest *rq, Uint8 *attestedResponse, Uint32 *attestedLength) {
  if (uint32_t r = attestation_refusal(rq, attestedResponse, attestedLength)) return r;
  request_buffer &rb = rq->raw();
  const uint64_t response_len = declared_response_len(rb);

  // The answer's own segments as declared, before the attestation joins them.
  const unsigned n = rb.outcnt;
  Uint64 ptrs[MAX_SEGMENTS];
  Uint32 sizes[MAX_SEGMENTS];
  for (unsigned i = 0; i < n; ++i) {
    ptrs[i] = rb.outptr[i];
    sizes[i] = rb.outsize[i];
  }
  rq->out(attestedResponse + response_len, QEL2_ATTESTATION_LEN);
  rb.attest = 1;
  const uint32_t transport = rq->send(rb.req_type);

  size_t off = 0;
  for (unsigned i = 0; i < n; ++i) {
    const void *src = reinterpret_cast<const void *>(static_cast<uintptr_t>(ptrs[i]));
    if (src)
      std::memcpy(attestedResponse + off, src, sizes[i]);
    else
      std::memset(attestedResponse + off, 0, sizes[i]);
    off += sizes[i];
  }
  *attestedLength = static_cast<Uint32>(response_len + QEL2_ATTESTATION_LEN);
  return transport;
}

}  // namespace qel2::mgmt
