// What the stand-in's fuzzers share: management requests handed straight to
// an Hsm, and an application with a session (its officer or crypto user
// logged in) to aim at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <hsmsim/hsm.h>

#include "wire/be_codec.h"

namespace simfuzz {

inline uint32_t be32(const std::vector<uint8_t> &v, size_t off) {
  hsmsim::wire::BeReader r(v);
  r.skip(off);
  return r.u32();
}

inline hsmsim::HsmRequest mgmt(uint16_t opcode, std::span<const uint8_t> input,
                               std::vector<uint32_t> outs, uint32_t sess) {
  hsmsim::HsmRequest q;
  q.opcode = opcode;
  if (!input.empty()) q.inputs.push_back(input);
  q.output_sizes = std::move(outs);
  q.session_handle = sess;
  return q;
}

struct Session {
  uint32_t app = 0, nonce = 0, handle = 0;
};

// Application initialise for a partition, then a read-write session of it.
inline Session open_session(hsmsim::Hsm &hsm, const std::string &partition = "PARTITION_1") {
  Session s;
  std::vector<uint8_t> init;
  hsmsim::wire::BeWriter(init).zeros(16).text(partition, 16);
  auto a = hsm.execute(mgmt(146, init, {20}, 0));
  s.app = be32(a.payload, 16);
  s.nonce = be32(a.payload, 4);
  std::vector<uint8_t> open;
  hsmsim::wire::BeWriter(open).zeros(12).u32(s.nonce).u32(2).u16(1).u16(0).u32(0).u32(s.app).u32(0);
  s.handle = be32(hsm.execute(mgmt(36, open, {20}, s.app)).payload, 16);
  return s;
}

// Application and session of a partition, its officer logged in.
inline uint32_t officer(hsmsim::Hsm &hsm, const std::string &partition, const std::string &name,
                        const std::string &pswd) {
  const uint32_t sess = open_session(hsm, partition).handle;
  std::vector<uint8_t> login;
  hsmsim::wire::BeWriter(login)
      .zeros(12)
      .u32(sess)
      .u32(0)
      .u32(2)
      .u32(static_cast<uint32_t>(name.size()))
      .text(name, 32)
      .u32(static_cast<uint32_t>(pswd.size()))
      .text(pswd, pswd.size());
  hsm.execute(mgmt(13, login, {16}, sess));
  return sess;
}

// A session of PARTITION_1 with the seeded crypto user logged in.
inline uint32_t crypto_user(hsmsim::Hsm &hsm) {
  const uint32_t sess = open_session(hsm).handle;
  const std::string pw = hsmsim::defaults::kUserPassword;
  std::vector<uint8_t> rec;
  hsmsim::wire::BeWriter w(rec);
  w.zeros(12).u32(sess).u32(0).u32(1).u32(11).text(hsmsim::defaults::kUserName, 32);
  w.u32(static_cast<uint32_t>(pw.size())).text(pw, 356).u8(0);
  hsm.execute(mgmt(13, rec, {16}, sess));
  return sess;
}

}  // namespace simfuzz
