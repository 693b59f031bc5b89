// Key-encryption and password-encryption key establishment: the host's
// public key (a PEM file under /opt/hsm) goes to the HSM with the caller's
// 32-byte nonce; the HSM answers its nonce and, for the ECDH method, its own
// public key, which is kept beside the host's for the master-key derivation
// on the host. Lengths the answer claims are held to what arrived, so a
// short or inconsistent answer never reaches the caller or the key file.
#include <cstdio>

#include "common/helpers/regular_file.h"
#include "qel2_admin2.h"
#include "qel2_errors.h"
#include "request/app_state.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr size_t kCmdLen = 24;   // DeriveStandardKeyCommand
constexpr size_t kRespLen = 20;  // DeriveStandardKeyResponse
constexpr size_t kHeaderLen = 20;
constexpr Uint32 kNonceLen = QEL2_KEK_NONCE_LEN;
constexpr Uint32 kKeyFileMax = QEL2_KEK_KEY_FILE_MAX;
constexpr Uint8 kEcdh = 0;
constexpr Uint8 kRsa = 1;

constexpr const char *kBase = "/opt/hsm";
constexpr const char *kHostKek = "kek_pub_key.pem";
constexpr const char *kHsmKek = "kek_hsm_pub_key.pem";
constexpr const char *kHostPek = "pek_pub_key.pem";

// "/opt/hsm/pxdv<device>/<name>_<partition>" of a session handle.
struct KeyPath {
  char text[128];
  KeyPath(Uint32 session, const char *name) {
    snprintf(text, sizeof text, "%s/pxdv%d/%s_%d", kBase, static_cast<int>(device_of(session)),
             name, static_cast<int>(partition_of(session)));
  }
};

// The host's public key file, at most 1024 bytes. Key files are regular
// files: a FIFO or a device at the name is a key that cannot be read.
Uint32 read_host_key(Uint32 session, const char *name, Uint8 (&key)[kKeyFileMax], Uint32 *len) {
  return read_regular_file(KeyPath(session, name).text, key, kKeyFileMax, len) == 0
             ? 0
             : ERR_PUBLIC_KEY;
}

