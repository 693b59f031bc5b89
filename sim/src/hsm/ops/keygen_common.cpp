#include "hsm/ops/keygen_common.h"

#include <algorithm>

namespace hsmsim::hsm::keygen {

namespace rc = obj::rc;
namespace attr = obj::attr;

KeygenHead read_keygen_head(HsmState &st, wire::BeReader &r) {
  KeygenHead k;
  k.head = objop::read_head(st, r);
  k.want_attrs = ((k.head.h.common_flags >> 8) & 0xF) != 0;
  return k;
}

uint32_t read_template(wire::BeReader &r, obj::ParsedTemplate &out) {
  r.u32();
  r.u32();  // the count: the template reader counts for itself
  const uint32_t size = r.u32();
  if (!r.ok() || size < 12 || !r.has(size - 12)) return rc::kInvalidInput;
  return obj::parse_template(r.bytes(size - 12), obj::Purpose::Create, out);
}

uint32_t store_object(HsmState &st, const obj::Actor &actor, const obj::ParsedTemplate &t,
                      obj::Material m, uint64_t &handle,
                      void (*finish)(obj::Object &, const void *), const void *finish_arg) {
  obj::Object o;
  const obj::Creator creator{actor.partition, actor.user, actor.session};
  if (uint32_t code = obj::build_object(st, creator, t, std::move(m), o)) return code;
  if (finish) finish(o, finish_arg);
  handle = st.objects.add(std::move(o));
  return handle ? rc::kOk : rc::kMaxObjectsReached;
}

namespace {

void put_key_info(wire::BeWriter &w, const obj::Object *o) {
  if (!o) {
    w.zeros(336);
    return;
  }
  auto bytes_of = [&](uint32_t type, size_t width) {
    std::vector<uint8_t> v(width, 0);
    if (const auto *a = o->get(type))
      std::copy_n(a->begin(), std::min(width, a->size()), v.begin());
    w.bytes(v);
  };
  const auto *mod = o->get(attr::kModulus);
  const auto *exp = o->get(attr::kPublicExponent);
  w.u64(o->handle);
  w.u32(o->number(attr::kModulusBits).value_or(0));
  w.u32(mod ? static_cast<uint32_t>(mod->size()) : 0);
  w.u32(o->number(attr::kVendorDefined).value_or(0));
  w.u32(o->number(attr::kValueLen).value_or(static_cast<uint32_t>(o->key.bytes().size())));
  w.u8(o->key_class()).u8(o->key_type());
  for (uint32_t f :
       {attr::kWrap, attr::kUnwrap, attr::kPrivate, attr::kEncrypt, attr::kDecrypt, attr::kSign,
        attr::kVerify, attr::kLocal, attr::kSensitive, attr::kExtractable})
    w.u8(o->flag(f) ? 1 : 0);
  w.u8(0);  // status
  w.u8(static_cast<uint8_t>(o->sessions.size())).u8(static_cast<uint8_t>(o->users.size()));
  bytes_of(attr::kLabel, 128);
  bytes_of(attr::kId, 128);
  w.u8(o->tombstoned ? 1 : 0);
  w.u32(exp ? static_cast<uint32_t>(exp->size()) : 0).u32(o->m_value).u32(0);
  for (size_t i = 0; i < 8; ++i) w.u16(i < o->users.size() ? o->users[i] : 0);
  bytes_of(attr::kKcv, 8);
  w.u32(0);
}

}  // namespace

std::vector<uint8_t> keygen_attestation(HsmState &st, uint16_t opcode,
                                        std::span<const uint64_t> handles) {
  // One handle: the secret key (key 1). Two: public (key 1) and private (key 2).
  const obj::Object *first = handles.size() > 0 ? st.objects.find(handles[0]) : nullptr;
  const obj::Object *second = handles.size() > 1 ? st.objects.find(handles[1]) : nullptr;
  std::vector<uint8_t> rec;
  wire::BeWriter w(rec);
  w.u32(opcode).u32(0);
  w.u64(second ? second->handle : first ? first->handle : 0);
  w.u64(second && first ? first->handle : 0);
  put_key_info(w, first);
  put_key_info(w, second);
  auto key = st.objects.attestation_key();
  for (uint8_t block = 0; rec.size() < kKeyGenAttestSize; ++block) {
    std::vector<uint8_t> in{block};
    in.insert(in.end(), rec.begin(), rec.begin() + 696);
    engine::Bytes mac;
    if (engine::hmac("SHA256", key, in, mac) != 0)
      mac.assign(32, 0);  // zeros: an attestation that never verifies
    rec.insert(rec.end(), mac.begin(), mac.end());
  }
  rec.resize(kKeyGenAttestSize);
  return rec;
}

void answer_new(HsmState &st, Call &c, bool want_attrs, std::span<const uint64_t> handles,
                size_t extra, bool attestation_in_record) {
  std::vector<uint8_t> attest;
  if (c.req.attest || attestation_in_record) attest = keygen_attestation(st, c.req.opcode, handles);
  std::vector<uint8_t> rec = std_response(rc::kOk);
  wire::BeWriter w(rec);
  for (uint64_t h : handles) w.u64(h);
  if (attestation_in_record && c.req.attest && extra >= attest.size()) {
    w.bytes(attest);
    extra -= attest.size();
  }
  w.zeros(extra);
  c.respond(std::move(rec));
  if (want_attrs && objop::data_segments(c) > 1) {
    std::vector<uint8_t> data;
    for (uint64_t h : handles)
      if (const obj::Object *o = st.objects.find(h)) {
        auto one = obj::all_attributes_data(*o);
        data.insert(data.end(), one.begin(), one.end());
      }
    // Cut to the segment: the heads tell the caller how much there was.
    data.resize(std::min<size_t>(data.size(), c.out.capacity(1)));
    c.out.segment(1) = std::move(data);
  }
  const size_t n = c.out.count();
  if (c.req.attest && n > 1 && c.out.capacity(n - 1) >= kKeyGenAttestSize) {
    for (size_t i = 0; i + 1 < n; ++i) c.out.segment(i).resize(c.out.capacity(i), 0);
    c.out.segment(n - 1) = std::move(attest);
  }
}

}  // namespace hsmsim::hsm::keygen

namespace hsmsim::hsm {

void add_keygen_ops(HandlerTable &t) {
  keygen::add_keygen_secret_ops(t);
  keygen::add_keygen_pair_ops(t);
  keygen::add_keygen_public_ops(t);
  keygen::add_keygen_derive_ops(t);
}

}  // namespace hsmsim::hsm
