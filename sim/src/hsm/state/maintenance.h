// What the maintenance requests keep: the firmware or bootloader update in
// progress and the images installed, the clone exchanges of each session,
// the diagnostic dump and where each session's reading of it stands, and
// the core dumps of the HSM's daemons.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <hsmsim/hsm.h>

namespace hsmsim::hsm {

inline constexpr uint32_t kFirmwareImageMax = 64u << 20;  // bytes of one image
inline constexpr uint32_t kCoreDumpMax = 8192;            // one answer carries a whole dump

struct FirmwareUpdate {
  uint32_t session = 0;  // the session that began it
  bool bootloader = false;
  uint32_t announced = 0;
  std::vector<uint8_t> image;  // chunks so far
};

// One side of a clone exchange, by the session that runs it.
struct CloneExchange {
  enum class Stage { kSourceInit, kTargetInit, kDone } stage = Stage::kDone;
  uint8_t partition = 0;
  std::vector<uint8_t> source_nonce, target_nonce;
};

// One session's reading of the diagnostic dump: a snapshot and how far it went.
struct DumpStream {
  std::vector<uint8_t> bytes;
  size_t pos = 0;
};

struct MaintenanceState {
  std::optional<FirmwareUpdate> update;
  std::vector<InstalledImage> installed;  // oldest first
  std::map<uint32_t, CloneExchange> clones;
  std::optional<std::vector<uint8_t>> dump;   // none: the default text
  std::map<uint32_t, DumpStream> dump_reads;  // by session
  std::map<std::pair<uint32_t, uint32_t>, std::vector<uint8_t>> core_dumps;  // (file, backup)
};

}  // namespace hsmsim::hsm