// The establishment both keys share. Method 0 receives exactly 32 nonce
// bytes and the HSM's public key into hsm_key (room *hsm_key_len, its
// length on return); any other method a nonce as long as the answer says.
Uint32 Qel2DeriveStandardKeyCommon(Uint32 ulSessionHandle, uint16_t opcode, Uint8 method,
                                   const Uint8 *nonce_in, const Uint8 *host_key,
                                   Uint32 host_key_len, Uint8 *nonce_out, Uint32 *nonce_out_len,
                                   Uint8 *hsm_key, Uint32 *hsm_key_len) {
  if (nonce_out == nullptr || nonce_out_len == nullptr || nonce_in == nullptr ||
      *nonce_out_len < kNonceLen)
    return ERR_INVALID_INPUT;
  if (method == kEcdh && (hsm_key == nullptr || hsm_key_len == nullptr)) return ERR_INVALID_INPUT;
  if (method == kEcdh) *nonce_out_len = kNonceLen;
  // A segment's size travels in 16 bits: a larger buffer offers that much.
  const Uint32 nonce_room = *nonce_out_len < kMaxSegmentLen ? *nonce_out_len : kMaxSegmentLen;
  const Uint32 key_room =
      method == kEcdh ? (*hsm_key_len < kMaxSegmentLen ? *hsm_key_len : kMaxSegmentLen) : 0;

  CommandRecord<kCmdLen> cmd;
  put_session_header(cmd.w, masked_session(ulSessionHandle));
  cmd.w.u32(static_cast<uint32_t>(uint64_t{host_key_len} + kNonceLen));
  uint8_t resp[kRespLen] = {};
  MgmtRequest rq(opcode, masked_session(ulSessionHandle));
  rq.command(cmd).in(nonce_in, kNonceLen).in(host_key, host_key_len);
  rq.out_local(resp, sizeof resp).out(nonce_out, nonce_room);
  if (method == kEcdh) rq.out(hsm_key, key_room);
  if (Uint32 r = rq.check_data_len()) return r;
  // Response length and second parameter: the last output segment only.
  const uint16_t last = static_cast<uint16_t>(method == kEcdh ? key_room : nonce_room);
  const uint16_t dlen = static_cast<uint16_t>(rq.data_len());
  rq.params(dlen, last).lengths(dlen, last);
  rq.send();
  const Uint32 r = rq.result();
  const MgmtRequest::Decode how = rq.decode();
  if (how == MgmtRequest::Decode::kNo) return r;
  const Uint32 size = be32_at(resp + kHeaderLen - 4);  // ulNonceSize
  if (method != kEcdh) {
    // The HSM's nonce (for RSA the secret it encrypted) is the caller's:
    // one longer than the buffer reports the length it needs.
    if (how == MgmtRequest::Decode::kSize || size > nonce_room) {
      *nonce_out_len = size;
      return r != 0 ? r : Uint32{ERR_BUFFER_TOO_SMALL};
    }
    if (Uint32 bad = rq.check_arrived(1, size)) return bad;
    *nonce_out_len = size;
    return r;
  }
  if (how == MgmtRequest::Decode::kSize) return r;
  // The answer counts nonce and key together: a key must follow the nonce
  // and lie wholly in what arrived.
  if (size <= kNonceLen) return TESSALINE_INVALID_MSG;
  if (Uint32 bad = rq.check_arrived(1, kNonceLen)) return bad;
  const Uint32 key_len = size - kNonceLen;
  if (key_len > key_room) {
    *hsm_key_len = key_len;
    return ERR_BUFFER_TOO_SMALL;
  }
  if (Uint32 bad = rq.check_arrived(2, key_len)) return bad;
  *hsm_key_len = key_len;
  return r;
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2GenKeyEncKeyNew(Uint32 ulSessionHandle, Uint8 kek_method, Uint8 *nonce_in,
                                       Uint32 *nonce_out_len, Uint8 *nonce_out) {
  if (nonce_out_len == nullptr) return ERR_INVALID_INPUT;
  if (kek_method == kRsa && *nonce_out_len < QEL2_KEK_RSA_NONCE_MIN) return ERR_INVALID_INPUT;
  Uint8 host_key[kKeyFileMax];
  Uint32 host_len = 0;
  if (Uint32 r = read_host_key(ulSessionHandle, kHostKek, host_key, &host_len)) return r;
  // The HSM's key has the room the host's took.
  Uint8 hsm_key[kKeyFileMax];
  Uint32 hsm_len = host_len;
  const Uint32 r =
      Qel2DeriveStandardKeyCommon(ulSessionHandle, KQ_GEN_KEY_ENC_KEY, kek_method, nonce_in,
                                  host_key, host_len, nonce_out, nonce_out_len, hsm_key, &hsm_len);
  if (kek_method != kEcdh || r != 0) return r;
  // Replaced whole, with the owner, group and mode of the file it replaces
  // where only the directory's owner could have put that file there: a link
  // at the name is replaced, never written through, and a FIFO, device or
  // directory there is refused.
  const KeyPath path(ulSessionHandle, kHsmKek);
  const KeyFileText file{path.text, hsm_key, hsm_len, KeyFileAccess::kPublic};
  if (replace_key_files({&file, 1}) != 0) return ERR_WRITE_OUTPUT_FILE;
  return 0;
}

QEL2_EXPORT Uint32 Qel2GenKeyEncKey(Uint32 ulSessionHandle, Uint8 *nonce_in, Uint8 *nonce_out) {
  Uint32 len = kNonceLen;
  return Qel2GenKeyEncKeyNew(ulSessionHandle, kEcdh, nonce_in, &len, nonce_out);
}

QEL2_EXPORT Uint32 Qel2GenPswdEncKey(Uint32 ulSessionHandle, Uint8 *nonce_in, Uint32 *nonce_out_len,
                                     Uint8 *nonce_out) {
  Uint8 host_key[kKeyFileMax];
  Uint32 host_len = 0;
  if (Uint32 r = read_host_key(ulSessionHandle, kHostPek, host_key, &host_len)) return r;
  return Qel2DeriveStandardKeyCommon(ulSessionHandle, KQ_GEN_PSWD_ENC_KEY, kRsa, nonce_in, host_key,
                                     host_len, nonce_out, nonce_out_len, nullptr, nullptr);
}

}  // extern "C"
