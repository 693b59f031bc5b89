// Careless callers: null pointers, lengths of 0xFFFFFFFF, lengths that wrap
// when summed and strings without a terminator, through the exported
// functions. Each row must give a clear status without a crash (ASan runs
// this suite); a refused argument sends nothing to the daemon. Caller
// buffers are heap blocks exactly as long as stated.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "mgmt/objects/objects_internal.h"
#include "qel2.h"
#include "sim_fixture.h"
#include "wire.h"

namespace {

using mgmt_test::kHsmSession;
using mgmt_test::payload;
using mgmt_test::resp;

constexpr uint32_t kS = kHsmSession;
constexpr uint64_t kKey = 0x1234;
constexpr uint32_t kBig = 0xFFFFFFFFu;
constexpr uint32_t kAny = 0xA11A11u;  // any non-zero status
constexpr uint32_t kNone = 0;         // the call returns a pointer: null expected
constexpr uint32_t kEither = 0xE17E;  // any status: the row is about reading no further

// A heap block of exactly n bytes (the string rows have no terminator).
struct Exact {
  uint8_t *p;
  explicit Exact(size_t n, uint8_t fill = 'a') : p(static_cast<uint8_t *>(malloc(n ? n : 1))) {
    memset(p, fill, n ? n : 1);
  }
  ~Exact() { free(p); }
};

enum class Sends { kNothing, kMay };

struct Row {
  const char *name;
  std::function<uint32_t()> call;
  uint32_t expected;  // kAny: any non-zero status
  Sends sends = Sends::kNothing;
};

void PrintTo(const Row &r, std::ostream *os) { *os << r.name; }

// A pointer-returning call as a status: 0 when it returned null.
template <class T>
uint32_t null_or_one(T *p) {
  free(p);
  return p ? 1u : 0u;
}

// A search for a secret AES key by ID and label, room for 4 handles.
uint32_t find_key(const Uint8 *id, Uint32 id_len, const Uint8 *label, Uint32 label_len) {
  Uint64 keys[4];
  Uint32 n = 4;
  return Qel2FindKey(kS, 0, OBJ_CLASS_SECRET_KEY, KEY_TYPE_AES, 1, nullptr, 0, nullptr, 0, id,
                     id_len, label, label_len, nullptr, 0, 0, keys, &n);
}

std::vector<Row> rows() {
  static Uint8 name[] = "crypto_user";
  static Uint8 pswd[16] = {1};
  return {
      // ---- start-up and sessions ----
      {"Initialize3_null_partition",
       [] {
         Uint32 app;
         return Qel2Initialize3(0, OSTREL_DIRECT, nullptr, &app);
       },
       ERR_INVALID_INPUT},
      {"Initialize3_null_app_id",
       [] { return Qel2Initialize3(0, OSTREL_DIRECT, "PARTITION_1", nullptr); }, ERR_INVALID_INPUT},
      {"Initialize3_device_out_of_range",
       [] {
         Uint32 app;
         return Qel2Initialize3(QEL2_MAX_DEVICES, OSTREL_DIRECT, "PARTITION_1", &app);
       },
       ERR_INVALID_INPUT},
      {"OpenSession2_null_handle", [] { return Qel2OpenSession2(0x00054000, nullptr); }, kAny},
      {"GetSessionInfo_null_info", [] { return Qel2GetSessionInfo(kS, nullptr); }, kAny},
      {"GetSessionInfo2_null_response",
       [] {
         Uint32 rid;
         return Qel2GetSessionInfo2(kS, nullptr, OSTREL_BLOCKING, &rid);
       },
       kAny},
      {"GetSessionInfo2_speed_type_without_request_id",
       [] {
         GetSessionInfoResponse r;
         return Qel2GetSessionInfo2(kS, &r, OSTREL_SPEED, nullptr);
       },
       ERR_ARGUMENTS_BAD, Sends::kNothing},
      {"ClosePartitionSessions_null_name",
       [] { return Qel2ClosePartitionSessions(kS, nullptr, 5); }, kAny},

      // ---- login ----
      {"LoginHSM_null_name",
       [] { return Qel2LoginHSM(kS, KQ_CRYPTO_USER, nullptr, 5, pswd, sizeof pswd); }, kAny},
      {"LoginHSM_null_password",
       [] { return Qel2LoginHSM(kS, KQ_CRYPTO_USER, name, 11, nullptr, 16); }, kAny},
      {"LoginHSM_name_len_max",
       [] { return Qel2LoginHSM(kS, KQ_CRYPTO_USER, name, kBig, pswd, sizeof pswd); }, kAny},
      {"LoginHSM_password_len_max",
       [] { return Qel2LoginHSM(kS, KQ_CRYPTO_USER, name, 11, pswd, kBig); }, kAny},
      {"LoginHSM_lengths_wrap",
       [] { return Qel2LoginHSM(kS, KQ_CRYPTO_USER, name, 0xFFFFFFF0u, pswd, 0x20); }, kAny},
      {"GetLoginFailureCount_null_count",
       [] { return Qel2GetLoginFailureCount(kS, KQ_CRYPTO_USER, name, 11, nullptr); }, kAny},
      {"GetLoginFailureCount_null_name",
       [] {
         Uint32 n;
         return Qel2GetLoginFailureCount(kS, KQ_CRYPTO_USER, nullptr, 11, &n);
       },
       kAny},
      {"GetLoginFailureCount_name_len_max",
       [] {
         Uint32 n;
         return Qel2GetLoginFailureCount(kS, KQ_CRYPTO_USER, name, kBig, &n);
       },
       kAny},
      {"GetLoginFailureCount_unterminated_name",
       [] {
         Exact n(11);
         Uint32 fails;
         return Qel2GetLoginFailureCount(kS, KQ_CRYPTO_USER, n.p, 11, &fails);
       },
       0, Sends::kMay},

      // ---- information ----
      {"GetHSMInfo2_null_info", [] { return Qel2GetHSMInfo2(kS, nullptr); }, kAny},
      {"GetPartitionInfo_null_info", [] { return Qel2GetPartitionInfo(kS, name, 11, nullptr); },
       kAny},
      {"GetPartitionInfo_name_len_max",
       [] {
         PartitionInfo info;
         return Qel2GetPartitionInfo(kS, name, kBig, &info);
       },
       kAny},
      {"GetPartitionInfo_unterminated_name",
       [] {
         Exact n(11);
         PartitionInfo info;
         return Qel2GetPartitionInfo(kS, n.p, 11, &info);
       },
       0, Sends::kMay},
      {"FWVersion_null_buffer",
       [] {
         Uint32 len = 64;
         return Qel2FWVersion(kS, nullptr, &len);
       },
       kAny},
      {"FWVersion_null_length",
       [] {
         Uint8 v[64];
         return Qel2FWVersion(kS, v, nullptr);
       },
       kAny},

      // ---- key objects ----
      {"GetKeyInfo_null_outputs",
       [] {
         return Qel2GetKeyInfo(kS, kKey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
       },
       kAny},
      {"ShareKey_null_sessions_with_count",
       [] {
         const Uint16 users[1] = {1};
         return Qel2ShareKey(kS, kKey, 1, nullptr, 3, users, 1, nullptr);
       },
       kAny},
      {"ShareKey_null_users_with_count",
       [] {
         const Uint32 sessions[1] = {1};
         return Qel2ShareKey(kS, kKey, 1, sessions, 1, nullptr, 2, nullptr);
       },
       kAny},
      {"ExtractMaskedObject_null_length",
       [] {
         Uint8 buf[64];
         return Qel2ExtractMaskedObject(kS, kKey, OBJ_CLASS_SECRET_KEY, buf, nullptr);
       },
       kAny},
      {"InsertMaskedObject_null_object",
       [] {
         Uint64 h;
         return Qel2InsertMaskedObject(kS, &h, nullptr, 24, OBJ_CLASS_SECRET_KEY);
       },
       kAny},
      {"InsertMaskedObject_null_handle",
       [] {
         Exact obj(24);
         return Qel2InsertMaskedObject(kS, nullptr, obj.p, 24, OBJ_CLASS_SECRET_KEY);
       },
       kAny},
      {"InsertMaskedObject_length_max",
       [] {
         Exact obj(24);
         Uint64 h;
         return Qel2InsertMaskedObject(kS, &h, obj.p, kBig, OBJ_CLASS_SECRET_KEY);
       },
       kAny},
      {"InsertMaskedObjectWithUserInfo_length_max",
       [] {
         Exact obj(24);
         Uint64 h;
         return Qel2InsertMaskedObjectWithUserInfo(kS, &h, obj.p, kBig, 0, nullptr);
       },
       kAny},
      {"ExportPublicKey_null_length",
       [] {
         Uint8 buf[64];
         return Qel2ExportPublicKey(kS, kKey, buf, nullptr);
       },
       kAny},
      {"ExportRSAPublicKeyPlain_null_outputs",
       [] { return Qel2ExportRSAPublicKeyPlain(kS, kKey, nullptr, nullptr, nullptr); }, kAny},

      // ---- attributes ----
      {"GetAttribute_null_length",
       [] {
         Uint8 buf[64];
         return Qel2GetAttribute(kS, kKey, OBJ_ATTR_LABEL, buf, nullptr);
       },
       kAny},
      {"GetAttribute2_attested_length_max_small_buffer",
       [] {
         // A caller that overstates its attested buffer cannot be caught;
         // one whose own output is too large for any attested answer can.
         Exact buf(64), att(512);
         Uint32 len = kBig, alen = kBig;
         return Qel2GetAttribute2(kS, kKey, OBJ_ATTR_LABEL, buf.p, &len, att.p, &alen, nullptr);
       },
       kAny},
      {"GetAllAttributes_null_length",
       [] {
         Uint8 buf[64];
         return Qel2GetAllAttributes(kS, kKey, buf, nullptr);
       },
       kAny},
      {"SetAttribute_null_value",
       [] { return Qel2SetAttribute(kS, kKey, OBJ_ATTR_LABEL, nullptr, 4); }, kAny},
      {"SetAttribute_length_max",
       [] {
         Exact v(8);
         return Qel2SetAttribute(kS, kKey, OBJ_ATTR_LABEL, v.p, kBig);
       },
       kAny},
      {"SetAttribute_unterminated_label",
       [] {
         Exact v(5);
         return Qel2SetAttribute(kS, kKey, OBJ_ATTR_LABEL, v.p, 5);
       },
       kEither, Sends::kMay},

      // ---- search ----
      {"FindKey_null_outputs",
       [] {
         return Qel2FindKey(kS, 0, OBJ_CLASS_SECRET_KEY, KEY_TYPE_AES, 1, nullptr, 0, nullptr, 0,
                            nullptr, 0, nullptr, 0, nullptr, 0, 0, nullptr, nullptr);
       },
       kAny},
      {"FindKey_null_id_with_length", [] { return find_key(nullptr, 4, nullptr, 0); }, kAny},
      {"FindKey_label_len_max",
       [] {
         Exact label(8);
         return find_key(nullptr, 0, label.p, kBig);
       },
       kAny},
      {"FindKey_id_and_label_lengths_wrap",
       [] {
         Exact id(8), label(0x10);
         return find_key(id.p, 0xFFFFFFF8u, label.p, 0x10);
       },
       kAny},
      {"FindKey_unterminated_reserved_label",
       [] {
         Exact label(6);
         memcpy(label.p, "PUBLIC", 6);
         return find_key(nullptr, 0, label.p, 6);
       },
       ERR_BAD_LABEL},
      {"FindKey_unterminated_label",
       [] {
         Exact label(3);
         return find_key(nullptr, 0, label.p, 3);
       },
       0, Sends::kMay},
      {"FindKeyPkcs_null_template",
       [] {
         Uint64 keys[4];
         Uint32 n = 4;
         return Qel2FindKeyPkcs(kS, 0, 16, nullptr, keys, &n);
       },
       kAny},
      {"FindKeyPkcs_template_size_max",
       [] {
         Exact t(16, 0);
         Uint64 keys[4];
         Uint32 n = 4;
         return Qel2FindKeyPkcs(kS, 0, kBig, t.p, keys, &n);
       },
       kAny},
      {"FindKeyFromIndexAsCountTemplate_size_max",
       [] {
         Exact t(16, 0);
         Uint64 keys[4];
         Uint32 n = 4;
         return Qel2FindKeyFromIndexAsCountTemplate(kS, 0, t.p, kBig, 1, keys, &n, nullptr,
                                                    nullptr);
       },
       kAny},
      {"FindAllKeys_null_count", [] { return Qel2FindAllKeys(kS, 5, nullptr); }, kAny},
      {"FindAllKeysFromIndex_null_outputs",
       [] { return Qel2FindAllKeysFromIndex(kS, 0, 5, nullptr, nullptr, nullptr); }, kAny},

      // ---- templates ----
      {"SetTemplate3_null_sessions_with_count",
       [] {
         Uint32 size, count;
         static const Uint8 label[] = "k";
         return null_or_one(SetTemplate3(0, TEMPLATE_MODE_KEY_GEN, OBJ_CLASS_SECRET_KEY,
                                         KEY_TYPE_AES, STORAGE_RAM, nullptr, 3, nullptr, 0, 0,
                                         nullptr, 0, label, 1, nullptr, 0, 32, 0, nullptr, 0, 0, 0,
                                         0, nullptr, 0, nullptr, 1, nullptr, &size, &count));
       },
       kNone},
      {"SetTemplate3_id_and_label_lengths_wrap",
       [] {
         Uint32 size, count;
         Exact id(8), label(0x10);
         return null_or_one(SetTemplate3(0, TEMPLATE_MODE_KEY_GEN, OBJ_CLASS_SECRET_KEY,
                                         KEY_TYPE_AES, 1, nullptr, 0, nullptr, 0, 0, id.p,
                                         0xFFFFFFF8u, label.p, 0x10, nullptr, 0, 32, 0, nullptr, 0,
                                         0, 0, 0, nullptr, 0, nullptr, 1, nullptr, &size, &count));
       },
       kNone},
      {"SetTemplate3_label_len_max",
       [] {
         Uint32 size, count;
         Exact label(8);
         return null_or_one(SetTemplate3(0, TEMPLATE_MODE_KEY_GEN, OBJ_CLASS_SECRET_KEY,
                                         KEY_TYPE_AES, 1, nullptr, 0, nullptr, 0, 0, nullptr, 0,
                                         label.p, kBig, nullptr, 0, 32, 0, nullptr, 0, 0, 0, 0,
                                         nullptr, 0, nullptr, 1, nullptr, &size, &count));
       },
       kNone},
      {"SetTemplate_wrap_template_len_max",
       [] {
         Uint32 size, count;
         static const Uint8 label[] = "k";
         Exact wrap(12, 0);
         extendedTemplateArgs ext{};
         ext.pWrapTemplate = wrap.p;
         ext.ulWrapTemplateLen = kBig;
         ext.ucDerive = 2;
         return null_or_one(SetTemplate3(0, TEMPLATE_MODE_KEY_GEN, OBJ_CLASS_SECRET_KEY,
                                         KEY_TYPE_AES, 1, nullptr, 0, nullptr, 0, 0, nullptr, 0,
                                         label, 1, nullptr, 0, 32, 0, nullptr, 0, 0, 0, 0, nullptr,
                                         0, nullptr, 1, &ext, &size, &count));
       },
       kNone},
      {"get_attribute_template_null_template",
       [] { return null_or_one<Attribute>(get_attribute_template(nullptr, OBJ_ATTR_LABEL, 64)); },
       kNone},
      {"get_attribute_template_size_wraps",
       [] {
         // One attribute whose stated size wraps the offset past the end.
         Exact t(16, 0);
         const uint8_t head[8] = {0, 0, 0, 3, 0xFF, 0xFF, 0xFF, 0xFC};
         memcpy(t.p, head, 8);
         Attribute *a = get_attribute_template(t.p, OBJ_ATTR_LABEL, 16);
         return a ? 1u : 0u;
       },
       kNone},
      {"UpdateAttribute_null_template",
       [] {
         Uint8 v[4] = {};
         return static_cast<uint32_t>(UpdateAttribute(nullptr, 64, OBJ_ATTR_LABEL, v, 4));
       },
       kAny},
      {"UpdateAttribute_value_len_max",
       [] {
         Exact t(16, 0);
         const uint8_t head[8] = {0, 0, 0, 3, 0, 0, 0, 8};
         memcpy(t.p, head, 8);
         Exact v(8);
         return static_cast<uint32_t>(UpdateAttribute(t.p, 16, OBJ_ATTR_LABEL, v.p, kBig));
       },
       kAny},
      {"validateTemplateFromUser2_null_template",
       [] {
         Uint32 n;
         return validateTemplateFromUser2(16, nullptr, &n, TEMPLATE_MODE_CREATE);
       },
       kAny},
      {"validateTemplateFromUser2_null_count",
       [] {
         Exact t(16, 0);
         return validateTemplateFromUser2(16, t.p, nullptr, TEMPLATE_MODE_CREATE);
       },
       kAny},
      {"validateTemplateFromUser2_attribute_size_wraps",
       [] {
         Exact t(16, 0);
         const uint8_t head[8] = {0, 0, 0, 3, 0xFF, 0xFF, 0xFF, 0xFC};
         memcpy(t.p, head, 8);
         Uint32 n;
         return validateTemplateFromUser2(16, t.p, &n, TEMPLATE_MODE_CREATE);
       },
       kAny},
      {"validate_wrap_unwrap_template_obj_size_max",
       [] {
         Exact obj(12, 0);
         const uint8_t head[12] = {0, 0, 0, 0, 0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF};
         memcpy(obj.p, head, 12);
         return validate_wrap_unwrap_template(OBJ_ATTR_WRAP_TEMPLATE, obj.p);
       },
       kAny, Sends::kNothing},
      {"validate_wrap_unwrap_template_null",
       [] { return validate_wrap_unwrap_template(OBJ_ATTR_WRAP_TEMPLATE, nullptr); }, 0,
       Sends::kNothing},

      // ---- helpers ----
      {"ResultAsString_unknown_code", [] { return Qel2ResultAsString(kBig) == nullptr ? 1u : 0u; },
       0},
      {"read_file_null_path",
       [] {
         Uint8 buf[8];
         Uint32 n;
         return read_file(nullptr, buf, sizeof buf, &n);
       },
       kAny},
      {"read_file_null_length",
       [] {
         Uint8 buf[8];
         return read_file("/dev/null", buf, sizeof buf, nullptr);
       },
       kAny},
  };
}

class BadArgs : public mgmt_test::SimTest, public ::testing::WithParamInterface<Row> {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    start();
    // Calls that do send get a plain success answer, ample for any record.
    for (uint16_t op = 0; op < 256; ++op) d().script(KQ_MGMT_CMD, op, payload(resp(0).zeros(1024)));
    d().clear_captured();
  }
};

TEST_P(BadArgs, ClearStatusNoCrash) {
  const Row &r = GetParam();
  const uint32_t got = r.call();
  if (r.expected == kAny) {
    EXPECT_NE(0u, got) << "accepted a bad argument";
  } else if (r.expected != kEither) {
    EXPECT_EQ(r.expected, got) << "gave 0x" << std::hex << got;
  }
  if (r.sends == Sends::kNothing) {
    EXPECT_EQ(0u, support::sent_count(d())) << "sent a request";
  }
}

INSTANTIATE_TEST_SUITE_P(Table, BadArgs, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row> &i) {
                           return std::string(i.param.name);
                         });

}  // namespace
