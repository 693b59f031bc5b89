#include "crypto/raw_request.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "common/be_codec.h"
#include "request/app_state.h"

namespace qel2::crypto {

uint16_t dma_bit() { return global_dma_mode == OSTREL_SCATTER_GATHER ? 0x80 : 0; }

uint16_t opcode(uint8_t major, uint8_t minor) {
  return static_cast<uint16_t>(uint16_t{minor} << 8 | dma_bit() | major);
}

uint32_t check_nonblocking(uint32_t req_type, const Uint32 *request_id, NbMessage m) {
  if (req_type == OSTREL_BLOCKING || request_id != nullptr) return 0;
  fputs(m == NbMessage::kUpper ? "NULL request_id pointer in non blocking request"
                               : "null request_id pointer in non blocking request",
        stdout);
  return ERR_ARGUMENTS_BAD;
}

uint32_t check_context(uint64_t ctx, bool zero_ok) {
  if (ctx == 0) return zero_ok ? 0u : static_cast<uint32_t>(ERR_ILLEGAL_CONTEXT_HANDLE);
  const uint64_t align = (ctx >> 63) ? 16 : 8;
  return ctx % align == 0 ? 0u : static_cast<uint32_t>(ERR_ILLEGAL_CONTEXT_HANDLE);
}

bool modulus_ok(uint32_t modlength, bool crt) {
  if (crt) return modlength >= 34 && modlength <= 512 && modlength % 2 == 0;
  return modlength >= 17 && modlength <= 512;
}

uint8_t rsa_major(uint32_t modlength) { return modlength <= 128 ? major::kRsa : major::kRsaLarge; }

uint32_t result_place(uint32_t result_location, const Uint8 *result, ResultPlace &out) {
  out = ResultPlace{};
  if (result_location != RES_CTX) return 0;
  if (!result) return ERR_ARGUMENTS_BAD;
  out.to_context = true;
  std::memcpy(&out.ctx, result, sizeof out.ctx);
  out.command_type = KQ_VNX_CTX_KEY_CMD;
  return 0;
}

Sha2Iv get_sha2_iv(HashType t) {
  static constexpr uint64_t k384[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17,
                                       0x152fecd8f70e5939, 0x67332667ffc00b31, 0x8eb44a8768581511,
                                       0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
  static constexpr uint64_t k512[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                       0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                       0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
  static constexpr uint32_t k224[8] = {0xc1059ed8, 0x367cd507, 0x3070dd17, 0xf70e5939,
                                       0xffc00b31, 0x68581511, 0x64f98fa7, 0xbefa4fa4};
  Sha2Iv iv;
  BeWriter w(iv.bytes, sizeof iv.bytes);
  switch (t) {
    case SHA384_TYPE:
      for (uint64_t h : k384) w.u64(h);
      break;
    case SHA512_TYPE:
      for (uint64_t h : k512) w.u64(h);
      break;
    case SHA224_TYPE:
      for (uint32_t h : k224) w.u32(h);
      break;
    default:
      break;
  }
  iv.size = static_cast<uint32_t>(w.size());
  return iv;
}

RawRequest::RawRequest(uint16_t command_type, uint16_t opcode, uint32_t session_handle,
                       uint32_t timeout)
    : rq_(opcode, session_handle, command_type, timeout) {
  rq_.params(0, 0);
}

RawRequest::~RawRequest() {
  for (Scratch &s : scratch_) explicit_bzero(s.bytes.get(), s.size);
}

RawRequest &RawRequest::params(uint16_t param1, uint16_t param2) {
  rq_.params(param1, param2);
  return *this;
}

RawRequest &RawRequest::lengths(uint16_t dlen, uint16_t rlen) {
  rq_.lengths(dlen, rlen);
  return *this;
}

RawRequest &RawRequest::ctx(uint64_t ctx_ptr) {
  rq_.ctx_ptr(ctx_ptr);
  return *this;
}

RawRequest &RawRequest::attest(uint8_t a) {
  rq_.raw().attest = a;
  return *this;
}

RawRequest &RawRequest::dma_mode() {
  rq_.raw().dma_mode = global_dma_mode;
  return *this;
}

void RawRequest::set_in_offset(uint32_t meaningful) {
  request_buffer &rb = rq_.raw();
  if (rb.incnt > 0) rb.inoffset[rb.incnt - 1] = meaningful;
}

void RawRequest::set_out_offset(uint32_t meaningful) {
  request_buffer &rb = rq_.raw();
  if (rb.outcnt > 0) rb.outoffset[rb.outcnt - 1] = meaningful;
}

RawRequest &RawRequest::in(const void *data, uint32_t n) {
  if (n && !data) null_segment_ = true;
  rq_.in(data, n);
  set_in_offset(n);
  return *this;
}

RawRequest &RawRequest::key(uint64_t handle) {
  put_be64(key_be_, handle);
  rq_.key_handle(handle);
  return in(key_be_, sizeof key_be_);
}

RawRequest &RawRequest::in_rounded(const void *data, uint32_t len) {
  const uint32_t size = r8(len);
  const void *src = data;
  if (len % 8 != 0 && data) {
    std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[size]());  // zeroed
    if (!copy) {
      alloc_failed_ = true;
      return *this;
    }
    std::memcpy(copy.get(), data, len);
    src = copy.get();
    scratch_.push_back({std::move(copy), size});
  }
  if (len && !data) null_segment_ = true;
  rq_.in(src, size);
  set_in_offset(len);
  return *this;
}

void RawRequest::expect(Whole::Kind kind, uint32_t bytes) {
  const request_buffer &rb = rq_.raw();
  if (rb.outcnt == 0 || rb.outcnt > MAX_SEGMENTS) return;
  whole_.fill[rb.outcnt - 1] = {kind, bytes};
  whole_.count = rb.outcnt;
}

RawRequest &RawRequest::out(void *buf, uint32_t size) { return out(buf, size, size); }

RawRequest &RawRequest::out(void *buf, uint32_t size, uint32_t meaningful) {
  out_upto(buf, size, size);
  set_out_offset(meaningful);
  return *this;
}

RawRequest &RawRequest::out_upto(void *buf, uint32_t size, uint32_t need) {
  if (size && !buf) null_segment_ = true;
  rq_.out(buf, size);
  set_out_offset(size);
  expect(Whole::Kind::kBytes, need);
  return *this;
}

RawRequest &RawRequest::out_rounded(void *dest, uint32_t len) {
  if (len && !dest) null_segment_ = true;
  rq_.out_copy(dest, len, r8(len));
  set_out_offset(len);
  expect(Whole::Kind::kBytes, len);
  return *this;
}

RawRequest &RawRequest::discard(uint32_t size) {
  rq_.out_discard(size);
  set_out_offset(size);
  expect(Whole::Kind::kAny, 0);
  return *this;
}

RawRequest &RawRequest::stated() {
  const request_buffer &rb = rq_.raw();
  if (rb.outcnt > 0) expect(Whole::Kind::kStated, rb.outoffset[rb.outcnt - 1]);
  return *this;
}

RawRequest &RawRequest::length_word(std::function<void(uint16_t)> write, bool transport_counts,
                                    uint8_t shares) {
  const unsigned seg = rq_.raw().outcnt;
  rq_.out_local(word_, sizeof word_);
  set_out_offset(sizeof word_);
  expect(Whole::Kind::kBytes, sizeof word_);
  write_len_ = std::move(write);
  has_word_ = true;
  len_transport_counts_ = transport_counts;
  whole_.word = true;
  whole_.word_seg = seg;
  whole_.word_width = sizeof word_;
  whole_.shares = shares ? shares : 1;
  whole_.word_needed_for_size = true;
  return *this;
}

RawRequest &RawRequest::out_length(void *buf, uint8_t width) {
  const unsigned seg = rq_.raw().outcnt;
  out(buf, width);
  whole_.word = true;
  whole_.word_seg = seg;
  whole_.word_width = width;
  whole_.shares = 1;
  return *this;
}

RawRequest &RawRequest::length_without_word(std::function<void(uint16_t)> write,
                                            bool transport_counts) {
  write_len_ = std::move(write);
  has_word_ = false;
  len_transport_counts_ = transport_counts;
  return *this;
}

bool RawRequest::Whole::word_value(const uint8_t *const segs[], const uint32_t got[],
                                   uint32_t *value) const {
  if (!word || word_seg >= count || !segs[word_seg] || got[word_seg] < word_width) return false;
  *value = word_width == 4 ? be32_at(segs[word_seg]) : be16_at(segs[word_seg]);
  return true;
}

bool RawRequest::Whole::holds(uint32_t status, const uint8_t *const segs[],
                              const uint32_t got[]) const {
  uint32_t stated_len = 0;
  if (status == RET_RESULT_SIZE) return !word_needed_for_size || word_value(segs, got, &stated_len);
  if (status != 0) return true;  // a failure delivers nothing to judge
  if (word && !word_value(segs, got, &stated_len)) return false;
  stated_len /= shares;
  for (unsigned i = 0; i < count; ++i) {
    const Fill &f = fill[i];
    if (f.kind == Kind::kBytes && got[i] < f.bytes) return false;
    // More than the caller's buffer holds, or than arrived.
    if (f.kind == Kind::kStated && word && (stated_len > f.bytes || got[i] < stated_len))
      return false;
  }
  return true;
}

bool RawRequest::Whole::demands() const {
  if (word_needed_for_size) return true;
  for (unsigned i = 0; i < count; ++i)
    if (fill[i].kind != Kind::kAny) return true;
  return false;
}

uint32_t RawRequest::send(uint32_t req_type, Uint32 *request_id) {
  if (alloc_failed_) return ERR_DEVICE_MEMORY;
  if (null_segment_) return ERR_ARGUMENTS_BAD;
  const bool nonblocking = req_type != OSTREL_BLOCKING;
  if (nonblocking && whole_.demands()) {
    // The entry records the refusal, so every way of collecting reports it.
    rq_.judge([whole = whole_](const mgmt::Completion &c) {
      return whole.holds(c.status, c.segs, c.got) ? c.status
                                                  : static_cast<uint32_t>(TESSALINE_INVALID_MSG);
    });
  }
  if (nonblocking && write_len_) {
    // Converted when the request is collected, from the entry's own word:
    // the judged status is then 0 or RET_RESULT_SIZE only for an answer that
    // holds what it says (holds() again keeps a dropped entry from converting).
    rq_.on_complete(
        [write = write_len_, word = has_word_, whole = whole_](const mgmt::Completion &c) {
          if (!c.answered && c.status != RET_RESULT_SIZE) return;
          if (!whole.holds(c.status, c.segs, c.got)) return;
          uint32_t n = 0;
          if (word) whole.word_value(c.segs, c.got, &n);
          write(static_cast<uint16_t>(n));
        });
  }
  const uint32_t transport = rq_.send(req_type);
  if (request_id) *request_id = rq_.request_id();
  const uint32_t result = rq_.result();
  if (nonblocking) return result;

  const request_buffer &rb = rq_.raw();
  const uint8_t *segs[MAX_SEGMENTS] = {};
  uint32_t got[MAX_SEGMENTS] = {};
  for (unsigned i = 0; i < rb.outcnt && i < MAX_SEGMENTS; ++i) {
    segs[i] = reinterpret_cast<const uint8_t *>(static_cast<uintptr_t>(rb.outptr[i]));
    got[i] = rq_.received(i);
  }
  if (transport == 0 && !whole_.holds(rq_.request_status(), segs, got))
    return TESSALINE_INVALID_MSG;
  if (write_len_) {
    const uint32_t rule = len_transport_counts_ ? result : rq_.request_status();
    uint32_t n = 0;  // no word, or none arrived (a failed transport): 0
    if (has_word_) whole_.word_value(segs, got, &n);
    if (rule == 0 || rule == RET_RESULT_SIZE) write_len_(static_cast<uint16_t>(n));
  }
  return result;
}

}  // namespace qel2::crypto
