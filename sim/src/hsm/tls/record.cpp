#include "hsm/tls/record.h"

#include <algorithm>

#include "hsm/codes.h"
#include "hsm/engine/crypto.h"
#include "hsm/engine/secure.h"

namespace hsmsim::hsm::tls {

namespace {

void wipe(Bytes &b) { engine::wipe(b); }

// seq || type || version || length, the head of the MAC input and the GCM AAD.
Bytes pseudo_header(const RecordKind &k, In seq, uint8_t type, size_t len) {
  Bytes h(seq.begin(), seq.end());
  const uint16_t v = wire_version(k.version);
  h.push_back(type);
  h.push_back(static_cast<uint8_t>(v >> 8));
  h.push_back(static_cast<uint8_t>(v));
  h.push_back(static_cast<uint8_t>(len >> 8));
  h.push_back(static_cast<uint8_t>(len));
  return h;
}

bool mac_of(const RecordKind &k, const WriteState &w, In seq, uint8_t type, In data, Bytes &mac) {
  Bytes in = pseudo_header(k, seq, type, data.size());
  in.insert(in.end(), data.begin(), data.end());
  return engine::hmac(k.mac_md(), w.mac_key, in, mac) == 0;
}

// CBC without padding over whole blocks.
bool cbc(const Suite &s, In key, In iv, bool enc, In in, Bytes &out) {
  return engine::cipher(s.evp, key, iv, enc, false, in, out) == 0 && out.size() == in.size();
}

bool stream(WriteState &w, In in, Bytes &out) {
  out.resize(in.size());
  if (in.empty()) return true;
  return w.stream && w.stream->update(in, out);
}

Bytes cat(In a, In b) {
  Bytes out(a.begin(), a.end());
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

}  // namespace

WriteState::~WriteState() {
  wipe(mac_key);
  wipe(key);
  wipe(iv);
}

Bytes seq_bytes(uint64_t seq) {
  Bytes b(8);
  for (int i = 7; i >= 0; --i, seq >>= 8) b[static_cast<size_t>(i)] = static_cast<uint8_t>(seq);
  return b;
}

bool install(const RecordKind &k, In kb, WriteState &client, WriteState &server) {
  const Suite &s = *k.suite;
  if (kb.size() != k.key_block_len()) return false;
  size_t pos = 0;
  auto take = [&](size_t n) {
    Bytes b(kb.begin() + static_cast<std::ptrdiff_t>(pos),
            kb.begin() + static_cast<std::ptrdiff_t>(pos + n));
    pos += n;
    return b;
  };
  client = WriteState{};
  server = WriteState{};
  client.mac_key = take(k.mac_len());
  server.mac_key = take(k.mac_len());
  client.key = take(s.key_len);
  server.key = take(s.key_len);
  client.iv = take(s.fixed_iv);
  server.iv = take(s.fixed_iv);
  if (s.mode != Mode::Stream) return true;
  for (WriteState *w : {&client, &server}) {
    w->stream = std::make_unique<engine::RunningCipher>(s.evp, w->key, true);
    if (!w->stream->ok()) return false;
  }
  return true;
}

uint32_t protect(const RecordKind &k, WriteState &w, uint8_t type, In seq, In explicit_iv,
                 In fragment, size_t pad_blocks, Bytes &body) {
  const Suite &s = *k.suite;
  const bool eiv = tls::explicit_iv(k.version) && s.explicit_iv > 0;
  if (eiv && explicit_iv.size() != s.explicit_iv) return code::kBadLength;
  body.clear();
  if (s.mode == Mode::Gcm) {
    const Bytes nonce = cat(w.iv, explicit_iv);
    Bytes ct, tag;
    if (uint32_t r =
            engine::gcm_encrypt(s.evp, w.key, nonce, pseudo_header(k, seq, type, fragment.size()),
                                fragment, 16, ct, tag))
      return r;
    body = cat(explicit_iv, ct);
    body.insert(body.end(), tag.begin(), tag.end());
    return code::kOk;
  }
  Bytes mac;
  if (!mac_of(k, w, seq, type, fragment, mac)) return code::kError;
  Bytes plain = cat(fragment, mac);
  wipe(mac);
  if (s.mode == Mode::Stream) {
    const bool ok = stream(w, plain, body);
    wipe(plain);
    return ok ? code::kOk : code::kError;
  }
  const size_t pad = s.block - plain.size() % s.block + pad_blocks * s.block;
  if (pad > 256) return wipe(plain), code::kBadPadLen;
  plain.insert(plain.end(), pad, static_cast<uint8_t>(pad - 1));
  Bytes ct;
  const bool ok = cbc(s, w.key, eiv ? explicit_iv : In(w.iv), true, plain, ct);
  wipe(plain);
  if (!ok) return code::kError;
  if (!eiv) w.iv.assign(ct.end() - static_cast<std::ptrdiff_t>(s.block), ct.end());
  body = eiv ? cat(explicit_iv, ct) : std::move(ct);
  return code::kOk;
}

uint32_t unprotect(const RecordKind &k, WriteState &w, uint8_t type, In seq, In explicit_iv,
                   In body, Bytes &out) {
  const Suite &s = *k.suite;
  const bool eiv = tls::explicit_iv(k.version) && s.explicit_iv > 0;
  if (eiv && explicit_iv.size() != s.explicit_iv) return code::kBadLength;
  out.clear();
  if (s.mode == Mode::Gcm) {
    if (body.size() < 16) return code::kBadLength;
    const size_t n = body.size() - 16;
    const Bytes nonce = cat(w.iv, explicit_iv);
    if (engine::gcm_decrypt(s.evp, w.key, nonce, pseudo_header(k, seq, type, n), body.first(n),
                            body.last(16), out))
      return out.clear(), code::kBadHmacDigest;
    return code::kOk;
  }
  const size_t mac_len = k.mac_len();
  size_t data_len = 0;
  if (s.mode == Mode::Stream) {
    if (body.size() < mac_len) return code::kBadLength;
    if (!stream(w, body, out)) return code::kError;
    data_len = body.size() - mac_len;
  } else {
    if (body.empty() || body.size() % s.block != 0 || body.size() < mac_len + 1)
      return code::kBadLength;
    if (!cbc(s, w.key, eiv ? explicit_iv : In(w.iv), false, body, out)) return code::kError;
    if (!eiv) w.iv.assign(body.end() - static_cast<std::ptrdiff_t>(s.block), body.end());
    const uint8_t p = out.back();
    if (size_t{p} + 1 + mac_len > out.size()) return code::kBadHmacDigest;
    for (size_t i = out.size() - p - 1; i < out.size(); ++i)
      if (out[i] != p) return code::kBadHmacDigest;
    data_len = out.size() - p - 1 - mac_len;
  }
  Bytes mac;
  In data(out.data(), data_len);
  if (!mac_of(k, w, seq, type, data, mac)) return code::kError;
  const bool good = engine::equal_ct(mac, In(out).subspan(data_len, mac_len));
  wipe(mac);
  return good ? code::kOk : code::kBadHmacDigest;
}

}  // namespace hsmsim::hsm::tls
