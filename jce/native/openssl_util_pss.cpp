// RSA-PSS (EMSA-PSS with MGF1) blocks made and checked on the host, around a
// raw exponentiation on the HSM. Written on EVP digests; the blocks are
// those of a modulus of 8 * modSize bits: modSize bytes whose top bit is 0.
#define OPENSSL_API_COMPAT 30000
#define OPENSSL_NO_DEPRECATED
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "openssl_util_pss.h"
#include "qel2_crypto.h"
#include "qel2_errors.h"
#include "qel2_openssl_util.h"

namespace {

constexpr int kMinModSize = 128;
constexpr int kMaxModSize = 512;
constexpr unsigned char kTrailer = 0xBC;
constexpr unsigned char kTopBitClear = 0x7F;  // 8 * modSize - 1 significant bits

const EVP_MD *getHashMD(HashType type) {
  switch (type) {
    case MD5_TYPE:
      return EVP_md5();
    case SHA1_TYPE:
      return EVP_sha1();
    case SHA256_TYPE:
      return EVP_sha256();
    case SHA384_TYPE:
      return EVP_sha384();
    case SHA512_TYPE:
      return EVP_sha512();
    case SHA224_TYPE:
      return EVP_sha224();
    default:
      return nullptr;
  }
}

bool is_valid_hash_for_pss(HashType type) { return type >= SHA1_TYPE && type <= SHA224_TYPE; }

enum class Direction { kAdd, kVerify };

// The limits on hash type, modulus size and salt length.
int check_limits(Direction dir, HashType hType, int modSize, int sLen) {
  if (!is_valid_hash_for_pss(hType)) {
    puts("Invalid hashType");
    return ERR_ARGUMENTS_BAD;
  }
  if (modSize < kMinModSize || modSize > kMaxModSize) {
    if (dir == Direction::kAdd)
      puts("Invalid modulus size");
    else
      printf("Invalid modulus size %d\n", modSize);
    return ERR_ARGUMENTS_BAD;
  }
  const int hLen = static_cast<int>(get_hash_size(hType));
  const int limit = hLen < modSize - hLen - 2 ? hLen : modSize - hLen - 2;
  if (sLen < 0 || sLen > limit) {
    puts(dir == Direction::kAdd ? "Invalid salt length " : "Invalid salt length");
    return ERR_ARGUMENTS_BAD;
  }
  return 0;
}

// Steps 1 to 4 of both helpers.
int check_arguments(Direction dir, const unsigned char *EM, const unsigned char *mHash,
                    HashType hType, int modSize, int sLen) {
  if (!EM || !mHash) {
    puts("NULL mHash or EM");
    return ERR_ARGUMENTS_BAD;
  }
  return check_limits(dir, hType, modSize, sLen);
}

// H = Hash(8 zero bytes || mHash || salt).
bool pss_hash(const EVP_MD *md, const unsigned char *mHash, size_t hLen, const unsigned char *salt,
              size_t sLen, unsigned char *out) {
  static const unsigned char zeroes[8] = {};
  EVP_MD_CTX *ctx = EVP_MD_CTX_new();
  if (!ctx) return false;
  const bool ok = EVP_DigestInit_ex(ctx, md, nullptr) == 1 &&
                  EVP_DigestUpdate(ctx, zeroes, sizeof zeroes) == 1 &&
                  EVP_DigestUpdate(ctx, mHash, hLen) == 1 &&
                  (sLen == 0 || EVP_DigestUpdate(ctx, salt, sLen) == 1) &&
                  EVP_DigestFinal_ex(ctx, out, nullptr) == 1;
  EVP_MD_CTX_free(ctx);
  return ok;
}

// XORs MGF1(seed) into mask[0..len).
bool mgf1_xor(const EVP_MD *md, const unsigned char *seed, size_t seed_len, unsigned char *mask,
              size_t len) {
  const size_t hLen = static_cast<size_t>(EVP_MD_get_size(md));
  std::vector<unsigned char> block(hLen);
  EVP_MD_CTX *ctx = EVP_MD_CTX_new();
  if (!ctx) return false;
  bool ok = true;
  for (uint32_t counter = 0, done = 0; ok && done < len; ++counter) {
    const unsigned char c[4] = {
        static_cast<unsigned char>(counter >> 24), static_cast<unsigned char>(counter >> 16),
        static_cast<unsigned char>(counter >> 8), static_cast<unsigned char>(counter)};
    ok = EVP_DigestInit_ex(ctx, md, nullptr) == 1 && EVP_DigestUpdate(ctx, seed, seed_len) == 1 &&
         EVP_DigestUpdate(ctx, c, sizeof c) == 1 &&
         EVP_DigestFinal_ex(ctx, block.data(), nullptr) == 1;
    for (size_t i = 0; ok && i < hLen && done < len; ++i) mask[done++] ^= block[i];
  }
  EVP_MD_CTX_free(ctx);
  OPENSSL_cleanse(block.data(), block.size());
  return ok;
}

bool encode(const EVP_MD *md, unsigned char *EM, const unsigned char *mHash, size_t emLen,
            size_t sLen) {
  const size_t hLen = static_cast<size_t>(EVP_MD_get_size(md));
  std::vector<unsigned char> salt(sLen);
  if (sLen > 0 && RAND_bytes(salt.data(), static_cast<int>(sLen)) != 1) return false;
  const size_t dbLen = emLen - hLen - 1;
  unsigned char *H = EM + dbLen;
  if (!pss_hash(md, mHash, hLen, salt.data(), sLen, H)) return false;
  // DB = PS || 0x01 || salt, masked with MGF1(H).
  memset(EM, 0, dbLen);
  EM[dbLen - sLen - 1] = 0x01;
  if (sLen > 0) memcpy(EM + dbLen - sLen, salt.data(), sLen);
  if (!mgf1_xor(md, H, hLen, EM, dbLen)) return false;
  EM[0] &= kTopBitClear;
  EM[emLen - 1] = kTrailer;
  return true;
}

bool check(const EVP_MD *md, const unsigned char *EM, const unsigned char *mHash, size_t emLen,
           size_t sLen) {
  const size_t hLen = static_cast<size_t>(EVP_MD_get_size(md));
  if ((EM[0] & ~kTopBitClear) != 0 || EM[emLen - 1] != kTrailer) return false;
  const size_t dbLen = emLen - hLen - 1;
  const unsigned char *H = EM + dbLen;
  std::vector<unsigned char> db(EM, EM + dbLen);
  if (!mgf1_xor(md, H, hLen, db.data(), dbLen)) return false;
  db[0] &= kTopBitClear;
  // PS must be zeros up to the 0x01 that precedes a salt of exactly sLen bytes.
  size_t i = 0;
  while (i < dbLen - 1 && db[i] == 0) ++i;
  if (db[i++] != 0x01 || dbLen - i != sLen) return false;
  unsigned char H2[EVP_MAX_MD_SIZE];
  if (!pss_hash(md, mHash, hLen, db.data() + i, sLen, H2)) return false;
  return CRYPTO_memcmp(H, H2, hLen) == 0;
}

}  // namespace

