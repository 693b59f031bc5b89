// One row type for "what a call puts on the wire" and one check of a table
// of them against what the stand-in captured. Rows are designated
// initializers naming only what they check, e.g.
//
//   expect_layout(d(), {{.name = "SHA-256",
//                        .call = [&] { return Qel2Hash(...); },
//                        .opcode = 0x0606, .param2 = 3, .dlen = 5, .rlen = 32,
//                        .ins = {5}, .outs = {{32, 24}}}},
//                 {.command_type = 1, .timeout = 10});
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <vector>

#include <hsmsim/daemon.h>

namespace support {

struct LayoutRow {
  // A big-endian field of the body (the inputs back to back, the command
  // record first): `width` bytes (1, 2, 4 or 8) at offset `at`.
  struct Field {
    size_t at = 0;
    uint64_t value = 0;
    int width = 4;
    const char *what = "";  // named in a failure
  };
  // One segment: its size and, when given, its meaningful length.
  struct Seg {
    Seg(uint16_t size) : size(size) {}
    Seg(uint16_t size, uint16_t meaningful) : size(size), meaningful(meaningful) {}
    uint16_t size;
    std::optional<uint16_t> meaningful;
  };
  // The segments of one direction: `{}` none, `{8, {16, 13}}` exactly these.
  struct Segs {
    Segs() = default;
    Segs(std::initializer_list<Seg> l) : list(l) {}
    Segs(const std::vector<uint16_t> &sizes) : list(sizes.begin(), sizes.end()) {}
    static Segs unchecked() {
      Segs s;
      s.checked = false;
      return s;
    }
    bool checked = true;
    std::vector<Seg> list{};
  };

  const char *name = "";
  // Sends the request: the row then describes the one full request the call
  // sent. A row without a call describes the index-th captured request of its opcode.
  std::function<uint32_t()> call{};
  std::optional<uint32_t> result{};  // what the call returns
  std::optional<uint16_t> command_type{}, opcode{};
  size_t index = 0;
  std::optional<uint16_t> param1{}, param2{}, dlen{}, rlen{};
  Segs ins = Segs::unchecked(), outs = Segs::unchecked();
  std::optional<uint8_t> attest{}, dma_mode{}, msg_type{};
  std::optional<uint32_t> timeout{}, session{};  // session: the header's session handle
  std::optional<uint64_t> ctx_ptr{}, key_handle{};
  std::vector<Field> fields{};
};

// Where a check was called from, for its failures. Both members default to
// the call site: a defaulted `CallSite` argument is built where the call is
// (std::source_location is not in every standard library the project builds
// with).
struct CallSite {
  const char *file = __builtin_FILE();
  int line = __builtin_LINE();
};

// Checks the rows in order; what a row leaves out is not checked, unless
// `common` (what every row checks) has it: a row's own value wins, and its
// fields are checked after the common ones. A call that returns another
// result or does not send exactly one full request, and a captured request
// that is missing, are fatal failures that end the table. Failures name the
// row and the caller's line.
void expect_layout(hsmsim::Daemon &d, const std::vector<LayoutRow> &rows,
                   const LayoutRow &common = {}, CallSite where = {});

}  // namespace support
