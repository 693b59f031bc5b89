/* Basic types and the export marker shared by every public header. */
#ifndef QEL2_DEFS_H
#define QEL2_DEFS_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define QEL2_EXPORT __attribute__((visibility("default")))
#else
#define QEL2_EXPORT
#endif

#ifdef __cplusplus
#define QEL2_EXTERN_C_BEGIN extern "C" {
#define QEL2_EXTERN_C_END }
#define QEL2_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define QEL2_EXTERN_C_BEGIN
#define QEL2_EXTERN_C_END
#define QEL2_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

/* Records that end in a flexible array member stand between these. C++ has
 * no such member in its standard, but g++ and clang++ lay it out as C does;
 * a C++ caller building with -pedantic gets no diagnostic for it. */
#if defined(__cplusplus) && defined(__GNUC__)
#define QEL2_FLEXIBLE_ARRAY_BEGIN \
  _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wpedantic\"")
#define QEL2_FLEXIBLE_ARRAY_END _Pragma("GCC diagnostic pop")
#else
#define QEL2_FLEXIBLE_ARRAY_BEGIN
#define QEL2_FLEXIBLE_ARRAY_END
#endif

typedef uint8_t Uint8;
typedef uint16_t Uint16;
typedef uint32_t Uint32;
typedef uint64_t Uint64;
typedef int8_t Int8;
typedef int16_t Int16;
typedef int32_t Int32;
typedef int64_t Int64;

/* Digest types of the hash, HMAC, signing and digest requests. */
typedef enum HashType {
  UNSUPPORTED_HASH = -1,
  MD5_TYPE = 1,
  SHA1_TYPE = 2,
  SHA256_TYPE = 3,
  SHA384_TYPE = 4,
  SHA512_TYPE = 5,
  SHA224_TYPE = 6,
  AESCMAC_TYPE = 7
} HashType;

#endif
