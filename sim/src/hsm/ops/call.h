// One request on its way through a handler: its command bytes, the output
// segments to fill, and the request status. Serves both request forms:
// management records (respond/fail/ok) and the raw form of cryptographic
// requests (input/put/refuse).
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include <hsmsim/hsm.h>

#include "hsm/opcodes.h"
#include "hsm/records.h"
#include "wire/be_codec.h"

namespace hsmsim::hsm {

struct HsmState;

struct Call {
  const HsmRequest &req;
  Output out;
  uint32_t status = 0;  // request status
  uint64_t op_ctx = 0;

  explicit Call(const HsmRequest &r, std::unique_lock<std::mutex> *state_lock = nullptr)
      : req(r), out(r.output_sizes), state_lock_(state_lock) {
    if (r.inputs.size() == 1) {
      body_ = r.inputs[0];
    } else {
      for (auto in : r.inputs) joined_.insert(joined_.end(), in.begin(), in.end());
      body_ = joined_;
    }
  }
  Call(const Call &) = delete;
  Call &operator=(const Call &) = delete;

  // ---- management form ----

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

  // ---- raw form: no records; segments are operands and results, the
  // HSM's verdict is the request status ----

  bool raw() const { return !is_management_form(req.command_type); }
  size_t input_count() const { return req.inputs.size(); }
  // Input segment i as sent (empty when the request has fewer).
  std::span<const uint8_t> input(size_t i) const {
    return i < req.inputs.size() ? req.inputs[i] : std::span<const uint8_t>{};
  }
  // The big-endian 64-bit handle of the key segment i; false when it is not 8 bytes.
  bool key_handle(size_t i, uint64_t &handle) const {
    auto s = input(i);
    if (s.size() != 8) return false;
    handle = 0;
    for (uint8_t b : s) handle = handle << 8 | b;
    return true;
  }
  // Result bytes into output segment i. A request without that segment, or
  // with one too small, gets RET_RESULT_SIZE and false; nothing is written.
  bool put(size_t i, std::span<const uint8_t> bytes) {
    if (i >= out.count() || bytes.size() > out.capacity(i)) {
      status = 0xB7;
      return false;
    }
    out.segment(i).assign(bytes.begin(), bytes.end());
    return true;
  }
  // The engine's (or firmware's) code as the request status; the outputs
  // written so far are dropped, so a failure carries no payload.
  void refuse(uint32_t code) {
    status = code;
    for (size_t i = 0; i < out.count(); ++i) out.segment(i).clear();
  }

  // ---- long operations, and computing with a key ----

  // Runs `work` without the HSM's state lock (the request keeps its
  // partition lock), so requests of other connections go on meanwhile: key
  // generation, and every computation with a private key (on the request's
  // own copy of the engine::Key). `work` must not touch HsmState; whatever
  // the handler found before (sessions, objects, partitions, contexts) may
  // be gone afterwards and must be looked up again.
  template <typename F>
  decltype(auto) unlocked(F &&work) {
    if (!state_lock_) return work();
    struct Relock {
      std::unique_lock<std::mutex> *l;
      ~Relock() { l->lock(); }
    } relock{state_lock_};
    state_lock_->unlock();
    return work();
  }

 private:
  std::vector<uint8_t> joined_;
  std::span<const uint8_t> body_;
  std::unique_lock<std::mutex> *state_lock_;
};

using Handler = void (*)(HsmState &, Call &);

}  // namespace hsmsim::hsm
