// Elliptic-curve point addition, doubling and multiplication (by a given
// scalar or by the private key of a key object) and ECDSA: signing with the
// caller's k and verification with a given point or a key object.
// Coordinates, primes, scalars and hashes travel as rounded segments: the
// caller's buffers are read and written for their meaningful length only.
#include <cstdio>

#include "crypto/raw_request.h"
#include "qel2_helpers.h"

using namespace qel2::crypto;

namespace {

enum : uint8_t { kAdd = 0x00, kDouble = 0x10, kMul = 0x20, kSign = 0x60, kVerify = 0x70 };
constexpr uint16_t kSignOpcode = 0x601E, kVerifyOpcode = 0x701E;  // never the DMA bit

uint32_t bad_curve(CurveId cid) {
  if (static_cast<uint32_t>(cid) <= Secp256k1) return 0;
  puts("Invalid Curve provided");
  return ERR_ARGUMENTS_BAD;
}

uint32_t null_coordinates() {
  fputs("NULL prime / co-ordinates pointer in request", stdout);
  return ERR_ARGUMENTS_BAD;
}

uint32_t check_hash_length(Uint16 len) {
  return is_valid_hashlen(len) ? 0u : static_cast<uint32_t>(ERR_UNSUPPORTED_INPUT_LENGTH);
}

// The control word of the ECDSA requests, a 64-bit big-endian number.
struct EcdsaRequest : RawRequest {
  uint8_t control[8] = {};
  EcdsaRequest(uint16_t command_type, uint16_t op, Uint32 session_handle, uint16_t param1,
               uint64_t word)
      : RawRequest(command_type, op, masked(session_handle)) {
    qel2::put_be64(control, word);
    params(param1, 0).dma_mode().in(control, sizeof control);
  }
};

// The point operations: command type 1 (2 with a key), the curve in param1.
struct PointRequest : RawRequest {
  uint32_t plen;
  PointRequest(uint16_t command_type, uint8_t minor, Uint32 session_handle, CurveId cid)
      : RawRequest(command_type, opcode(major::kEc, minor), masked(session_handle)),
        plen(get_prime_length(cid)) {
    params(static_cast<uint16_t>(cid), 0).dma_mode();
  }
  PointRequest &coord(const Uint8 *c) {
    in_rounded(c, plen);
    return *this;
  }
  uint32_t result(Uint8 *x, Uint8 *y, request_type rt, Uint32 *request_id) {
    out_rounded(x, plen).out_rounded(y, plen);
    return send(rt, request_id);
  }
};

uint32_t min_len(uint32_t a, uint32_t b) { return a < b ? a : b; }

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2PointAdd(Uint32 session_handle, request_type request_type, CurveId cid,
                                Uint8 *prime, Uint8 *p1x, Uint8 *p1y, Uint8 *p2x, Uint8 *p2y,
                                Uint8 *p3x, Uint8 *p3y, Uint32 *request_id) {
  if (uint32_t r = bad_curve(cid)) return r;
  if (!prime || !p1x || !p1y || !p2x || !p2y || !p3x || !p3y) return null_coordinates();
  if (uint32_t r = check_nonblocking(request_type, request_id, NbMessage::kUpper)) return r;
  PointRequest rq(KQ_VANTOR_CMD, kAdd, session_handle, cid);
  rq.coord(p1x).coord(p1y).coord(p2x).coord(p2y).coord(prime);
  return rq.result(p3x, p3y, request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2PointDouble(Uint32 session_handle, request_type request_type, CurveId cid,
                                   Uint8 *prime, Uint8 *p1x, Uint8 *p1y, Uint8 *p2x, Uint8 *p2y,
                                   Uint32 *request_id) {
  if (uint32_t r = bad_curve(cid)) return r;
  if (!prime || !p1x || !p1y || !p2x || !p2y) return null_coordinates();
  if (uint32_t r = check_nonblocking(request_type, request_id, NbMessage::kUpper)) return r;
  PointRequest rq(KQ_VANTOR_CMD, kDouble, session_handle, cid);
  rq.coord(p1x).coord(p1y).coord(prime);
  return rq.result(p2x, p2y, request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2PointMul(Uint32 session_handle, request_type request_type, CurveId cid,
                                Uint8 *prime, Uint8 *scalar, Uint32 scalar_length, Uint8 *p1x,
                                Uint8 *p1y, Uint8 *p2x, Uint8 *p2y, Uint32 *request_id) {
  if (uint32_t r = bad_curve(cid)) return r;
  if (!prime || !scalar || !p1x || !p1y || !p2x || !p2y) return null_coordinates();
  if (uint32_t r = check_nonblocking(request_type, request_id, NbMessage::kUpper)) return r;
  PointRequest rq(KQ_VANTOR_CMD, kMul, session_handle, cid);
  rq.params(static_cast<uint16_t>(cid), static_cast<uint16_t>(scalar_length));
  rq.coord(p1x).coord(p1y).in_rounded(scalar, scalar_length);
  rq.coord(prime);
  return rq.result(p2x, p2y, request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2PointMulWithScalarOnHSM(Uint32 session_handle, request_type request_type,
                                               CurveId cid, Uint8 *prime, Uint64 key_handle_le,
                                               Uint8 *p1x, Uint8 *p1y, Uint8 *p2x, Uint8 *p2y,
                                               Uint32 *request_id) {
  if (uint32_t r = bad_curve(cid)) return r;
  if (!prime || !p1x || !p1y || !p2x || !p2y) return null_coordinates();
  if (uint32_t r = check_nonblocking(request_type, request_id, NbMessage::kUpper)) return r;
  PointRequest rq(KQ_NON_SSL_VANTOR_CMD, kMul, session_handle, cid);
  rq.coord(p1x).coord(p1y).key(key_handle_le);
  rq.coord(prime);
  return rq.result(p2x, p2y, request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2ECDSASign(Uint32 session_handle, request_type request_type, CurveId cid,
                                 Uint64 key_handle_le, Uint8 *k, Uint16 ulKLen, Uint8 *pHash,
                                 Uint16 ulHashLen, Uint8 *r, Uint8 *s, Uint32 *request_id) {
  if (uint32_t e = check_hash_length(ulHashLen)) return e;
  if (uint32_t e = bad_curve(cid)) return e;
  if (!pHash || !s || !k) {
    fputs("NULL k / pHash / s pointer in request", stdout);
    return ERR_ARGUMENTS_BAD;
  }
  if (uint32_t e = check_nonblocking(request_type, request_id, NbMessage::kUpper)) return e;
  const uint32_t plen = get_prime_length(cid), h = min_len(plen, ulHashLen);
  EcdsaRequest rq(KQ_NON_SSL_VANTOR_CMD, kSignOpcode, session_handle,
                  static_cast<uint16_t>(cid | plen << 8), uint64_t{ulKLen} << 16 | h);
  rq.in_rounded(k, ulKLen).key(key_handle_le).in_rounded(pHash, h);
  rq.out_rounded(r, plen).out_rounded(s, plen);
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2ECDSASign2(Uint32 session_handle, request_type request_type,
                                  Uint64 key_handle_le, Uint8 *k, Uint16 *prime_len, Uint8 *pHash,
                                  Uint16 ulHashLen, Uint8 *r, Uint8 *s, Uint32 *request_id) {
  if (!prime_len) return ERR_ARGUMENTS_BAD;
  if (uint32_t e = check_hash_length(ulHashLen)) return e;
  if (uint32_t e = check_nonblocking(request_type, request_id, NbMessage::kUpper)) return e;
  const uint32_t a = *prime_len, h = min_len(a, ulHashLen);
  EcdsaRequest rq(KQ_NON_SSL_VANTOR_CMD, kSignOpcode, session_handle, static_cast<uint16_t>(a << 8),
                  uint64_t{a} << 16 | h);
  rq.in_rounded(k, a).key(key_handle_le).in_rounded(pHash, h);
  // The HSM returns the length of r and s together; the caller gets one half.
  rq.attest(1).length_word([prime_len](uint16_t n) { *prime_len = static_cast<Uint16>(n >> 1); },
                           false, 2);
  if (r) rq.out_rounded(r, a).stated();
  if (s) rq.out_rounded(s, a).stated();
  rq.lengths(static_cast<uint16_t>(r8(h) + r8(a) + 16), static_cast<uint16_t>(2 * r8(a) + 2));
  return rq.send(request_type, request_id);
}

QEL2_EXPORT Uint32 Qel2ECDSAVerify2(Uint32 session_handle, request_type request_type,
                                    Uint16 prime_length, Uint64 key_handle_le, Uint8 *pHash,
                                    Uint16 ulHashLen, Uint8 *r, Uint8 *s,
                                    Uint8 key_operation_checks_only, Uint32 *request_id) {
  if (uint32_t e = check_hash_length(ulHashLen)) return e;
  if (!key_operation_checks_only) {
    if (prime_length == 0) {
      puts("Invalid prime length provided");
      return ERR_ARGUMENTS_BAD;
    }
    if (!r || !s || !pHash) return null_coordinates();
  }
  // Also in the checks-only form: an answer nobody could collect is refused.
  if (uint32_t e = check_nonblocking(request_type, request_id, NbMessage::kUpper)) return e;
  const uint32_t h = min_len(prime_length, ulHashLen);
  EcdsaRequest rq(KQ_NON_SSL_VANTOR_CMD, kVerifyOpcode, session_handle,
                  static_cast<uint16_t>(prime_length << 8), h);
  rq.in_rounded(s, prime_length).in_rounded(r, prime_length).key(key_handle_le);
  rq.in_rounded(pHash, h);
  const uint32_t result = rq.send(request_type, request_id);
  if (key_operation_checks_only && result == RET_RESULT_SIZE) return RET_KEY_OPERATION_SANITY_OK;
  return result;
}

QEL2_EXPORT Uint32 Qel2ECDSAVerify(Uint32 session_handle, request_type request_type, CurveId cid,
                                   Uint8 *Qx, Uint8 *Qy, Uint8 *pHash, Uint16 ulHashLen, Uint8 *r,
                                   Uint8 *s, Uint32 *request_id) {
  if (uint32_t e = check_hash_length(ulHashLen)) return e;
  if (uint32_t e = bad_curve(cid)) return e;
  if (!pHash || !r || !s || !Qx || !Qy) return null_coordinates();
  if (uint32_t e = check_nonblocking(request_type, request_id, NbMessage::kUpper)) return e;
  const uint32_t plen = get_prime_length(cid), h = min_len(plen, ulHashLen);
  EcdsaRequest rq(KQ_VANTOR_CMD, kVerifyOpcode, session_handle,
                  static_cast<uint16_t>(cid | plen << 8), h);
  rq.in_rounded(s, plen).in_rounded(r, plen).in_rounded(Qx, plen).in_rounded(Qy, plen);
  rq.in_rounded(pHash, h);
  return rq.send(request_type, request_id);
}

}  // extern "C"
