// HSM initialisation and control: the board configuration as the two
// parsers lay it out, their refusals before any traffic, the control
// records, and real digests over the partition's key handles.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <unistd.h>
#include <cstdio>

#include <algorithm>
#include <fstream>
#include <functional>
#include <vector>

#include "admin_fixture.h"
#include "layout.h"
#include "qel2_admin.h"
#include "qel2_attributes.h"

using namespace admin_test;
using hsmsim::ObjectAttr;
using hsmsim::ObjectSeed;

namespace {

constexpr size_t kCfg = 20;  // the configuration's offset in the command

class HsmAdmin : public AdminTest {
 protected:
  void SetUp() override {
    AdminTest::SetUp();
    session_ = admin_session();
  }
  // The configuration bytes of the last initialise request.
  std::vector<uint8_t> sent_config() {
    auto m = sent_requests(d(), KQ_INIT_TOKEN);
    EXPECT_FALSE(m.empty());
    if (m.empty()) return {};
    EXPECT_EQ(std::vector<uint16_t>{212}, m.back().in_sizes());
    auto b = m.back().body();
    return std::vector<uint8_t>(b.begin() + kCfg, b.begin() + kCfg + 160);
  }
  Uint32 pairs(std::vector<const char *> p) {
    return Qel2InitHSMNew(session_, const_cast<char **>(p.data()), static_cast<Uint32>(p.size()));
  }
  Uint32 file(const std::string &text) {
    const std::string path = "/tmp/qel2_admin_cfg_" + std::to_string(getpid());
    std::ofstream(path) << text;
    Uint32 r = Qel2InitHSM(session_, reinterpret_cast<Int8 *>(const_cast<char *>(path.c_str())));
    std::remove(path.c_str());
    return r;
  }
  static std::string text_at(const std::vector<uint8_t> &c, size_t off) {
    return reinterpret_cast<const char *>(c.data() + off);
  }
  Uint32 session_ = 0;
};

TEST_F(HsmAdmin, PairFormStartingValuesAndRules) {
  char *none[1] = {nullptr};
  Qel2InitHSMNew(session_, none, 0);  // no pairs: the starting values
  auto c = sent_config();
  ASSERT_EQ(160u, c.size());
  EXPECT_EQ(2u, be32(c, 0));    // FIPS state
  EXPECT_EQ(0, c[31]);          // flags
  EXPECT_EQ(20u, be32(c, 32));  // login failures
  EXPECT_EQ(1u, be32(c, 36));
  EXPECT_EQ(1u, be32(c, 40));
  EXPECT_EQ(0u, be32(c, 44));
  EXPECT_EQ(32u, be32(c, 52));
  EXPECT_EQ(7u, be32(c, 56));
  EXPECT_EQ(1u, be32(c, 60));  // cloning
  EXPECT_EQ("group0", text_at(c, 64));
  EXPECT_EQ("ostrel", text_at(c, 96));
  auto body = sent_requests(d(), KQ_INIT_TOKEN).back().body();
  EXPECT_EQ(session_ & 0x3FFFFFFF, be32(body, 12));
  // The built-in group password: ten characters, then zeros.
  for (size_t i = 180; i < 190; ++i) EXPECT_NE(0, body[i]) << i;
  for (size_t i = 190; i < 212; ++i) EXPECT_EQ(0, body[i]) << i;

  const std::string label49(49, 'L');
  pairs({"node_id",
         "1193046",
         "cloning",
         "4",
         "m_value",
         "3",
         "cloning",
         "5",
         "backup_by_mco",
         "1",
         "block_delete_user",
         "3",
         "hsm_audit_log",
         "1",
         "cert_auth",
         "257",
         "kek_method",
         "2",
         "group_id",
         "a_group_id_longer_than_31_characters",
         "label",
         label49.c_str(),
         "fips_state",
         "3",
         "login_fail_count",
         " -1"});
  c = sent_config();
  EXPECT_EQ(0x23456u, be32(c, 156));  // node id masked to 20 bits
  EXPECT_EQ(5u, be32(c, 60));
  EXPECT_EQ(0x07, c[31]);
  EXPECT_EQ(1, c[152]);
  EXPECT_EQ(2u, be32(c, 148));
  EXPECT_EQ(std::string("a_group_id_longer_than_31_chara"), text_at(c, 64));
  EXPECT_EQ(label49, text_at(c, 96));
  EXPECT_EQ(3u, be32(c, 0));
  EXPECT_EQ(0xFFFFFFFFu, be32(c, 32));
}

TEST_F(HsmAdmin, FileFormRules) {
  file("");
  auto c = sent_config();
  EXPECT_EQ(std::vector<uint8_t>(c.begin(), c.begin() + 96), std::vector<uint8_t>(96, 0));
  EXPECT_EQ("ostrel", text_at(c, 96));
  EXPECT_EQ(0u, be32(c, 156));

  file("# comment\n\ncloning=4\ncloning=6\nnode_id=1193046\nlabel=" + std::string(60, 'x') +
       "\nm_value=2\nfips_state=2\n");
  c = sent_config();
  EXPECT_EQ(6u, be32(c, 60));
  EXPECT_EQ(0x123456u, be32(c, 156));  // all 32 bits
  EXPECT_EQ(std::string(49, 'x'), text_at(c, 96));
  EXPECT_EQ(2u, be32(c, 0));

  file("label=with cr\r\n");
  EXPECT_EQ("with cr\r", text_at(sent_config(), 96));
}

TEST_F(HsmAdmin, InitialisationRefusedBeforeAnyTraffic) {
  const std::string label50(50, 'L');
  std::vector<const char *> with_null = {"cloning", nullptr};
  struct Case {
    const char *what;
    std::function<Uint32()> call;
    Uint32 code;
  } cases[] = {
      {"null pairs", [&] { return Qel2InitHSMNew(session_, nullptr, 0); }, ERR_INVALID_INPUT},
      {"odd count",
       [&] {
         return pairs({"cloning", "1", "label"});
       },
       ERR_INVALID_INPUT},
      {"null value", [&] { return pairs(with_null); }, ERR_INVALID_INPUT},
      {"fips 1",
       [&] {
         return pairs({"fips_state", "1"});
       },
       ERR_INVALID_INPUT},
      {"fips 02",
       [&] {
         return pairs({"fips_state", "02"});
       },
       ERR_INVALID_INPUT},
      {"fips blank 2",
       [&] {
         return pairs({"fips_state", " 2"});
       },
       ERR_INVALID_INPUT},
      {"unknown name",
       [&] {
         return pairs({"Cloning", "1"});
       },
       ERR_INVALID_INPUT},
      {"label of 50",
       [&] {
         return pairs({"label", label50.c_str()});
       },
       ERR_INVALID_INPUT},
      {"null record", [&] { return Qel2InitHSMNimbrel(session_, nullptr); }, ERR_INVALID_INPUT},
      {"null file name", [&] { return Qel2InitHSM(session_, nullptr); }, ERR_INVALID_INPUT},
      {"no such file",
       [&] {
         return Qel2InitHSM(
             session_,
             reinterpret_cast<Int8 *>(const_cast<char *>("/tmp/qel2-admin-no-such-file/x.cfg")));
       },
       ERR_OPEN_FILE},
      {"line without =", [&] { return file("cloning=1\nlabel\n"); }, ERR_INVALID_INPUT},
      {"unknown name in a file", [&] { return file("colour=blue\n"); }, ERR_INVALID_INPUT},
      {"bad fips in a file", [&] { return file("fips_state=1\n"); }, ERR_INVALID_INPUT},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.code, c.call());
  }
  EXPECT_EQ(0u, sent_count(d()));
}

