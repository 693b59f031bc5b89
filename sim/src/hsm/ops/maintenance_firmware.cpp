// Firmware and bootloader update, checked step by step: begin announces the
// image length, chunks follow in order and never pass it, and the end's
// authentication code must begin with the image's SHA-256. The image is then
// recorded as installed (nothing else changes); a firmware end that asks for
// zeroisation answers RET_ZEROIZE.
#include <algorithm>

#include "hsm/codes.h"
#include "hsm/engine/crypto.h"
#include "hsm/opcodes.h"
#include "hsm/ops/admin_common.h"
#include "hsm/ops/table.h"

namespace hsmsim::hsm {

namespace {

constexpr uint32_t kBootloaderFlag = 2;
constexpr size_t kDigestLen = 32;
constexpr uint32_t kAuthCodeMax = 1024;

// FirmwareUpdateCommand after its header, and the bytes that follow it.
struct Step {
  uint32_t flags = 0, auth_len = 0, fw_len = 0, platform = 0;
  std::span<const uint8_t> data;
};

// The step of an administrator of partition 0; false after answering the refusal.
bool read_step(HsmState &st, Call &c, Step &s) {
  Session *who = nullptr;
  if (uint32_t refused = officer_session(st, c.req.session_handle & 0x3FFFFFFF, true, &who)) {
    c.fail(refused);
    return false;
  }
  auto r = c.reader();
  r.skip(8);
  s.flags = r.u32();
  r.skip(8);
  s.auth_len = r.u32();
  s.fw_len = r.u32();
  s.platform = r.u32();
  s.data = r.bytes(r.remaining());
  if (!r.ok() || s.platform != 0) {
    c.fail(code::kInvalidInput);
    return false;
  }
  return true;
}

// The update this session began; none (and a refusal) otherwise.
FirmwareUpdate *update_of(HsmState &st, Call &c) {
  auto &u = st.maintenance.update;
  if (!u || u->session != (c.req.session_handle & 0x3FFFFFFF)) {
    c.fail(code::kInvalidInput);
    return nullptr;
  }
  return &*u;
}

// A failed step ends the update: the caller begins again.
void abandon(HsmState &st, Call &c) {
  st.maintenance.update.reset();
  c.fail(code::kInvalidInput);
}

void begin(HsmState &st, Call &c) {
  Step s;
  if (!read_step(st, c, s)) return;
  if ((s.flags != 0 && s.flags != kBootloaderFlag) || s.auth_len != 0 || !s.data.empty() ||
      s.fw_len > kFirmwareImageMax)
    return c.fail(code::kInvalidInput);
  FirmwareUpdate u;
  u.session = c.req.session_handle & 0x3FFFFFFF;
  u.bootloader = s.flags == kBootloaderFlag;
  u.announced = s.fw_len;
  st.maintenance.update = std::move(u);
  c.ok();
}

void chunk(HsmState &st, Call &c) {
  Step s;
  if (!read_step(st, c, s)) return;
  FirmwareUpdate *u = update_of(st, c);
  if (!u) return;
  if (s.flags != 0 || s.auth_len != 0 || s.fw_len != s.data.size() || s.data.empty() ||
      u->image.size() + s.data.size() > u->announced)
    return abandon(st, c);
  u->image.insert(u->image.end(), s.data.begin(), s.data.end());
  c.ok();
}

void end(HsmState &st, Call &c) {
  Step s;
  if (!read_step(st, c, s)) return;
  FirmwareUpdate *u = update_of(st, c);
  if (!u) return;
  // A short image (truncated file, lost chunk) is not installed.
  if (s.fw_len != 0 || s.auth_len != s.data.size() || s.auth_len > kAuthCodeMax ||
      u->image.size() != u->announced || (u->bootloader && s.flags != 0))
    return abandon(st, c);
  engine::Bytes digest;
  if (engine::digest("SHA256", u->image, digest) != 0) return abandon(st, c);
  const bool vouched =
      s.data.size() >= kDigestLen && std::equal(digest.begin(), digest.end(), s.data.begin());
  InstalledImage img{u->bootloader, u->announced, digest, s.flags};
  st.maintenance.update.reset();
  if (!vouched) return c.fail(code::kSignatureVerificationFailed);
  const bool zeroised = !img.bootloader && s.flags != 0;
  st.maintenance.installed.push_back(std::move(img));
  if (zeroised) return c.fail(code::kZeroize);
  c.ok();
}

}  // namespace

void add_maintenance_firmware_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kFwUpdateBegin, begin);
  t.add(kMgmtCommand, op::kFwUpdate, chunk);
  t.add(kMgmtCommand, op::kFwUpdateEnd, end);
}

}  // namespace hsmsim::hsm

namespace hsmsim {

std::vector<InstalledImage> Hsm::installed_images() const {
  std::lock_guard lock(state_->mu);
  return state_->maintenance.installed;
}

}  // namespace hsmsim
