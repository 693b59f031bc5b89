#include "hsm/ops/object_common.h"

#include "hsm/engine/crypto.h"

namespace hsmsim::hsm {

namespace objop {

void attest(HsmState &st, Call &c) {
  size_t n = c.out.count();
  if (!c.req.attest || n == 0 || c.out.capacity(n - 1) < kAttestationSize) return;
  // The segments before it are sent at their full size, so that it lands at the end.
  for (size_t i = 0; i + 1 < n; ++i) c.out.segment(i).resize(c.out.capacity(i), 0);
  std::vector<uint8_t> answer = c.out.payload();
  std::vector<uint8_t> sig;
  auto key = st.objects.attestation_key();
  for (uint8_t block = 0; sig.size() < kAttestationSize; ++block) {
    std::vector<uint8_t> in{block};
    in.insert(in.end(), answer.begin(), answer.end());
    engine::Bytes mac;
    if (engine::hmac("SHA256", key, in, mac) != 0) mac.clear();
    sig.insert(sig.end(), mac.begin(), mac.end());
    if (mac.empty()) sig.resize(kAttestationSize, 0);
  }
  sig.resize(kAttestationSize);
  c.out.segment(n - 1) = std::move(sig);
}

}  // namespace objop

void add_object_store_ops(HandlerTable &t) {
  objop::add_object_info_ops(t);
  objop::add_masked_object_ops(t);
  objop::add_attribute_ops(t);
  objop::add_find_ops(t);
}

}  // namespace hsmsim::hsm