TEST_F(HsmAdmin, SetHsmConfigOnlyChecks) {
  hsmConfigArgs a{0xC1234567, 1, 1};
  EXPECT_EQ(0u, Qel2SetHSMConfig(&a));
  EXPECT_EQ(0x01234567u, a.ulSessionHandle);
  EXPECT_EQ(1u, a.ulHsmConfigType);
  hsmConfigArgs wrong_type{5, 2, 1}, wrong_value{5, 1, 0};
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2SetHSMConfig(&wrong_type));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2SetHSMConfig(&wrong_value));
  EXPECT_EQ(5u, wrong_value.ulSessionHandle);
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2SetHSMConfig(nullptr));
  EXPECT_EQ(0u, sent_count(d()));
}

TEST_F(HsmAdmin, ControlRecordsAsSent) {
  Uint8 hash[64];
  Qel2SetNodeId(session_, 0xABCDEF12);
  Qel2GetPartnKeyHandlesHash(session_, SHA384_TYPE, hash);
  Qel2GetPartnKeyHandlesHash(session_, AESCMAC_TYPE, hash);
  Qel2GetPartnKeyHandlesHash(session_, static_cast<HashType>(9), hash);
  Qel2GetPartnSingleKeyHandleHash(session_, 0x0000001200000034ull, SHA1_TYPE, hash);
  Qel2SetSlaveConfig(session_, 0x12345);

  auto n = sent_requests(d(), KQ_SET_NODEID);
  ASSERT_EQ(1u, n.size());
  EXPECT_EQ(std::vector<uint16_t>{24}, n[0].in_sizes());
  EXPECT_EQ(0xABCDEF12u, be32(n[0].body(), 20));
  auto all = sent_requests(d(), KQ_ADMIN_GET_PARTN_KEYHANDLES_HASH);
  ASSERT_EQ(3u, all.size());
  EXPECT_EQ(std::vector<uint16_t>{24}, all[0].in_sizes());
  EXPECT_EQ(4, all[0].body()[20]);
  EXPECT_EQ((std::vector<uint16_t>{16, 48}), all[0].out_sizes());
  EXPECT_EQ(64, all[0].rlen);
  EXPECT_EQ(std::vector<uint16_t>{16}, all[1].out_sizes());
  EXPECT_EQ(std::vector<uint16_t>{16}, all[2].out_sizes());
  auto one = sent_requests(d(), KQ_GET_PARTN_SINGLE_KEYHANDLE_HASH);
  ASSERT_EQ(1u, one.size());
  EXPECT_EQ(std::vector<uint16_t>{40}, one[0].in_sizes());
  EXPECT_EQ(0x12u, be32(one[0].body(), 24));  // the whole 64-bit handle
  EXPECT_EQ(0x34u, be32(one[0].body(), 28));
  EXPECT_EQ(2, one[0].body()[32]);
  EXPECT_EQ((std::vector<uint16_t>{16, 20}), one[0].out_sizes());
  auto slave = sent_requests(d(), KQ_SLAVE_CONFIG);
  ASSERT_EQ(1u, slave.size());
  EXPECT_EQ(0, slave[0].incnt);
  EXPECT_EQ(0, slave[0].outcnt);
  EXPECT_EQ(0x2345, slave[0].param2);

  d().clear_captured();
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2GetPartnKeyHandlesHash(session_, SHA256_TYPE, nullptr));
  EXPECT_EQ(ERR_INVALID_INPUT, Qel2GetPartnSingleKeyHandleHash(session_, 1, SHA256_TYPE, nullptr));
  EXPECT_EQ(0u, sent_count(d()));
}

