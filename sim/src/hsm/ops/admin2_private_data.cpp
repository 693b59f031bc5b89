// Partition private data: named blobs per partition, written in chunks that
// follow each other (the first announces the whole length, the last commits
// the blob), read back in chunks at any offset, deleted by name.
#include <algorithm>

#include "hsm/codes.h"
#include "hsm/opcodes.h"
#include "hsm/ops/admin2_common.h"
#include "hsm/ops/table.h"

namespace hsmsim::hsm {

namespace {

constexpr size_t kNameField = 16;
constexpr uint32_t kFirst = 1, kLast = 2;

Session *session_of(HsmState &st, Call &c) {
  uint32_t refused = 0;
  Session *s = logged_in_session(st, c.req.session_handle, &refused);
  if (!s) c.fail(refused);
  return s;
}

void update(HsmState &st, Call &c) {
  Session *s = session_of(st, c);
  if (!s) return;
  auto r = c.reader();
  r.skip(20);
  const uint32_t size = r.u32(), total = r.u32(), offset = r.u32(), flag = r.u32();
  const std::string name = name_field(r, kNameField);
  auto data = r.bytes(size);
  if (!r.ok() || r.remaining() != 0 || flag > 3 || size == 0 || total > kPrivDataMax)
    return c.fail(code::kInvalidInput);
  PrivateBlob &b = st.admin2.private_data[{s->partition, name}];
  if (flag & kFirst) {
    b.staging = b.data;
    b.expect_offset = offset;
    b.written = 0;
    b.total = total;
    b.writing = true;
  }
  // Chunks follow each other and stay within the announced length.
  const uint64_t end = uint64_t{offset} + size;
  if (!b.writing || offset != b.expect_offset || total != b.total || b.written + size > b.total ||
      end > kPrivDataMax) {
    b.writing = false;
    if (b.data.empty()) st.admin2.private_data.erase({s->partition, name});
    return c.fail(code::kInvalidInput);
  }
  if (b.staging.size() < end) b.staging.resize(end);
  std::copy(data.begin(), data.end(), b.staging.begin() + offset);
  b.expect_offset = end;
  b.written += size;
  if (flag & kLast) {
    if (b.written != b.total) {
      b.writing = false;
      return c.fail(code::kInvalidInput);
    }
    b.data = std::move(b.staging);
    b.staging.clear();
    b.writing = false;
  }
  c.ok();
}

void get(HsmState &st, Call &c) {
  Session *s = session_of(st, c);
  if (!s) return;
  auto r = c.reader();
  r.skip(20);
  const uint32_t size = r.u32(), offset = r.u32();
  const std::string name = name_field(r, kNameField);
  if (!r.ok()) return c.fail(code::kInvalidInput);
  auto it = st.admin2.private_data.find({s->partition, name});
  if (it == st.admin2.private_data.end() || it->second.data.empty())
    return c.fail(code::kInvalidInput);
  const auto &data = it->second.data;
  if (offset > data.size()) return c.fail(code::kInvalidInput);
  const size_t n =
      std::min<size_t>({size, data.size() - offset, c.out.count() > 1 ? c.out.capacity(1) : 0});
  c.respond(std_response(0, 0, static_cast<uint32_t>(data.size()), static_cast<uint32_t>(n)));
  if (n)
    c.out.segment(1).assign(data.begin() + offset, data.begin() + offset + static_cast<long>(n));
}

void remove(HsmState &st, Call &c) {
  Session *s = session_of(st, c);
  if (!s) return;
  auto r = c.reader();
  r.skip(20);
  const std::string name = name_field(r, kNameField);
  if (!r.ok() || !st.admin2.private_data.erase({s->partition, name}))
    return c.fail(code::kInvalidInput);
  c.ok();
}

}  // namespace

void add_admin2_private_data_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kPartnStorageUpdate, update);
  t.add(kMgmtCommand, op::kPartnStorageGet, get);
  t.add(kMgmtCommand, op::kPartnStorageDelete, remove);
}

}  // namespace hsmsim::hsm
