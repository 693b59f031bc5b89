// The token flags of object-creating requests on the wire (header byte 50:
// bit 0 token object, bit 1 templates that differ in the token attribute):
// each request carries the flags of its own templates, or the defaults when
// it has none, never those of an earlier call that did not go out.
#include <functional>
#include <string>

#include "obj_fixture.h"

using namespace obj_test;

namespace {

constexpr uint8_t kToken = 1, kMixed = 2;

Bytes secret_template(const char *token) {
  return Be{}
      .attr(OBJ_ATTR_CLASS, "4\n")
      .attr(OBJ_ATTR_KEY_TYPE, "31\n")
      .attr(OBJ_ATTR_LABEL, "k")
      .attr(OBJ_ATTR_VALUE_LEN, "32\n")
      .attr(OBJ_ATTR_TOKEN, token);
}
Bytes pair_template(const char *cls, const char *token) {
  return Be{}
      .attr(OBJ_ATTR_CLASS, cls)
      .attr(OBJ_ATTR_KEY_TYPE, "3\n")
      .attr(OBJ_ATTR_LABEL, "p")
      .attr(OBJ_ATTR_TOKEN, token);
}

using Call = std::function<Uint32(Uint32 session)>;

Uint32 secret_key(Uint32 s, const char *token) {
  Bytes t = secret_template(token);
  Uint64 h = 0;
  return Qel2GenerateSymmetricKeyTemplate(s, t.data(), Uint32(t.size()), &h, nullptr);
}
Uint32 key_pair(Uint32 s, const char *pub_token, const char *priv_token) {
  Bytes pub = pair_template("2\n", pub_token), priv = pair_template("3\n", priv_token);
  Uint64 a = 0, b = 0;
  return Qel2GenerateKeyPairTemplate(s, pub.data(), Uint32(pub.size()), priv.data(),
                                     Uint32(priv.size()), 0, &a, &b, nullptr);
}
Uint32 masked_insert(Uint32 s) {
  Bytes object(24, 0x5A);
  Uint64 h = 0;
  return Qel2InsertMaskedObject(s, &h, object.data(), Uint32(object.size()), 0);
}
Uint32 masked_insert_user(Uint32 s) {
  Bytes object(24, 0x5A);
  Uint64 h = 0;
  Uint32 id = 0;
  return Qel2InsertMaskedObjectWithUserInfo(s, &h, object.data(), Uint32(object.size()), 0, &id);
}

class TokenFlagsOnTheWire : public ObjTest {
 protected:
  void SetUp() override {
    ObjTest::SetUp();
    for (uint16_t op : {KQ_GENERATE_KEY, KQ_GENERATE_KEY_PAIR, KQ_INSERT_MASKED_OBJECT,
                        KQ_INSERT_MASKED_OBJECT_USER})
      answer(op, resp(0).u64(0x11).u64(0x12).zeros(1024));  // long enough for every record
  }
  // Byte 50 of the one request of this opcode the call sent.
  uint8_t flags_sent(uint16_t opcode, const Call &call) {
    const Uint32 session = start_session();
    EXPECT_EQ(0u, call(session));
    return sent_only(d(), opcode).serveridx;
  }
};

struct Case {
  const char *name;
  uint16_t opcode;
  Call call;
  uint8_t flags;
};

const Case kCases[] = {
    {"session secret key", KQ_GENERATE_KEY, [](Uint32 s) { return secret_key(s, "0\n"); }, 0},
    {"token secret key", KQ_GENERATE_KEY, [](Uint32 s) { return secret_key(s, "1\n"); }, kToken},
    {"session pair", KQ_GENERATE_KEY_PAIR, [](Uint32 s) { return key_pair(s, "0\n", "0\n"); }, 0},
    {"session public, token private", KQ_GENERATE_KEY_PAIR,
     [](Uint32 s) { return key_pair(s, "0\n", "1\n"); }, kToken | kMixed},
    {"token public, session private", KQ_GENERATE_KEY_PAIR,
     [](Uint32 s) { return key_pair(s, "1\n", "0\n"); }, kToken | kMixed},
    // A masked object is opaque to the host: it goes out with the defaults.
    {"masked insert", KQ_INSERT_MASKED_OBJECT, masked_insert, kToken},
    {"masked insert with user information", KQ_INSERT_MASKED_OBJECT_USER, masked_insert_user,
     kToken},
};

TEST_F(TokenFlagsOnTheWire, EachRequestCarriesItsOwnTemplatesFlags) {
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.flags, flags_sent(c.opcode, c.call));
    Qel2SDKCleanup();
  }
}

// A call refused after it read its templates (here: no connection table, so
// the lookup of the connection fails) leaves nothing for the next request.
TEST_F(TokenFlagsOnTheWire, ARefusedCallLeavesNothingForTheNext) {
  const Call refused[] = {
      [](Uint32 s) { return secret_key(s, "0\n"); },
      [](Uint32 s) { return key_pair(s, "0\n", "1\n"); },
      [](Uint32 s) { return key_pair(s, "1\n", "0\n"); },
  };
  for (const Call &first : refused) {
    for (const Case &c : kCases) {
      SCOPED_TRACE(c.name);
      const Uint32 session = start_session();
      Qel2SDKCleanup();
      EXPECT_EQ(TESSALINE_INVALID_OPERATION, first(session));
      EXPECT_EQ(c.flags, flags_sent(c.opcode, c.call));
      Qel2SDKCleanup();
    }
  }
}

}  // namespace
