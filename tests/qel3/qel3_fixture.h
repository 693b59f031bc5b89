// Runs a Qel3 wrapper and the Qel2 call it stands for against the same
// stand-in, both answered with the same scripted refusal, and compares what
// each sent (request ids aside) and what each returned.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "admin_fixture.h"
#include "qel3.h"

namespace qel3_test {

using Call = std::function<Uint32(Uint32 session)>;

struct Row {
  std::string name;
  Call wrapper;
  Call target;        // the Qel2 call with the fixed arguments written out
  bool sends = true;  // false: the target refuses these arguments before any request
};

inline std::ostream &operator<<(std::ostream &os, const Row &r) { return os << r.name; }

// A request status the HSM never uses, so that passing it on shows.
inline constexpr uint32_t kScriptedStatus = 0x400001E7;

class Qel3Test : public admin_test::AdminTest {
 protected:
  // The messages of one call, request ids blanked (header bytes 4-7).
  std::vector<std::vector<uint8_t>> sent_by(const Call &call, Uint32 session, Uint32 *status) {
    d().clear_captured();
    *status = call(session);
    std::vector<std::vector<uint8_t>> out;
    for (const auto &c : d().captured()) {
      auto bytes = c.bytes;
      for (size_t i = 4; i < 8 && i < bytes.size(); ++i) bytes[i] = 0;
      out.push_back(std::move(bytes));
    }
    return out;
  }
  // Answers every request the target sends with kScriptedStatus from now on,
  // so that neither call changes the HSM and both meet the same answer.
  void script_refusals(const Call &target, Uint32 session) {
    d().clear_captured();
    target(session);
    std::set<std::pair<uint16_t, uint16_t>> keys;
    for (const auto &c : d().captured()) keys.insert({c.command_type, c.opcode});
    for (const auto &[type, opcode] : keys) {
      hsmsim::Answer a;
      a.status = kScriptedStatus;
      d().script(type, opcode, a);
    }
  }
};

}  // namespace qel3_test
