// NIST's SP 800-108 counter-mode known answers (counter before the fixed
// input data, every counter width) through the stand-in, for each PRF it
// offers. The fixed input data travels as label and context, with no
// length field of the stand-in's own.
#include <fstream>
#include <map>

#include "keys_fixture.h"

using namespace keys_test;

namespace {

constexpr const char *kVectors =
    "/usr/lib/python3/dist-packages/cryptography_vectors/KDF/nist-800-108-KBKDF-CTR.txt";
constexpr int kPerSection = 4;  // vectors taken from each PRF and counter width

struct Vector {
  std::string prf;
  uint32_t rlen = 0, l_bits = 0;
  Bytes ki, fixed, ko;
};

Bytes unhex(const std::string &s) {
  Bytes out;
  for (size_t i = 0; i + 1 < s.size(); i += 2)
    out.push_back(uint8_t(std::stoul(s.substr(i, 2), nullptr, 16)));
  return out;
}

std::vector<Vector> read_vectors(std::ifstream &in) {
  std::vector<Vector> out;
  std::string line, prf, location;
  uint32_t rlen = 0;
  std::map<std::string, int> taken;
  Vector v;
  auto value = [&](const std::string &key) { return line.substr(key.size() + 3); };
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("[PRF=", 0) == 0)
      prf = line.substr(5, line.size() - 6);
    else if (line.rfind("[CTRLOCATION=", 0) == 0)
      location = line.substr(13, line.size() - 14);
    else if (line.rfind("[RLEN=", 0) == 0)
      rlen = uint32_t(std::stoul(line.substr(6)));
    else if (line.rfind("L = ", 0) == 0)
      v = Vector{prf, rlen, uint32_t(std::stoul(value("L"))), {}, {}, {}};
    else if (line.rfind("KI = ", 0) == 0)
      v.ki = unhex(value("KI"));
    else if (line.rfind("FixedInputData = ", 0) == 0)
      v.fixed = unhex(value("FixedInputData"));
    else if (line.rfind("KO = ", 0) == 0) {
      v.ko = unhex(value("KO"));
      const std::string section = prf + "/" + std::to_string(rlen);
      if (location == "BEFORE_FIXED" && v.l_bits % 8 == 0 && taken[section]++ < kPerSection)
        out.push_back(v);
    }
  }
  return out;
}

// The PRF numbers (hash types) the stand-in offers.
const std::map<std::string, Uint32> kPrfs = {
    {"HMAC_SHA1", 2},   {"HMAC_SHA256", 3}, {"HMAC_SHA384", 4}, {"HMAC_SHA512", 5},
    {"HMAC_SHA224", 6}, {"CMAC_AES128", 7}, {"CMAC_AES192", 7}, {"CMAC_AES256", 7}};

using KbkdfVectors = LoggedIn;

TEST_F(KbkdfVectors, CounterModeKnownAnswers) {
  std::ifstream in(kVectors);
  if (!in) GTEST_SKIP() << kVectors << " is missing: install python3-cryptography-vectors";
  std::map<std::string, int> checked;
  for (const Vector &v : read_vectors(in)) {
    auto prf = kPrfs.find(v.prf);
    if (prf == kPrfs.end()) continue;
    SCOPED_TRACE(v.prf + " counter " + std::to_string(v.rlen) + " L " + std::to_string(v.l_bits));
    hsmsim::ObjectSeed base;
    const bool cmac = prf->second == 7;
    base.attributes = {hsmsim::ObjectAttr::number(OBJ_ATTR_CLASS, 4),
                       hsmsim::ObjectAttr::number(OBJ_ATTR_KEY_TYPE, cmac ? 31 : 16),
                       hsmsim::ObjectAttr::text(OBJ_ATTR_LABEL, "base")};
    base.key = v.ki;
    auto seeded = d().hsm().seed_object(base);
    ASSERT_EQ(0u, seeded.code);

    Bytes fixed = v.fixed;
    DeriveSymKeyArgs a{};
    a.ulSessionHandle = session_;
    a.hBaseKey = seeded.handle;
    a.counter.ulWidthInBits = v.rlen;
    a.ulPrfType = prf->second;
    a.prfLabel = fixed.data();
    a.ulPrfLabelLen = 1;
    a.prfCtx = fixed.data() + 1;
    a.ulPrfCtxLen = Uint32(fixed.size() - 1);
    KeyArgs k{};
    k.pKeyLabel = u8("kat");
    k.ulKeyLabelLen = 3;
    k.ulKeyLen = v.l_bits / 8;
    k.ulKeyType = KEY_TYPE_GENERIC_SECRET;
    k.ucKeyLocation = STORAGE_RAM;
    k.bExtractable = 1;
    ASSERT_EQ(0u, Qel2DeriveKey(&a, &k));
    EXPECT_EQ(v.ko, value_of(a.ulDerivedKeyHandle));
    d().hsm().destroy_object(a.ulDerivedKeyHandle);
    d().hsm().destroy_object(seeded.handle);
    ++checked[v.prf];
  }
  EXPECT_EQ(kPrfs.size(), checked.size()) << "every PRF met its vectors";
}

}  // namespace
