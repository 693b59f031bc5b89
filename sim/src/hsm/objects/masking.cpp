#include "hsm/objects/masking.h"

#include <string.h>

#include "hsm/engine/crypto.h"
#include "hsm/objects/codes.h"
#include "wire/be_codec.h"

namespace hsmsim::hsm::obj {

namespace {

// Serialised object, big-endian:
//   "HSMO", version 1, flags (bit 0: user info), 2 zero bytes,
//   body length (the bytes after this field, before the padding),
//   handle (64 bits), owner (32), M value (8), user count (8), users (16 each),
//   attribute count (32), then type (32), size (32) and kept value of each,
//   key material length (32) and bytes, public data length (32) and bytes,
//   zero bytes up to a multiple of 16 (so the wrap is 8 more than that).
constexpr uint8_t kMagic[4] = {'H', 'S', 'M', 'O'};
constexpr uint8_t kVersion = 1;
constexpr uint8_t kUserInfo = 1;
constexpr size_t kHeadSize = 12;

struct Wiped {
  std::vector<uint8_t> v;
  ~Wiped() {
    if (!v.empty()) explicit_bzero(v.data(), v.size());
  }
};

// One AES-256 key wrap with padding, either way; none on failure.
bool wrap_pad(bool encrypt, std::span<const uint8_t> key, std::span<const uint8_t> in,
              std::vector<uint8_t> &out) {
  if (key.size() != 32 || in.empty() || in.size() > (1u << 24)) return false;
  return engine::cipher("AES-256-WRAP-PAD", key, {}, encrypt, false, in, out) == 0;
}

void serialise(const Object &o, bool user_info, std::vector<uint8_t> &out) {
  wire::BeWriter w(out);
  w.bytes(kMagic).u8(kVersion).u8(user_info ? kUserInfo : 0).u16(0).u32(0);
  w.u64(o.handle);
  w.u32(user_info ? o.owner : 0).u8(user_info ? o.m_value : 0);
  w.u8(user_info ? static_cast<uint8_t>(o.users.size()) : 0);
  if (user_info)
    for (uint16_t u : o.users) w.u16(u);
  w.u32(static_cast<uint32_t>(o.attrs.size()));
  for (const auto &[type, kept] : o.attrs)
    w.u32(type).u32(static_cast<uint32_t>(kept.size())).bytes(kept);
  w.u32(static_cast<uint32_t>(o.key.size())).bytes(o.key.bytes());
  w.u32(static_cast<uint32_t>(o.public_data.size())).bytes(o.public_data);
  w.u32_at(8, static_cast<uint32_t>(out.size() - kHeadSize));
  w.zeros((16 - out.size() % 16) % 16);
}

bool kept_size_ok(Kind kind, size_t n) {
  switch (kind) {
    case Kind::Flag:
    case Kind::Small:
      return n == 1;
    case Kind::Number:
      return n == 4;
    case Kind::Secret:
    case Kind::Derived:
      return false;
    default:
      return true;
  }
}

bool read_attrs(wire::BeReader &r, Object &o) {
  uint32_t n = r.u32();
  for (uint32_t i = 0; i < n && r.ok(); ++i) {
    uint32_t type = r.u32();
    uint32_t size = r.u32();
    if (!r.ok() || !r.has(size)) return false;
    auto v = r.bytes(size);
    if (type != attr::kVendorDefined && !attr_info(type)) return false;
    if (!kept_size_ok(kind_of(type), size) || o.attrs.count(type)) return false;
    o.attrs.emplace(type, std::vector<uint8_t>(v.begin(), v.end()));
  }
  return r.ok();
}

bool deserialise(std::span<const uint8_t> plain, Unmasked &out) {
  wire::BeReader r(plain);
  auto magic = r.bytes(4);
  uint8_t version = r.u8();
  uint8_t flags = r.u8();
  r.u16();
  uint32_t body = r.u32();
  if (!r.ok() || memcmp(magic.data(), kMagic, 4) != 0 || version != kVersion) return false;
  if (body > r.remaining()) return false;
  wire::BeReader b(plain.subspan(kHeadSize, body));
  Unmasked u;
  u.user_info = (flags & kUserInfo) != 0;
  Object &o = u.object;
  o.handle = b.u64();
  o.owner = b.u32();
  o.m_value = b.u8();
  uint8_t users = b.u8();
  if (users > kMaxShares || o.m_value > users + 1) return false;
  for (uint8_t i = 0; i < users; ++i) o.users.push_back(b.u16());
  if (!read_attrs(b, o)) return false;
  uint32_t key_len = b.u32();
  auto key = b.bytes(key_len);
  uint32_t pub_len = b.u32();
  auto pub = b.bytes(pub_len);
  if (!b.ok() || b.remaining() != 0) return false;
  uint8_t cls = o.key_class();
  if (cls < key_class::kPublic || cls > key_class::kSecret || !o.get(attr::kKeyType)) return false;
  o.key = Secret(std::vector<uint8_t>(key.begin(), key.end()));
  o.public_data.assign(pub.begin(), pub.end());
  out = std::move(u);
  return true;
}

}  // namespace

std::optional<std::vector<uint8_t>> mask_object(const Object &o, bool user_info,
                                                std::span<const uint8_t> key) {
  Wiped plain;
  serialise(o, user_info, plain.v);
  std::vector<uint8_t> masked;
  if (!wrap_pad(true, key, plain.v, masked)) return std::nullopt;
  return masked;
}

uint32_t unmask_object(std::span<const uint8_t> masked, std::span<const uint8_t> key,
                       Unmasked &out) {
  Wiped plain;
  if (masked.size() < 24 || !wrap_pad(false, key, masked, plain.v)) return rc::kRestoreConsistency;
  return deserialise(plain.v, out) ? rc::kOk : rc::kRestoreConsistency;
}

std::vector<uint8_t> object_bytes(const Object &o, bool user_info) {
  std::vector<uint8_t> out;
  serialise(o, user_info, out);
  return out;
}

uint32_t object_from_bytes(std::span<const uint8_t> plain, Unmasked &out) {
  return deserialise(plain, out) ? rc::kOk : rc::kRestoreConsistency;
}

}  // namespace hsmsim::hsm::obj