// The requests whose command is the session header alone, and the end of
// initialisation, which has no command at all. Each is refused by a
// scripted answer, so none takes effect.
TEST_F(HsmAdmin, HeaderOnlyRequestsAsSent) {
  const Uint32 s = admin_session(1), masked = s & 0x3FFFFFFF;
  ASSERT_NE(s, masked);  // device bits set: the header shows which handle is sent
  Uint32 n = 0;
  Uint8 sign[QEL2_AUDIT_SIGN_LEN];
  const std::vector<uint16_t> ops = {KQ_SHUTDOWN, KQ_ZEROIZE, KQ_PARTN_GET_AUDIT_DETAILS,
                                     KQ_PARTN_GET_AUDIT_SIGN, KQ_INIT_DONE};
  for (uint16_t op : ops) d().script(KQ_MGMT_CMD, op, payload(resp(RET_USER_PERMISION_DENIED)));
  // The command record: 12 zero bytes, the masked session, then 0.
  const std::vector<LayoutRow::Field> record = {{0, 0, 8}, {8, 0}, {12, masked}, {16, 0}};
  // One input segment (the record) and one output segment: their sizes are
  // also the descriptor's lengths and parameters.
  auto row = [&](const char *name, uint16_t opcode, uint16_t out, std::function<uint32_t()> call) {
    return LayoutRow{.name = name,
                     .call = std::move(call),
                     .opcode = opcode,
                     .param1 = 20,
                     .param2 = out,
                     .dlen = 20,
                     .rlen = out,
                     .ins = {20},
                     .outs = {out},
                     .fields = record};
  };
  expect_layout(
      d(),
      {row("shutdown", KQ_SHUTDOWN, 16, [&] { return Qel2ShutdownHSM(s); }),
       row("zeroise", KQ_ZEROIZE, 16, [&] { return Qel2ZeroizeHSM(s); }),
       row("audit log info", KQ_PARTN_GET_AUDIT_DETAILS, 20,
           [&] { return Qel2GetAuditLogInfo(s, &n); }),
       row("audit log signature", KQ_PARTN_GET_AUDIT_SIGN, 16 + QEL2_AUDIT_SIGN_LEN,
           [&] { return Qel2GetAuditLogSign(s, sign); }),
       {.name = "end of initialisation",
        .call = [&] { return Qel2InitHSMDone(s); },
        .opcode = KQ_INIT_DONE,
        .param1 = 0,
        .param2 = 16,
        .dlen = 0,
        .rlen = 16,
        .ins = {},
        .outs = {16}}},
      {.result = RET_USER_PERMISION_DENIED, .command_type = 0, .timeout = 120, .session = masked});
  d().clear_scripts();
}

