// What the second part of administration keeps: partition private data by
// partition and name (with the write in progress of each), and the M-of-N
// values and tokens of each partition, the certificates stored, and the key
// backup keys.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "hsm/state/partitions.h"
#include "hsm/state/secret.h"

namespace hsmsim::hsm {

inline constexpr size_t kPrivDataMax = 1u << 20;  // bytes of one blob

struct PrivateBlob {
  std::vector<uint8_t> data;     // committed
  std::vector<uint8_t> staging;  // the write in progress
  uint64_t expect_offset = 0;    // where its next chunk must go
  uint64_t written = 0;          // chunk bytes so far
  uint32_t total = 0;            // what the first chunk announced
  bool writing = false;
};

inline constexpr size_t kServices = 7;  // BACKUP_BY_CU .. MANAGE_KEY
inline constexpr size_t kTokensPerPartition = 64;

struct MofNToken {
  uint16_t id = 0;
  uint16_t service = 0;
  uint32_t node = 0;
  uint64_t key = 0;
  std::array<uint8_t, 16> rand{};
  std::string user;  // who asked
  uint64_t c_time = 0, a_time = 0;
  std::vector<std::string> approvers;
};

struct MofNPartition {
  std::array<uint8_t, kServices> m{};  // M value of each service; 0 and 1 need one approval
  std::vector<MofNToken> tokens;       // in the order they were issued
  uint16_t next_id = 1;
  int32_t c_timeout = 300, a_timeout = 600;  // seconds
};

// The last key-encryption (or password-encryption) key established for a
// partition: what the HSM agreed with the host, kept for the test hook.
struct KeyEstablishment {
  uint8_t method = 0;                 // 0 ECDH, 1 RSA
  Secret premaster;                   // ECDH shared secret, or the secret encrypted to the host
  Secret master_key;                  // 64 bytes
  std::vector<uint8_t> host_nonce;    // 32 bytes
  std::vector<uint8_t> target_nonce;  // the HSM's nonce (RSA: the encrypted secret)
};
// A backup or a restore under way: the SHA-256 chain over the blobs handed
// out or taken in, in order, whose HMAC under the key backup key is the
// integrity value; a restore also keeps the users to go back to.
struct BackupRun {
  bool restore = false;
  std::array<uint8_t, 32> chain{};
  uint32_t users_taken = 0;
  std::vector<User> users_before;
};
inline constexpr uint16_t kHsmScopeRun = 0x100;  // key of the HSM scope's run

struct Admin2State {
  std::map<std::pair<uint8_t, std::string>, PrivateBlob> private_data;  // (partition, name)
  std::map<uint8_t, MofNPartition> mofn;                                // by partition
  std::map<std::pair<uint8_t, uint16_t>, std::vector<uint8_t>> certs;   // (partition, subject)
  std::map<uint8_t, std::vector<uint8_t>> kbk;  // key backup key by partition, made when first used
  std::vector<uint8_t> kbk_wrapping;  // the HSM's key over exported KBKs, made when first used
  std::map<std::pair<uint8_t, bool>, KeyEstablishment> kek;  // (partition, password key?)
  std::map<uint16_t, BackupRun> backup_runs;  // by partition, kHsmScopeRun for the HSM's own

  // What a deleted partition kept goes with it.
  void drop_partition(uint8_t index) {
    std::erase_if(private_data, [&](const auto &e) { return e.first.first == index; });
    mofn.erase(index);
    std::erase_if(certs, [&](const auto &e) { return e.first.first == index; });
    kbk.erase(index);
    std::erase_if(kek, [&](const auto &e) { return e.first.first == index; });
    backup_runs.erase(index);
  }
};

}  // namespace hsmsim::hsm
