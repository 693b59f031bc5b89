// The stand-in HSM behind the daemon: executes the management and
// cryptographic requests that the daemon forwards.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace hsmsim {

// One request as the daemon hands it to the HSM.
struct HsmRequest {
  uint16_t command_type = 0;
  uint16_t opcode = 0;
  uint16_t param1 = 0, param2 = 0;
  uint16_t dlen = 0, rlen = 0;
  uint8_t attest = 0;
  uint32_t session_handle = 0;  // header sess_handle
  uint64_t key_handle = 0;
  uint64_t ctx_ptr = 0;
  uint64_t op_ctx = 0;          // header op_ctx
  std::vector<std::span<const uint8_t>> inputs;  // input segments
  std::vector<uint32_t> output_sizes;            // capacities of the output segments
  int connection = 0;
};

struct HsmReply {
  uint32_t status = 0;           // request status (the engine's code for cryptographic requests)
  std::vector<uint8_t> payload;  // output segments back to back, as far as produced
  uint64_t op_ctx = 0;
};

class Hsm {
 public:
  Hsm();
  ~Hsm();
  Hsm(const Hsm&) = delete;
  Hsm& operator=(const Hsm&) = delete;

  HsmReply execute(const HsmRequest&);

  std::array<uint8_t, 2> firmware_version() const;  // HSM_GET_FW_VERSION answer

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace hsmsim
