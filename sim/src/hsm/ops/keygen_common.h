// What the key-making handlers share (generation, password-based keys, key
// pairs, object creation, derivation): their command head, the templates
// behind Object heads, storing a new object for the session's user, the
// new objects' attribute data and the key-generation attestation.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "hsm/objects/create.h"
#include "hsm/objects/template.h"
#include "hsm/ops/object_common.h"

namespace hsmsim::hsm::keygen {

// The session header of a key-making command and whether it asks for the
// new objects' attributes (get_new_attrs, bits 8-11 of the common flags).
struct KeygenHead {
  objop::Head head;
  bool want_attrs = false;
};
KeygenHead read_keygen_head(HsmState &, wire::BeReader &);

// An Object head (reserved, count, size = template length + 12) and the
// template after it, parsed for creating: 0, or RET_INVALID_INPUT when the
// head and the bytes disagree, or the template reader's code.
uint32_t read_template(wire::BeReader &, obj::ParsedTemplate &out);

// Builds the object for the actor (its partition, its user as owner, its
// session for a session object) and stores it: 0 and its handle, or the
// creation rules' code (RET_MAX_OBJECTS_REACHED when the store is full).
// `finish` may add what the template does not carry (public parts) before
// it is stored.
uint32_t store_object(HsmState &, const obj::Actor &, const obj::ParsedTemplate &, obj::Material,
                      uint64_t &handle, void (*finish)(obj::Object &, const void *) = nullptr,
                      const void *finish_arg = nullptr);

// The response header and the new handles (64-bit each), then `extra`
// zero bytes; the attribute data of `objects` (back to back, cut to the
// segment) into output segment 1 when asked for; the key-generation
// attestation into the last segment when the request asks for one.
void answer_new(HsmState &, Call &, bool want_attrs, std::span<const uint64_t> handles,
                size_t extra = 0, bool attestation_in_record = false);

// KeyGenAttest (952 bytes, big-endian): op, reserved, the private (or
// secret) and the public handle, the key information of the first and the
// second key, and 256 bytes of HMAC-SHA-256 blocks under the HSM's
// attestation key over the 696 bytes before them.
std::vector<uint8_t> keygen_attestation(HsmState &, uint16_t opcode,
                                        std::span<const uint64_t> handles);

inline constexpr size_t kKeyGenAttestSize = 952;

// A store_object finisher: the public parts (RSA modulus and exponent, DSA
// domain, EC curve) of the engine::Key `arg` as the object's attributes.
void add_public_parts(obj::Object &o, const void *arg);
// The finisher of a private key made here (generated or unwrapped): its
// public parts, and the engine::Key itself as the object's engine key, so
// the store does not read it back from the value (and check it) again.
void add_key_parts(obj::Object &o, const void *arg);

// Registration, one per handler file.
void add_keygen_secret_ops(HandlerTable &);
void add_keygen_pair_ops(HandlerTable &);
void add_keygen_public_ops(HandlerTable &);
void add_keygen_derive_ops(HandlerTable &);

}  // namespace hsmsim::hsm::keygen
