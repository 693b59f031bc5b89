// Domain parameters of the curves numbered by CurveId, read from the
// libcrypto the library links (its copies of SEC 2 and FIPS 186) rather than
// typed in a second time.
#include "curve_data.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>

#include <cstring>
#include <memory>

namespace jce {
namespace {

constexpr int kNids[kCurveCount] = {NID_X9_62_prime192v1, NID_secp224r1, NID_X9_62_prime256v1,
                                    NID_secp384r1,        NID_secp521r1, NID_secp256k1};
constexpr size_t kMaxField = 66;  // P-521
constexpr size_t kNistSeed = 20;
// secp256k1 has no seed; the table gives it 32 zero bytes, which libcrypto
// cannot supply, so they stay here.
constexpr size_t kNoSeed = 32;

struct Free {
  void operator()(EC_GROUP *g) const { EC_GROUP_free(g); }
  void operator()(BIGNUM *b) const { BN_free(b); }
};
using Group = std::unique_ptr<EC_GROUP, Free>;
using Bn = std::unique_ptr<BIGNUM, Free>;

struct Fields {
  Uint8 seed[kNoSeed];
  Uint8 p[kMaxField], a[kMaxField], b[kMaxField], x[kMaxField], y[kMaxField], order[kMaxField];
};

// One curve's values from libcrypto; false (out left zero) when any is
// missing or does not fit the curve's prime length.
bool from_libcrypto(int cid, Fields &out) {
  const size_t len = get_prime_length(static_cast<CurveId>(cid));
  Group g(EC_GROUP_new_by_curve_name(kNids[cid]));
  Bn p(BN_new()), a(BN_new()), b(BN_new()), x(BN_new()), y(BN_new());
  if (!g || !p || !a || !b || !x || !y || len == 0 || len > kMaxField ||
      (static_cast<size_t>(EC_GROUP_get_degree(g.get())) + 7) / 8 != len ||
      EC_GROUP_get_curve(g.get(), p.get(), a.get(), b.get(), nullptr) != 1 ||
      EC_POINT_get_affine_coordinates(g.get(), EC_GROUP_get0_generator(g.get()), x.get(), y.get(),
                                      nullptr) != 1)
    return false;
  Fields f{};
  const struct {
    const BIGNUM *value;
    Uint8 *field;
  } values[] = {{p.get(), f.p}, {a.get(), f.a}, {b.get(), f.b},
                {x.get(), f.x}, {y.get(), f.y}, {EC_GROUP_get0_order(g.get()), f.order}};
  for (const auto &v : values)  // right-aligned; a value wider than the field fails
    if (!v.value || BN_bn2binpad(v.value, v.field, static_cast<int>(len)) != static_cast<int>(len))
      return false;
  if (cid != Secp256k1) {
    const unsigned char *seed = EC_GROUP_get0_seed(g.get());
    if (!seed || EC_GROUP_get_seed_len(g.get()) != kNistSeed) return false;
    memcpy(f.seed, seed, kNistSeed);
  }
  out = f;
  return true;
}

// The whole table, built in place once: the entries point into its own
// fields, and nothing is allocated that outlives the build.
class Table {
 public:
  Table() {
    for (size_t cid = 0; cid < kCurveCount; ++cid) {
      Fields &f = fields_[cid];
      ok_[cid] = from_libcrypto(static_cast<int>(cid), f);
      entries_[cid] = {f.seed, f.p, f.a, f.b, f.x, f.y, f.order};
    }
  }
  const ec_curve &entry(int cid) const { return entries_[cid]; }
  bool ok(int cid) const { return ok_[cid]; }

 private:
  Fields fields_[kCurveCount] = {};
  ec_curve entries_[kCurveCount] = {};
  bool ok_[kCurveCount] = {};
};

const Table &table() {
  static const Table built;  // thread-safe first use
  return built;
}

bool known(int cid) { return cid >= 0 && cid < static_cast<int>(kCurveCount); }

}  // namespace

const curve_table curve{};

const ec_curve &curve_table::operator[](int cid) const {
  // Callers check cid first; an unknown one reads zeros, not memory outside
  // the table.
  static const Uint8 zeros[kNoSeed > kMaxField ? kNoSeed : kMaxField] = {};
  static const ec_curve none = {zeros, zeros, zeros, zeros, zeros, zeros, zeros};
  return known(cid) ? table().entry(cid) : none;
}

size_t curve_seed_length(int cid) {
  if (!known(cid) || !table().ok(cid)) return 0;
  return cid == Secp256k1 ? kNoSeed : kNistSeed;
}

size_t curve_prime_length(int cid) {
  if (!known(cid) || !table().ok(cid)) return 0;
  return get_prime_length(static_cast<CurveId>(cid));
}

}  // namespace jce
