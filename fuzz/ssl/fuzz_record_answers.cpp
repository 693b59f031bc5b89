// Hostile answers to record decryption: the padding check and the stripping
// of MAC and padding read the decrypted bytes the HSM returned. A stand-in
// daemon of the fuzzer's own answers every record request with the fuzzed
// request status and payload; the message buffer is a heap block exactly as
// long as the record, so ASan sees any read or write past it.
//
// Input: byte 0 the cipher (by index), byte 1 the version (by index), byte 2
// the hash type (bits 0-2) and a non-zero request status (bit 7), bytes 3-4
// the record length (big-endian, cut to the longest record); the rest is the
// answer's payload.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <hsmsim/daemon.h>

#include "../common/stand_in_daemon.h"

#include "daemon_intf/transport_seam.h"
#include "qel2.h"

namespace {

constexpr size_t kHead = 5;
constexpr uint64_t kCtx = 0x10000;
constexpr CipherType kCiphers[] = {AES_GCM_128, AES_128, AES_GCM_256, AES_256,
                                   RC4_128,     DES,     DES3_192,    DES_EXPORT_56};
constexpr SslVersion kVersions[] = {VER_TLS,           VER3_0,     VER_DTLS,   VER_TLS1_1,
                                    VER_DTLS_POST_RFC, VER_TLS1_2, VER_DTLS1_2};

hsmsim::Daemon *daemon_ptr = nullptr;
uint32_t session = 0;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  int devnull = open("/dev/null", O_WRONLY);
  if (devnull >= 0) dup2(devnull, STDOUT_FILENO);
  transport_seam_set_second_ms(1);
  daemon_ptr = fuzz::start_stand_in_daemon();
  Uint32 app = 0;
  Qel2Initialize3(0, OSTREL_DIRECT, "PARTITION_1", &app);
  Qel2OpenSession2(app, &session);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < kHead) return 0;
  const CipherType c = kCiphers[data[0] % (sizeof kCiphers / sizeof kCiphers[0])];
  const SslVersion v = kVersions[data[1] % (sizeof kVersions / sizeof kVersions[0])];
  const auto h = static_cast<HashType>(1 + (data[2] & 7) % 6);
  const uint32_t status = data[2] & 0x80 ? 0x40000185u : 0u;
  const uint16_t len = static_cast<uint16_t>(((data[3] << 8) | data[4]) % 0x4401);

  hsmsim::Answer a;
  a.status = status;
  a.payload = std::vector<uint8_t>(data + kHead, data + size);
  daemon_ptr->clear_scripts();
  for (uint16_t type = 0; type < 4; ++type)
    daemon_ptr->script(KQ_VANTOR_CMD, static_cast<uint16_t>(type << 12 | 0x0D), a);

  std::vector<uint8_t> record(len ? len : 1, 0x5A);
  auto *message = static_cast<uint8_t *>(malloc(len ? len : 1));
  uint8_t seq[8] = {}, iv[16] = {};
  Uint16 message_length = 0;
  Qel2DecryptRecord(session, OSTREL_BLOCKING, kCtx, c, h, v, SSL_SERVER, APP_DATA, seq, iv, len,
                    record.data(), &message_length, message, nullptr);
  free(message);
  fuzz::settle_stand_in_daemon();
  return 0;
}
