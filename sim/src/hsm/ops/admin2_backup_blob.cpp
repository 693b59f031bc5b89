#include "hsm/ops/admin2_backup_blob.h"

#include <algorithm>
#include <cstring>

#include "hsm/engine/crypto.h"
#include "hsm/engine/secure.h"
#include "wire/be_codec.h"

namespace hsmsim::hsm::backup {

namespace {

constexpr uint8_t kMagic[4] = {'Q', 'B', 'K', '1'};
constexpr size_t kMaxItems = 4096;
constexpr size_t kMaxItemLen = 1u << 20;
constexpr size_t kMaxShared = 64;

std::vector<uint8_t> head(Kind k) {
  std::vector<uint8_t> h(kMagic, kMagic + 4);
  h.push_back(static_cast<uint8_t>(k));
  h.resize(kHeadLen, 0);
  return h;
}

// Short strings travel as a length byte and the bytes.
void put_str(wire::BeWriter &w, const std::string &s) {
  const size_t n = std::min<size_t>(s.size(), 255);
  w.u8(static_cast<uint8_t>(n)).bytes({reinterpret_cast<const uint8_t *>(s.data()), n});
}
std::string get_str(wire::BeReader &r) {
  const uint8_t n = r.u8();
  auto b = r.bytes(n);
  return std::string(b.begin(), b.end());
}

// Every parser ends here: all read, nothing left.
template <typename T>
std::optional<T> whole(const wire::BeReader &r, T v) {
  if (!r.ok() || r.remaining() != 0) return std::nullopt;
  return v;
}

}  // namespace

std::vector<uint8_t> seal(std::span<const uint8_t> kbk, Kind k, std::span<const uint8_t> plain) {
  if (kbk.size() != 32) return {};
  std::vector<uint8_t> out = head(k);
  uint8_t nonce[kNonceLen];
  engine::fill_random(nonce);
  engine::Bytes ct, tag;
  if (engine::gcm_encrypt("AES-256-GCM", kbk, nonce, out, plain, kTagLen, ct, tag) != 0) return {};
  out.insert(out.end(), nonce, nonce + kNonceLen);
  out.insert(out.end(), ct.begin(), ct.end());
  out.insert(out.end(), tag.begin(), tag.end());
  return out;
}

std::optional<std::vector<uint8_t>> open(std::span<const uint8_t> kbk, Kind k,
                                         std::span<const uint8_t> blob) {
  if (kbk.size() != 32 || blob.size() < kSealOverhead) return std::nullopt;
  const std::vector<uint8_t> want = head(k);
  if (!std::equal(want.begin(), want.end(), blob.begin())) return std::nullopt;
  auto nonce = blob.subspan(kHeadLen, kNonceLen);
  auto ct = blob.subspan(kHeadLen + kNonceLen, blob.size() - kSealOverhead);
  auto tag = blob.subspan(blob.size() - kTagLen);
  engine::Bytes plain;
  if (engine::gcm_decrypt("AES-256-GCM", kbk, nonce, blob.first(kHeadLen), ct, tag, plain) != 0)
    return std::nullopt;
  return std::vector<uint8_t>(plain.begin(), plain.end());
}

std::vector<uint8_t> user_bytes(const UserRecord &u) {
  if (u.name.empty() || u.name.size() > kNameField || u.password.size() > kPasswordField) return {};
  std::vector<uint8_t> out;
  wire::BeWriter w(out);
  w.u32(u.type).text(u.name, kNameField).u8(static_cast<uint8_t>(u.password.size()));
  w.bytes(u.password).zeros(kPasswordField - u.password.size());
  w.u32(u.failures).u8(u.locked ? 1 : 0);
  return out;
}

std::optional<UserRecord> user_from(std::span<const uint8_t> b) {
  wire::BeReader r(b);
  UserRecord u;
  u.type = r.u32();
  u.name = wire::field_text(r.bytes(kNameField));
  const uint8_t n = r.u8();
  auto pw = r.bytes(kPasswordField);
  u.failures = r.u32();
  u.locked = r.u8() != 0;
  if (!r.ok() || n > kPasswordField || u.name.empty()) return std::nullopt;
  u.password.assign(pw.begin(), pw.begin() + n);
  return whole(r, std::move(u));
}

namespace {

void put_settings(wire::BeWriter &w, const PartitionSettings &s) {
  w.u8(s.fips_state).u32(s.policy_bits).u16(s.max_users).u8(s.key_import).u8(s.key_export);
  w.u32(s.node_id).u8(static_cast<uint8_t>(s.m_values.size())).bytes(s.m_values);
  w.u32(static_cast<uint32_t>(s.c_timeout)).u32(static_cast<uint32_t>(s.a_timeout));
}

PartitionSettings get_settings(wire::BeReader &r) {
  PartitionSettings s;
  s.fips_state = r.u8();
  s.policy_bits = r.u32();
  s.max_users = r.u16();
  s.key_import = r.u8();
  s.key_export = r.u8();
  s.node_id = r.u32();
  auto m = r.bytes(r.u8());
  s.m_values.assign(m.begin(), m.end());
  s.c_timeout = static_cast<int32_t>(r.u32());
  s.a_timeout = static_cast<int32_t>(r.u32());
  return s;
}

}  // namespace

std::vector<uint8_t> partition_settings_bytes(const PartitionSettings &s) {
  std::vector<uint8_t> out;
  wire::BeWriter w(out);
  put_settings(w, s);
  return out;
}

std::optional<PartitionSettings> partition_settings_from(std::span<const uint8_t> b) {
  wire::BeReader r(b);
  PartitionSettings s = get_settings(r);
  return whole(r, std::move(s));
}

std::vector<uint8_t> hsm_config_bytes(const HsmConfig &c) {
  std::vector<uint8_t> out;
  wire::BeWriter w(out);
  w.u8(c.partition_entry ? 1 : 0);
  if (c.partition_entry) {
    put_str(w, c.name);
    put_settings(w, c.settings);
    return out;
  }
  put_str(w, c.label);
  put_str(w, c.group_id);
  w.u32(c.login_failure_count).u32(c.min_pswd).u32(c.max_pswd).u32(c.cloning).u32(c.kek_method);
  w.u8(c.flags).u8(c.cert_auth).u32(c.node_id);
  return out;
}

std::optional<HsmConfig> hsm_config_from(std::span<const uint8_t> b) {
  wire::BeReader r(b);
  HsmConfig c;
  const uint8_t entry = r.u8();
  if (entry > 1) return std::nullopt;
  c.partition_entry = entry == 1;
  if (c.partition_entry) {
    c.name = get_str(r);
    c.settings = get_settings(r);
    return whole(r, std::move(c));
  }
  c.label = get_str(r);
  c.group_id = get_str(r);
  c.login_failure_count = r.u32();
  c.min_pswd = r.u32();
  c.max_pswd = r.u32();
  c.cloning = r.u32();
  c.kek_method = r.u32();
  c.flags = r.u8();
  c.cert_auth = r.u8();
  c.node_id = r.u32();
  return whole(r, std::move(c));
}

std::vector<uint8_t> key_bytes(const KeyBlob &k) {
  std::vector<uint8_t> out;
  wire::BeWriter w(out);
  put_str(w, k.owner);
  w.u8(k.m_value).u8(static_cast<uint8_t>(std::min<size_t>(k.shared.size(), kMaxShared)));
  for (size_t i = 0; i < k.shared.size() && i < kMaxShared; ++i) put_str(w, k.shared[i]);
  w.u32(static_cast<uint32_t>(k.object.size())).bytes(k.object);
  return out;
}

std::optional<KeyBlob> key_from(std::span<const uint8_t> b) {
  wire::BeReader r(b);
  KeyBlob k;
  k.owner = get_str(r);
  k.m_value = r.u8();
  const uint8_t n = r.u8();
  if (n > kMaxShared) return std::nullopt;
  for (uint8_t i = 0; i < n && r.ok(); ++i) k.shared.push_back(get_str(r));
  const uint32_t len = r.u32();
  if (!r.ok() || !r.has(len)) return std::nullopt;
  auto o = r.bytes(len);
  k.object.assign(o.begin(), o.end());
  return whole(r, std::move(k));
}

std::vector<uint8_t> object_blob_bytes(const ObjectBlob &o) {
  std::vector<uint8_t> out;
  wire::BeWriter w(out);
  w.u8(o.object_class).u8(o.object_id).u32(static_cast<uint32_t>(o.items.size()));
  for (const auto &[name, data] : o.items) {
    put_str(w, name);
    w.u32(static_cast<uint32_t>(data.size())).bytes(data);
  }
  return out;
}

std::optional<ObjectBlob> object_blob_from(std::span<const uint8_t> b) {
  wire::BeReader r(b);
  ObjectBlob o;
  o.object_class = r.u8();
  o.object_id = r.u8();
  const uint32_t n = r.u32();
  if (!r.ok() || n > kMaxItems) return std::nullopt;
  for (uint32_t i = 0; i < n; ++i) {
    std::string name = get_str(r);
    const uint32_t len = r.u32();
    if (!r.ok() || len > kMaxItemLen || !r.has(len)) return std::nullopt;
    auto d = r.bytes(len);
    o.items.emplace_back(std::move(name), std::vector<uint8_t>(d.begin(), d.end()));
  }
  return whole(r, std::move(o));
}

}  // namespace hsmsim::hsm::backup
