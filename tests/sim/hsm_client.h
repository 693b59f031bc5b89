// Management requests to the stand-in HSM over a bare socket, with the
// command records laid out big-endian by hand.
#pragma once

#include <string>

#include "raw_client.h"

namespace simtest {

struct Be {
  std::vector<uint8_t> b;
  Be &u8(uint8_t v) {
    b.push_back(v);
    return *this;
  }
  Be &u16(uint16_t v) { return u8(uint8_t(v >> 8)).u8(uint8_t(v)); }
  Be &u32(uint32_t v) { return u16(uint16_t(v >> 16)).u16(uint16_t(v)); }
  Be &zeros(size_t n) {
    b.insert(b.end(), n, 0);
    return *this;
  }
  Be &text(const std::string &s, size_t field) {
    b.insert(b.end(), s.begin(), s.end());
    return zeros(field - s.size());
  }
  Be &bytes(const std::vector<uint8_t> &v) {
    b.insert(b.end(), v.begin(), v.end());
    return *this;
  }
  // CommandHeaderWithSession
  Be &session_header(uint32_t session, uint32_t flags = 0) {
    return u32(0).u32(0).u32(flags).u32(session).u32(0);
  }
  Be &nonce_header(uint32_t nonce) { return zeros(12).u32(nonce); }
};

inline uint32_t be32(const std::vector<uint8_t> &v, size_t off) {
  if (off + 4 > v.size()) return 0xDEADBEEF;
  return (uint32_t{v[off]} << 24) | (uint32_t{v[off + 1]} << 16) | (uint32_t{v[off + 2]} << 8) |
         v[off + 3];
}

struct Mgmt {
  uint32_t status = 0;  // request status
  uint32_t code = 0;    // response code
  uint64_t op_ctx = 0;  // the answer header's
  std::vector<uint8_t> payload;
};

class HsmClient {
 public:
  explicit HsmClient(const hsmsim::Daemon &d) : c_(d) {}
  RawClient &raw() { return c_; }

  Mgmt call(uint16_t opcode, std::vector<std::vector<uint8_t>> inputs,
            std::vector<uint32_t> outputs, uint32_t sess = 0, uint64_t op_ctx = 0,
            bool attest = false) {
    Request r;
    r.opcode = opcode;
    r.req_id = next_id_++;
    r.sess_handle = sess;
    r.op_ctx = op_ctx;
    r.attest = attest;
    r.inputs = std::move(inputs);
    r.outputs = std::move(outputs);
    auto reply = c_.call(r);
    Mgmt m;
    if (!reply) {
      m.status = m.code = 0xFFFFFFFF;
      return m;
    }
    m.status = reply->status;
    m.op_ctx = reply->op_ctx;
    m.payload = reply->payload;
    m.code = m.payload.size() >= 4 ? be32(m.payload, 0) : 0xFFFFFFFF;
    return m;
  }

  // Application initialise: {code, app id, nonce}
  struct App {
    uint32_t code, id, nonce;
  };
  App app_init(const std::string &partition) {
    auto m = call(146, {Be().nonce_header(0).text(partition, 16).b}, {20});
    return {m.code, be32(m.payload, 16), be32(m.payload, 4)};
  }
  uint32_t app_finalize(uint32_t app, uint32_t nonce) {
    return call(147, {Be().nonce_header(0).u32(app).u32(nonce).b}, {16}, app).code;
  }
  struct Open {
    uint32_t code, handle;
  };
  Open open_session(uint32_t app, uint32_t nonce, uint32_t flags = 2) {
    auto m = call(
        36, {Be().nonce_header(nonce).u32(flags).u16(1).u16(0).u32(0).u32(app).u8(0).zeros(3).b},
        {20}, app);
    return {m.code, be32(m.payload, 16)};
  }
  uint32_t login(uint32_t sess, uint32_t type, const std::string &name, const std::string &pw) {
    std::vector<uint8_t> pwb(pw.begin(), pw.end());
    auto cmd = Be().session_header(sess)
                   .u32(type)
                   .u32(uint32_t(name.size()))
                   .text(name, 32)
                   .u32(uint32_t(pw.size()))
                   .b;
    std::vector<std::vector<uint8_t>> in = {cmd};
    if (!pwb.empty()) in.push_back(pwb);
    in.push_back(std::vector<uint8_t>(356 - pwb.size(), 0));
    in.push_back({0});
    auto m = call(13, in, {16}, sess);
    return m.status ? m.status : m.code;
  }
  uint32_t logout(uint32_t sess) {
    return call(14, {Be().session_header(sess).b}, {16}, sess).code;
  }
  struct Info {
    uint32_t code, slot, state, flags;
  };
  Info session_info(uint32_t sess) {
    auto m = call(39, {Be().session_header(sess).b}, {32}, sess);
    return {m.code, be32(m.payload, 16), be32(m.payload, 20), be32(m.payload, 24)};
  }
  uint32_t close_session(uint32_t sess, uint32_t nonce) {
    return call(38, {Be().session_header(sess, nonce).b}, {16}, sess).code;
  }
  Mgmt fail_count(uint32_t sess, uint32_t type, const std::string &name) {
    return call(254, {Be().u32(type).text(name, 32).b}, {16}, sess);
  }
  Mgmt partition_info(uint32_t sess, const std::string &name) {
    return call(162, {Be().session_header(sess).text(name, 16).b}, {264}, sess);
  }

 private:
  RawClient c_;
  uint32_t next_id_ = 0x40000000;
};

}  // namespace simtest
