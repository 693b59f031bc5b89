// Firmware and bootloader update: begin (the image length), chunks of the
// image in order, end (the authentication code). One 32-byte record serves
// all three steps; the file-driven forms run the whole sequence from an
// image file and an authentication-code file.
#include <array>
#include <cstdio>
#include <vector>

#include "mgmt/admin2/file_handle.h"
#include "qel2_admin2.h"
#include "qel2_errors.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr size_t kCmdLen = 32;           // FirmwareUpdateCommand
constexpr uint32_t kBootloaderFlag = 2;  // ulFlags of a bootloader begin
static_assert(kCmdLen + QEL2_FW_CHUNK == kMaxDataLen, "record and chunk fill one request");

// One step: the record, then the step's bytes (a chunk or the code), held to
// the data limit before anything is sent.
Uint32 fw_step(Uint32 session, uint16_t opcode, uint32_t flags, uint32_t auth_len, uint32_t fw_len,
               const Uint8 *data, uint32_t data_len) {
  CommandRecord<kCmdLen> cmd;
  put_session_header(cmd.w, masked_session(session), flags);
  cmd.w.u32(auth_len).u32(fw_len).u32(0);  // ulTargetHardwarePlatform
  MgmtRequest rq(opcode, masked_session(session));
  rq.command(cmd);
  if (data != nullptr) rq.in(data, data_len);
  rq.out_std_response();
  if (Uint32 r = rq.check_data_len()) return r;
  rq.send();
  return rq.result();
}

Uint32 begin(Uint32 session, uint32_t flags, Uint32 len) {
  return fw_step(session, KQ_FW_UPDATE_BEGIN, flags, 0, len, nullptr, 0);
}

enum class Image { kFirmware, kBootloader };

Uint32 update_from_files(Uint32 session, const Int8 *image_file, Uint32 image_len,
                         const Int8 *auth_file, Uint32 auth_len, Image kind, Uint32 zeroize) {
  if (image_file == nullptr || auth_file == nullptr) return ERR_INVALID_INPUT;
  FileHandle image = open_file(reinterpret_cast<const char *>(image_file), "r");
  if (!image) return ERR_OPEN_FILE;
  FileHandle code_file = open_file(reinterpret_cast<const char *>(auth_file), "r");
  if (!code_file) return ERR_OPEN_FILE;
  const bool boot = kind == Image::kBootloader;
  if (boot) puts("\n\tStarting update process.  This may take several minutes.  Please wait.");

  if (Uint32 r = begin(session, boot ? kBootloaderFlag : 0, image_len)) return r;
  std::vector<Uint8> piece(QEL2_FW_CHUNK);
  for (;;) {
    const size_t n = fread(piece.data(), 1, piece.size(), image.get());
    if (n == 0) break;
    if (Uint32 r = Qel2FirmwareUpdateChunk(session, piece.data(), static_cast<Uint32>(n))) return r;
  }
  // An image that could not be read to its end is not vouched for.
  if (ferror(image.get())) return ERR_READ_INPUT_FILE;

  std::array<Uint8, QEL2_FW_AUTH_MAX> code{};
  const size_t got = fread(code.data(), 1, code.size(), code_file.get());
  if (got != auth_len) return ERR_READ_INPUT_FILE;
  const Uint32 r = Qel2FirmwareUpdateEnd(session, code.data(), auth_len, boot ? 0 : zeroize);
  // The HSM reports a firmware update that zeroised it as RET_ZEROIZE.
  return !boot && r == RET_ZEROIZE ? 0 : r;
}

// The worker of the three firmware forms.
Uint32 Qel2FirmwareUpdateCommon(Uint32 session, const Int8 *firmware_file, Uint32 firmware_len,
                                const Int8 *auth_file, Uint32 auth_len, Uint32 zeroize) {
  return update_from_files(session, firmware_file, firmware_len, auth_file, auth_len,
                           Image::kFirmware, zeroize);
}

}  // namespace

extern "C" {

QEL2_EXPORT Uint32 Qel2FirmwareUpdateBegin(Uint32 ulSessionHandle, Uint32 ulFirmwareLen) {
  return begin(ulSessionHandle, 0, ulFirmwareLen);
}

QEL2_EXPORT Uint32 Qel2BootloaderUpdateBegin(Uint32 ulSessionHandle, Uint32 ulBootloaderLen) {
  return begin(ulSessionHandle, kBootloaderFlag, ulBootloaderLen);
}

QEL2_EXPORT Uint32 Qel2FirmwareUpdateChunk(Uint32 ulSessionHandle, Uint8 *pFirmware,
                                           Uint32 ulFirmwareLen) {
  if (pFirmware == nullptr) return ERR_INVALID_INPUT;
  return fw_step(ulSessionHandle, KQ_FW_UPDATE, 0, 0, ulFirmwareLen, pFirmware, ulFirmwareLen);
}

QEL2_EXPORT Uint32 Qel2FirmwareUpdateEnd(Uint32 ulSessionHandle, Uint8 *pChecksum,
                                         Uint32 ulChecksumLen, Uint32 ZeroizeOnUpdate) {
  if (pChecksum == nullptr) return ERR_INVALID_INPUT;
  return fw_step(ulSessionHandle, KQ_FW_UPDATE_END, ZeroizeOnUpdate, ulChecksumLen, 0, pChecksum,
                 ulChecksumLen);
}

QEL2_EXPORT Uint32 Qel2FirmwareUpdate(Uint32 ulSessionHandle, Int8 *firmware_file,
                                      Uint32 firmware_len, Int8 *auth_file, Uint32 auth_len) {
  return Qel2FirmwareUpdateCommon(ulSessionHandle, firmware_file, firmware_len, auth_file, auth_len,
                                  0);
}

QEL2_EXPORT Uint32 Qel2FirmwareUpdate2(Uint32 ulSessionHandle, Int8 *firmware_file,
                                       Uint32 firmware_len, Int8 *auth_file, Uint32 auth_len,
                                       Uint32 ZeroizeOnUpdate) {
  return Qel2FirmwareUpdateCommon(ulSessionHandle, firmware_file, firmware_len, auth_file, auth_len,
                                  ZeroizeOnUpdate);
}

QEL2_EXPORT Uint32 Qel2FirmwareUpdateNew(Uint32 ulSessionHandle, Int8 *firmware_file,
                                         Uint32 firmware_len, Int8 *auth_file, Uint32 auth_len,
                                         Uint32 ZeroizeOnUpdate) {
  return Qel2FirmwareUpdateCommon(ulSessionHandle, firmware_file, firmware_len, auth_file, auth_len,
                                  ZeroizeOnUpdate);
}

QEL2_EXPORT Uint32 Qel2BootloaderUpdate(Uint32 ulSessionHandle, Int8 *bootloader_file,
                                        Uint32 bootloader_len, Int8 *auth_file, Uint32 auth_len) {
  return update_from_files(ulSessionHandle, bootloader_file, bootloader_len, auth_file, auth_len,
                           Image::kBootloader, 0);
}

}  // extern "C"
