#include "hsm/ops/crypto_engine.h"

#include <algorithm>
#include <atomic>

#include "hsm/codes.h"
#include "hsm/objects/access.h"
#include "hsm/objects/object.h"
#include "hsm/ops/crypto_key.h"
#include "hsm/records.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm::crypto {

namespace {
std::atomic<bool> g_strict{true};
}  // namespace

void set_strict(bool on) { g_strict.store(on, std::memory_order_relaxed); }
bool strict() { return g_strict.load(std::memory_order_relaxed); }

bool RawCall::session() {
  obj::Actor a;
  if (uint32_t r = obj::actor_of(st_, c_.req.session_handle & kSessionMask, a)) return fail(r);
  partition_ = a.partition;
  return true;
}

bool RawCall::key(size_t seg, std::initializer_list<uint8_t> types, engine::Key &out) {
  uint64_t handle = 0;
  if (!c_.key_handle(seg, handle)) return fail(code::kBadRecord);
  // Big-endian in the segment, host order in the descriptor: a swapped
  // handle in either shows here.
  if (strict() && handle != c_.req.key_handle) return fail(code::kBadDsivParam);
  const obj::Object *o = nullptr;
  if (!crypto_key(st_, c_, seg, out, &o)) return false;
  partition_ = o->partition;
  if (std::find(types.begin(), types.end(), o->key_type()) == types.end())
    return fail(code::kKeyTypeInconsistent);
  return true;
}

bool RawCall::padded(std::span<const uint8_t> seg, size_t meaningful) {
  if (!strict()) return true;
  for (size_t i = meaningful; i < seg.size(); ++i)
    if (seg[i] != 0) return fail(code::kBadPadLen);
  return true;
}

bool RawCall::sha2_iv(uint32_t hash_type, std::span<const uint8_t> iv) {
  const engine::Bytes want = sha2_iv_bytes(hash_type);
  if (iv.size() != want.size()) return fail(code::kBadRecord);
  if (strict() && !std::equal(iv.begin(), iv.end(), want.begin())) return fail(code::kBadDsivParam);
  return true;
}

engine::Bytes sha2_iv_bytes(uint32_t t) {
  static constexpr uint64_t k384[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17,
                                       0x152fecd8f70e5939, 0x67332667ffc00b31, 0x8eb44a8768581511,
                                       0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
  static constexpr uint64_t k512[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                       0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                       0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
  engine::Bytes out;
  auto put = [&](uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  if (t == 4)
    for (uint64_t h : k384) put(h, 8);
  if (t == 5)
    for (uint64_t h : k512) put(h, 8);
  if (t == 6)  // SHA-224's words are the low halves of SHA-384's
    for (uint64_t h : k384) put(h & 0xFFFFFFFF, 4);
  return out;
}

}  // namespace hsmsim::hsm::crypto
