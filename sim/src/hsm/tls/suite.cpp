#include "hsm/tls/suite.h"

namespace hsmsim::hsm::tls {

uint16_t wire_version(uint32_t v) {
  switch (v) {
    case ver::kSsl30:
      return 0x0300;
    case ver::kTls10:
      return 0x0301;
    case ver::kTls11:
      return 0x0302;
    case ver::kTls12:
      return 0x0303;
    case ver::kDtlsOld:
      return 0x0100;
    case ver::kDtls10:
      return 0xFEFF;
    case ver::kDtls12:
      return 0xFEFD;
    default:
      return 0;
  }
}

namespace {
constexpr Suite kSuites[] = {
    {4, Mode::Gcm, "AES-128-GCM", 16, 4, 0, 8},   {5, Mode::Cbc, "AES-128-CBC", 16, 16, 16, 16},
    {6, Mode::Gcm, "AES-256-GCM", 32, 4, 0, 8},   {7, Mode::Cbc, "AES-256-CBC", 32, 16, 16, 16},
    {8, Mode::Stream, "RC4", 16, 0, 0, 0},        {12, Mode::Cbc, "DES-CBC", 8, 8, 8, 8},
    {14, Mode::Cbc, "DES-EDE3-CBC", 24, 8, 8, 8},
};
}  // namespace

const Suite *suite(uint32_t cipher) {
  for (const Suite &s : kSuites)
    if (s.cipher == cipher) return &s;
  return nullptr;
}

bool request_cipher(uint32_t c) { return (c >= 4 && c <= 9) || c == 11 || (c >= 12 && c <= 15); }

size_t request_iv_length(uint32_t c) {
  if (c == 4 || c == 6) return 8;
  if (c == 5 || c == 7) return 16;
  if (c >= 12 && c <= 15) return 8;
  return 0;
}

const char *hash_name(uint32_t t) {
  static const char *const names[] = {nullptr,  "MD5",    "SHA1",  "SHA256",
                                      "SHA384", "SHA512", "SHA224"};
  return t >= 1 && t <= 6 ? names[t] : nullptr;
}

size_t hash_size(uint32_t t) {
  static const size_t sizes[] = {0, 16, 20, 32, 48, 64, 28};
  return t >= 1 && t <= 6 ? sizes[t] : 0;
}

}  // namespace hsmsim::hsm::tls
