// One request on its way through a handler: its command bytes, the output
// segments to fill, and the request status.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include <hsmsim/hsm.h>

#include "hsm/records.h"
#include "wire/be_codec.h"

namespace hsmsim::hsm {

struct HsmState;

struct Call {
  const HsmRequest &req;
  Output out;
  uint32_t status = 0;  // request status
  uint64_t op_ctx = 0;

  explicit Call(const HsmRequest &r) : req(r), out(r.output_sizes) {
    if (r.inputs.size() == 1) {
      body_ = r.inputs[0];
    } else {
      for (auto in : r.inputs) joined_.insert(joined_.end(), in.begin(), in.end());
      body_ = joined_;
    }
  }
  Call(const Call &) = delete;
  Call &operator=(const Call &) = delete;

  // Management records may span several input segments: they are read as
  // the input segments back to back.
  std::span<const uint8_t> body() const { return body_; }
  wire::BeReader reader() const { return wire::BeReader(body_); }

  // The response record into output segment 0; RET_RESULT_SIZE (with the
  // size needed) when it does not fit there.
  void respond(std::vector<uint8_t> record) {
    if (record.size() > out.capacity(0))
      out.segment(0) = std_response(0xB7, 0, static_cast<uint32_t>(record.size()), 0);
    else
      out.segment(0) = std::move(record);
  }
  void fail(uint32_t code) { respond(std_response(code)); }
  void ok() { respond(std_response(0)); }

 private:
  std::vector<uint8_t> joined_;
  std::span<const uint8_t> body_;
};

using Handler = void (*)(HsmState &, Call &);

}  // namespace hsmsim::hsm
