#include "hsm/ops/crypto_engine.h"

#include <atomic>

#include "hsm/objects/access.h"
#include "hsm/ops/table.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm::crypto {

namespace {
std::atomic<bool> g_strict{true};

uint64_t be64(std::span<const uint8_t> b) {
  uint64_t v = 0;
  for (size_t i = 0; i < 8 && i < b.size(); ++i) v = v << 8 | b[i];
  return v;
}
}  // namespace

void set_strict(bool on) { g_strict.store(on, std::memory_order_relaxed); }
bool strict() { return g_strict.load(std::memory_order_relaxed); }

bool RawCall::session() {
  obj::Actor a;
  if (uint32_t r = obj::actor_of(st_, c_.req.session_handle, a)) return fail(r);
  partition_ = a.partition;
  user_ = a.user;
  actor_ = a;
  return true;
}

obj::Object *RawCall::key(std::span<const uint8_t> seg, std::initializer_list<uint8_t> types) {
  if (seg.size() != 8) return fail(ec::kBadRecord), nullptr;
  // The segment is big-endian, the descriptor's copy host order: a swapped
  // handle in either shows here.
  if (strict() && be64(seg) != c_.req.key_handle) return fail(ec::kBadDsivParam), nullptr;
  obj::Object *o = nullptr;
  if (uint32_t r = obj::object_for(st_, actor_, be64(seg), obj::Right::Use, o))
    return fail(r), nullptr;
  for (uint8_t t : types)
    if (o->key_type() == t) return o;
  return fail(ec::kKeyTypeInconsistent), nullptr;
}

bool RawCall::padded(std::span<const uint8_t> seg, size_t meaningful) {
  if (!strict()) return true;
  for (size_t i = meaningful; i < seg.size(); ++i)
    if (seg[i] != 0) return fail(ec::kBadPadLen);
  return true;
}

bool RawCall::sha2_iv(uint16_t hash_type, std::span<const uint8_t> iv) {
  const std::vector<uint8_t> want = sha2_iv_bytes(hash_type);
  if (iv.size() != want.size()) return fail(ec::kBadRecord);
  if (strict() && !std::equal(iv.begin(), iv.end(), want.begin())) return fail(ec::kBadDsivParam);
  return true;
}

const EVP_MD *md_of(uint16_t t) {
  switch (t) {
    case 1:
      return EVP_md5();
    case 2:
      return EVP_sha1();
    case 3:
      return EVP_sha256();
    case 4:
      return EVP_sha384();
    case 5:
      return EVP_sha512();
    case 6:
      return EVP_sha224();
    default:
      return nullptr;
  }
}

std::vector<uint8_t> sha2_iv_bytes(uint16_t t) {
  static constexpr uint64_t k384[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17,
                                       0x152fecd8f70e5939, 0x67332667ffc00b31, 0x8eb44a8768581511,
                                       0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
  static constexpr uint64_t k512[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                       0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                       0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
  std::vector<uint8_t> out;
  auto put = [&](uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  if (t == 4)
    for (uint64_t h : k384) put(h, 8);
  if (t == 5)
    for (uint64_t h : k512) put(h, 8);
  if (t == 6)  // SHA-224: the low halves of SHA-384's words
    for (uint64_t h : k384) put(h & 0xFFFFFFFF, 4);
  return out;
}

void add_dma_pair(HandlerTable &t, uint16_t command_type, uint16_t op, Handler h) {
  t.add(command_type, op, h);
  t.add(command_type, static_cast<uint16_t>(op | 0x80), h);
}

}  // namespace hsmsim::hsm::crypto
