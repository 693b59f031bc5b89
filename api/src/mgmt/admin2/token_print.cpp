// Console printing of M-of-N tokens and of the token information the listing
// and inspection requests return. The records are read as the HSM sent them
// (big-endian); a record is printed only once it is known to lie inside the
// caller's buffer, and names never beyond their 32-byte field.
#include <cinttypes>
#include <cstdio>

#include "common/be_codec.h"
#include "qel2_admin2.h"

using namespace qel2;

namespace {

constexpr uint32_t kName = QEL2_TOKEN_NAME_FIELD;

// A fixed-width name field, printed up to its NUL or its end.
int name_len(const uint8_t *field) {
  int n = 0;
  while (n < static_cast<int>(kName) && field[n] != 0) ++n;
  return n;
}

int print_token(const uint8_t *t, int flag) {
  puts("Token:");
  printf("Id:%0x\n", be16_at(t));
  printf("Service:%0x\n", be16_at(t + 2));
  printf("Node:%d\n", static_cast<int>(be32_at(t + 4)));
  printf("Key Handle:%lld\n", static_cast<long long>(be64_at(t + 8)));
  int n = printf("User:%.*s\n", name_len(t + 32), reinterpret_cast<const char *>(t + 32));
  if (flag == 0) return n;
  const uint64_t c_time = be64_at(t + 64), a_time = be64_at(t + 72);
  if (c_time != 0) return printf("Token Validity: %lld sec\n", static_cast<long long>(c_time));
  if (a_time != 0) return printf("Token Validity: %lld sec\n", static_cast<long long>(a_time));
  return puts("Token Validity : 0 sec");
}

// Length of the record at off, or 0 when not even its head lies within size.
uint64_t record_len(const uint8_t *info, uint32_t size, uint64_t off) {
  if (off + QEL2_TOKEN_INFO_HEAD > size) return 0;
  return QEL2_TOKEN_INFO_HEAD + uint64_t{kName} * be16_at(info + off + 80);
}

void print_record(const uint8_t *r) {
  print_token(r, 1);
  const uint16_t approvals = be16_at(r + 80);
  printf("Required num of approvers : %u\n", be16_at(r + 82));
  printf("Current num of approvals : %u\n", approvals);
  for (int i = 0; i < approvals; ++i) {
    const uint8_t *name = r + QEL2_TOKEN_INFO_HEAD + size_t{kName} * static_cast<size_t>(i);
    printf("Approver-%d: %.*s\n", i, name_len(name), reinterpret_cast<const char *>(name));
  }
}

int size_message(uint64_t off, uint32_t ti_size) {
  return printf(" total size differs offset=%u and ti_size=%u\n", static_cast<unsigned>(off),
                ti_size);
}

}  // namespace

extern "C" {

QEL2_EXPORT int Qel2PrintToken(token_t *token, uint32_t tlen, int flag) {
  if (tlen > QEL2_TOKEN_SIZE)
    return printf("Multi token print is not supported by %s\n", "Qel2PrintToken");
  if (token == nullptr) return 0;
  return print_token(reinterpret_cast<const uint8_t *>(token), flag);
}

QEL2_EXPORT int Qel2PrintTokenInfo2(uint8_t *info, uint32_t ti_size, int num_tokens,
                                    Uint32 ulBeginIndex) {
  if (info == nullptr) return 0;
  uint64_t off = 0;
  for (int i = 0; i < num_tokens && off < ti_size; ++i) {
    const uint64_t len = record_len(info, ti_size, off);
    // A record running past the buffer ends the walk unprinted.
    if (len == 0 || off + len > ti_size) break;
    printf("-------- Token - %d ----------\n", static_cast<int>(ulBeginIndex + 1 + i));
    print_record(info + off);
    off += len;
  }
  if (off != ti_size) return size_message(off, ti_size);
  return static_cast<int>(ti_size);
}

QEL2_EXPORT int Qel2PrintTokenInfo(uint8_t *info, uint32_t ti_size, int num_tokens) {
  return Qel2PrintTokenInfo2(info, ti_size, num_tokens, 0);
}

QEL2_EXPORT int Qel2PrintTokenInfo3(uint8_t *info, uint32_t ti_size, int num_tokens,
                                    Uint32 ulBeginIndex) {
  if (info == nullptr) return static_cast<int>(ulBeginIndex);
  uint64_t off = 0;
  int number = static_cast<int>(ulBeginIndex);
  for (int i = 0; i < num_tokens; ++i, ++number) {
    const uint64_t len = record_len(info, ti_size, off);
    printf("offset: %d, len: %d, ti_size: %d, i: %d\n", static_cast<int>(off),
           static_cast<int>(len == 0 ? QEL2_TOKEN_INFO_HEAD : len), static_cast<int>(ti_size),
           number);
    if (len == 0 || off + len > ti_size) return number;
    printf("-------- Token - %d ----------\n", number);
    print_record(info + off);
    off += len;
  }
  if (off != ti_size) size_message(off, ti_size);
  return number;
}

}  // extern "C"
