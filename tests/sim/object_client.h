// Object-store requests to the stand-in HSM over a bare socket: commands laid
// out big-endian by hand, plus a logged-in session to send them from.
#pragma once

#include <string>

#include "hsm_client.h"

namespace simtest {

inline Be &u64(Be &b, uint64_t v) { return b.u32(uint32_t(v >> 32)).u32(uint32_t(v)); }
inline uint64_t be64(const std::vector<uint8_t> &v, size_t off) {
  return (uint64_t{be32(v, off)} << 32) | be32(v, off + 4);
}
inline std::vector<uint8_t> bytes(const std::string &s) { return {s.begin(), s.end()}; }

// A template built attribute by attribute, in the library's wire form.
struct Tmpl {
  std::vector<uint8_t> b;
  uint32_t count = 0;
  Tmpl &raw(uint32_t type, const std::vector<uint8_t> &v) {
    Be x;
    x.u32(type).u32(uint32_t(v.size())).bytes(v);
    b.insert(b.end(), x.b.begin(), x.b.end());
    ++count;
    return *this;
  }
  Tmpl &num(uint32_t type, uint32_t v) { return raw(type, bytes(std::to_string(v) + "\n")); }
  Tmpl &flag(uint32_t type, bool v) { return raw(type, {uint8_t(v ? '1' : '0'), 0}); }
  Tmpl &users(std::vector<uint16_t> ids) {
    Be x;
    x.text("users:", 8);
    for (auto u : ids) x.u16(u);
    return raw(0x80000000, x.b);
  }
  Tmpl &sessions(std::vector<uint32_t> s) {
    Be x;
    x.text("sessns:", 8).u8(uint8_t(s.size()));
    for (auto h : s) x.u32(h);
    return raw(0x80000000, x.b);
  }
  Tmpl &m_value(uint32_t m) { return raw(0x80000000, Be().text("m_value:", 8).u32(m).b); }
  // The Object head in front of it, as requests and nested templates carry it.
  std::vector<uint8_t> object() const {
    auto h = Be().u32(0).u32(count).u32(uint32_t(b.size() + 12)).b;
    h.insert(h.end(), b.begin(), b.end());
    return h;
  }
};

using Answer = Mgmt;

class ObjectClient {
 public:
  explicit ObjectClient(const hsmsim::Daemon &d) : c_(d) {}
  HsmClient &hsm() { return c_; }

  // An application of the partition, a session, and the user logged in on it.
  uint32_t login_session(const std::string &user, const std::string &password, uint32_t type = 1,
                         const std::string &partition = hsmsim::defaults::kPartition) {
    auto a = c_.app_init(partition);
    auto s = c_.open_session(a.id, a.nonce);
    nonce_[s.handle] = a.nonce;
    if (c_.login(s.handle, type, user, password) != 0) return 0;
    return s.handle;
  }
  uint32_t nonce(uint32_t session) { return nonce_[session]; }

  Answer call(uint16_t opcode, std::vector<std::vector<uint8_t>> inputs,
              std::vector<uint32_t> outputs, uint32_t sess, uint64_t op_ctx = 0,
              bool attest = false) {
    return c_.call(opcode, std::move(inputs), std::move(outputs), sess, op_ctx, attest);
  }

  // Session header, a reserved word, the handle.
  static std::vector<uint8_t> handle_cmd(uint32_t sess, uint64_t h, uint32_t common = 0) {
    Be b;
    b.u32(0).u32(0).u32(0).u32(sess).u32(common).u32(0);
    return u64(b, h).b;
  }

  Answer get_attr(uint32_t sess, uint64_t h, uint32_t type, uint32_t room) {
    Be b;
    b.bytes(handle_cmd(sess, h)).u32(type);
    std::vector<uint32_t> out = {20};
    if (room) out.push_back(room);
    return call(room ? 19 : 20, {b.b}, out, sess);
  }
  // The value of one attribute (empty on failure).
  std::vector<uint8_t> attr(uint32_t sess, uint64_t h, uint32_t type) {
    auto a = get_attr(sess, h, type, 1024);
    if (a.code != 0) return {};
    uint32_t len = be32(a.payload, 16);
    return {a.payload.begin() + 20, a.payload.begin() + 20 + len};
  }
  Answer get_all(uint32_t sess, uint64_t h, uint32_t room) {
    std::vector<uint32_t> out = {20};
    if (room) out.push_back(room);
    return call(room ? 34 : 33, {handle_cmd(sess, h)}, out, sess);
  }
  uint32_t set_attr(uint32_t sess, uint64_t h, uint32_t type, const std::vector<uint8_t> &v) {
    auto cmd = Be().bytes(handle_cmd(sess, h)).u32(type).u32(uint32_t(v.size())).b;
    return call(21, {cmd, v}, {16}, sess).code;
  }
  uint32_t simple(uint16_t opcode, uint32_t sess, uint64_t h) {
    return call(opcode, {handle_cmd(sess, h)}, {16}, sess).code;
  }

  // A search by template: its answer; handles from offset 24.
  Answer find(uint16_t opcode, uint32_t sess, const Tmpl &t, uint32_t room_handles,
              uint32_t index = 0, uint64_t op_ctx = 0, uint32_t partition = 1) {
    Be b;
    if (opcode == 205)
      b.u32(index).u32(0);
    else
      u64(b, index);
    b.u32(0).u32(sess).u32(partition);
    std::vector<uint32_t> out = {24};
    if (room_handles) out.push_back(room_handles * 8);
    return call(opcode, {b.b, Be().u32(0).u32(t.count).u32(uint32_t(t.b.size() + 12)).b, t.b}, out,
                sess, op_ctx);
  }
  static std::vector<uint64_t> handles(const Answer &a) {
    std::vector<uint64_t> out;
    for (size_t off = 24; off + 8 <= a.payload.size(); off += 8)
      out.push_back(be64(a.payload, off));
    return out;
  }

 private:
  HsmClient c_;
  std::map<uint32_t, uint32_t> nonce_;
};

}  // namespace simtest
