#include <hsmsim/hsm.h>

#include <mutex>

#include "wire/be_codec.h"

namespace hsmsim {

namespace {
constexpr uint32_t kRetInvalidCommand = 0x82;
}

struct Hsm::State {
  std::mutex mu;
};

Hsm::Hsm() : state_(std::make_unique<State>()) {}
Hsm::~Hsm() = default;

HsmReply Hsm::execute(const HsmRequest& req) {
  std::lock_guard lock(state_->mu);
  HsmReply r;
  if (req.command_type == 0) {
    wire::BeWriter w(r.payload);
    w.u32(kRetInvalidCommand).u32(0).u32(0).u32(0);
  } else {
    r.status = kRetInvalidCommand;
  }
  return r;
}

std::array<uint8_t, 2> Hsm::firmware_version() const { return {3, 2}; }

}  // namespace hsmsim