namespace jce {
bool pss_verify_limits_hold(HashType hType, int modSize, int sLen) {
  return check_limits(Direction::kVerify, hType, modSize, sLen) == 0;
}
}  // namespace jce

extern "C" {

int tzl_add_rsa_pss_padding(unsigned char *EM, unsigned char *mHash, HashType hType, int modSize,
                            int sLen) {
  if (int r = check_arguments(Direction::kAdd, EM, mHash, hType, modSize, sLen)) return r;
  const EVP_MD *md = getHashMD(hType);
  if (!md) {
    puts("getting EVP digest failed ");
    return RET_ERROR;
  }
  if (!encode(md, EM, mHash, static_cast<size_t>(modSize), static_cast<size_t>(sLen))) {
    puts("Adding RSA padding failed");
    return RET_ERROR;
  }
  return 0;
}

int tzl_verify_rsa_pss_padding(unsigned char *EM, unsigned char *mHash, HashType hType, int modSize,
                               int sLen) {
  if (int r = check_arguments(Direction::kVerify, EM, mHash, hType, modSize, sLen)) return r;
  const EVP_MD *md = getHashMD(hType);
  if (!md) {
    puts("getting EVP digest failed ");
    return RET_ERROR;
  }
  if (!check(md, EM, mHash, static_cast<size_t>(modSize), static_cast<size_t>(sLen))) {
    puts("verifying RSA padding failed");
    return RET_ERROR;
  }
  return 0;
}

}  // extern "C"
