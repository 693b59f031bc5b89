// The HSM's key wrap against published vectors: RFC 3394 and RFC 5649, and
// NIST's SP 800-38F files from python3-cryptography-vectors (the fixed
// wrapping key set to each vector's AES-256 key).
#include <fstream>
#include <map>

#include "wrap_fixture.h"

using namespace wrap_test;

namespace {

const char *kNistDir = "/usr/lib/python3/dist-packages/cryptography_vectors/keywrap/kwtestvectors/";

using Vectors = WrapTest;

TEST_F(Vectors, Rfc3394AndRfc5649) {
  struct Case {
    const char *what;
    Uint32 mech;
    const char *kek, *plain, *wrapped;
  };
  const Case cases[] = {
      {"RFC 3394 4.1", 4240, "000102030405060708090A0B0C0D0E0F", "00112233445566778899AABBCCDDEEFF",
       "1FA68B0A8112B447AEF34BD8FB5A7B829D3E862371D2CFE5"},
      {"RFC 3394 4.6", 4240, "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F",
       "00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F",
       "28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21"},
      {"RFC 5649 20 bytes", 4241, "5840df6e29b02af1ab493b705bf16ea1ae8338f4dcc176a8",
       "c37b7e6492584340bed12207808941155068f738",
       "138bdeaa9b8fa7fc61f97742e72248ee5ae6ae5360d1ae6a5f54f373fa543b6a"},
      {"RFC 5649 7 bytes", 4241, "5840df6e29b02af1ab493b705bf16ea1ae8338f4dcc176a8",
       "466f7250617369", "afbeb0f07dfbf5419200f2ccb50bb24f"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const uint64_t key = aes(hex(c.kek));
    const uint64_t iv = c.mech == 4240 ? kRfc3394Iv : 0;
    Bytes w, back;
    ASSERT_EQ(0u, run(key, c.mech, 1, hex(c.plain), w, iv));
    EXPECT_EQ(hex(c.wrapped), w);
    ASSERT_EQ(0u, run(key, c.mech, 0, w, back, iv));
    EXPECT_EQ(hex(c.plain), back);
  }
}

// One vector of a NIST file: K, P, C and whether the unwrap must fail.
struct Nist {
  Bytes k, p, c;
  bool fail = false;
};

std::vector<Nist> read_nist(const std::string &name) {
  std::ifstream in(kNistDir + name);
  std::vector<Nist> out;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("COUNT", 0) == 0) out.emplace_back();
    if (out.empty()) continue;
    if (line.rfind("K = ", 0) == 0) out.back().k = hex(line.substr(4));
    if (line.rfind("P = ", 0) == 0) out.back().p = hex(line.substr(4));
    if (line.rfind("C = ", 0) == 0) out.back().c = hex(line.substr(4));
    if (line == "FAIL") out.back().fail = true;
  }
  return out;
}

TEST_F(Vectors, NistKeyWrapFilesWithTheFixedWrappingKey) {
  if (!std::ifstream(std::string(kNistDir) + "KW_AE_256.txt"))
    GTEST_SKIP() << "python3-cryptography-vectors is not installed (" << kNistDir << ")";
  struct File {
    const char *name;
    Uint32 mech;
    bool wrap;
  };
  const File files[] = {{"KW_AE_256.txt", 4240, true},
                        {"KW_AD_256.txt", 4240, false},
                        {"KWP_AE_256.txt", 4241, true},
                        {"KWP_AD_256.txt", 4241, false}};
  for (const auto &f : files) {
    const auto vectors = read_nist(f.name);
    ASSERT_FALSE(vectors.empty()) << f.name;
    size_t ran = 0, failed = 0;
    for (const auto &v : vectors) {
      // Beyond what one request carries.
      if ((f.wrap ? v.p.size() : v.c.size()) > 8192 || (f.wrap ? v.p.empty() : v.c.size() < 16))
        continue;
      ASSERT_TRUE(d().hsm().set_fixed_wrapping_key(v.k));
      const uint64_t iv = f.mech == 4240 ? kRfc3394Iv : 0;
      Bytes out;
      const Uint32 r = run(4, f.mech, f.wrap ? 1 : 0, f.wrap ? v.p : v.c, out, iv);
      ++ran;
      if (v.fail) {
        EXPECT_NE(0u, r) << f.name << " vector " << ran;
        ++failed;
        continue;
      }
      ASSERT_EQ(0u, r) << f.name << " vector " << ran;
      EXPECT_EQ(f.wrap ? v.c : v.p, out) << f.name << " vector " << ran;
    }
    EXPECT_GT(ran, 100u) << f.name;
    if (!f.wrap) {
      EXPECT_GT(failed, 0u) << f.name;
    }
  }
}

}  // namespace