std::vector<uint8_t> host_digest(const char *md, const std::vector<uint64_t> &handles) {
  std::vector<uint8_t> data;
  for (uint64_t h : handles)
    for (int i = 7; i >= 0; --i) data.push_back(static_cast<uint8_t>(h >> (8 * i)));
  std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
  size_t len = 0;
  EXPECT_EQ(1, EVP_Q_digest(nullptr, md, nullptr, data.data(), data.size(), out.data(), &len));
  out.resize(len);
  return out;
}

TEST_F(HsmAdmin, DigestsOverTheSortedHandles) {
  std::vector<uint64_t> handles;
  for (const char *label : {"k1", "k2", "k3"}) {
    ObjectSeed s;
    s.attributes = {
        ObjectAttr::number(OBJ_ATTR_CLASS, 4), ObjectAttr::number(OBJ_ATTR_KEY_TYPE, 31),
        ObjectAttr::text(OBJ_ATTR_LABEL, label), ObjectAttr::number(OBJ_ATTR_VALUE_LEN, 32)};
    auto r = d().hsm().seed_object(s);
    ASSERT_EQ(0u, r.code);
    handles.push_back(r.handle);
  }
  std::sort(handles.begin(), handles.end());
  Uint32 s1 = officer_session();
  const struct {
    HashType type;
    const char *md;
  } types[] = {{SHA256_TYPE, "SHA256"},
               {SHA512_TYPE, "SHA512"},
               {SHA1_TYPE, "SHA1"},
               {SHA224_TYPE, "SHA224"}};
  for (const auto &t : types) {
    SCOPED_TRACE(t.md);
    std::vector<uint8_t> want = host_digest(t.md, handles);
    std::vector<uint8_t> got(want.size());
    ASSERT_EQ(0u, Qel2GetPartnKeyHandlesHash(s1, t.type, got.data()));
    EXPECT_EQ(want, got);
    ASSERT_EQ(0u, Qel2GetPartnSingleKeyHandleHash(s1, handles[1], t.type, got.data()));
    EXPECT_EQ(host_digest(t.md, {handles[1]}), got);
  }
  Uint8 none[4] = {9, 9, 9, 9};
  EXPECT_EQ(RET_INVALID_INPUT, Qel2GetPartnKeyHandlesHash(s1, AESCMAC_TYPE, none));
  EXPECT_EQ(9, none[0]);
  Uint8 h[32];
  EXPECT_EQ(RET_INVALID_OBJ_HANDLE, Qel2GetPartnSingleKeyHandleHash(s1, 12345678, SHA256_TYPE, h));
}

TEST_F(HsmAdmin, NodeIdSlaveConfigAndShutdownShowInTheHsm) {
  ASSERT_EQ(0u, Qel2SetNodeId(session_, 0x777));
  ASSERT_EQ(0u, Qel2SetSlaveConfig(session_, 0x12345));
  HSMInfo info;
  ASSERT_EQ(0u, Qel2GetHSMInfo2(session_, &info));
  EXPECT_EQ(0x2345u, be32(std::vector<uint8_t>(reinterpret_cast<uint8_t *>(&info),
                                               reinterpret_cast<uint8_t *>(&info + 1)),
                          192));
  PartitionInfo p;
  ASSERT_EQ(0u, Qel2GetPartitionInfo(session_, u8(defaults::kPartition), 11, &p));
  EXPECT_EQ(0x777u, be32(std::vector<uint8_t>(reinterpret_cast<uint8_t *>(&p),
                                              reinterpret_cast<uint8_t *>(&p + 1)),
                         96));
  // Officers of other partitions do not control the HSM.
  Uint32 s1 = officer_session();
  EXPECT_EQ(RET_USER_PERMISION_DENIED, Qel2SetNodeId(s1, 1));
  EXPECT_EQ(RET_USER_PERMISION_DENIED, Qel2SetSlaveConfig(s1, 1));
  EXPECT_EQ(RET_USER_PERMISION_DENIED, Qel2ZeroizeHSM(s1));
  EXPECT_EQ(RET_USER_PERMISION_DENIED, Qel2ShutdownHSM(s1));
  // Shutting down ends every session; the library keeps its connections.
  ASSERT_EQ(0u, Qel2ShutdownHSM(session_));
  SessionInfo si;
  EXPECT_EQ(RET_INVALID_SESSION, Qel2GetSessionInfo(s1, &si));
}

}  // namespace
