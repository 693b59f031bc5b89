// Random bytes from the HSM's FIPS generator. One answer segment holds at
// most 65535 bytes, so longer requests are asked for piece by piece.
#include <algorithm>

#include "qel2_errors.h"
#include "qel2_sign.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

extern "C" {

QEL2_EXPORT Uint32 Qel2GenerateFipsRandom(Uint32 ulSessionHandle, Uint8 *rand, Uint32 rand_len) {
  // Length 0 asks for nothing: it goes out with an empty output segment.
  if (!rand && rand_len != 0) return ERR_INVALID_INPUT;
  const uint32_t session = masked_session(ulSessionHandle);
  uint64_t done = 0;
  do {
    const auto piece = static_cast<uint32_t>(std::min<uint64_t>(rand_len - done, kMaxSegmentLen));
    MgmtRequest rq(KQ_FIPS_RAND, session, KQ_MGMT_VNX_CMD);
    rq.out(rand + done, piece);
    rq.send();
    // No response record: the transport status, else the request status.
    if (Uint32 r = rq.status_result()) return r;
    // Bytes the HSM did not deliver are not random bytes.
    if (rq.received(0) != piece) return TESSALINE_INVALID_MSG;
    done += piece;
  } while (done < rand_len);
  return 0;
}

}  // extern "C"
