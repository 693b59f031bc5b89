// Listing the objects that belong to one user: a handle and a status byte
// per object, paged by index.
#include "mgmt/objects/objects_internal.h"
#include "qel2_errors.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr size_t kRecordLen = sizeof(find_cmd_key_info);  // 9, packed

}  // namespace

Uint32 Qel2FindAllKeysCommon(Uint32 ulSessionHandle, Uint16 opcode, Uint32 ulSearchIndex,
                             Uint16 ulUser, Uint64 *pulKeys, Uint8 *pulKeyInfo,
                             Uint32 *pulNumOfKeys) {
  if (!pulNumOfKeys || ulSearchIndex > QEL2_FIND_ALL_MAX_INDEX) return ERR_INVALID_INPUT;
  if (*pulNumOfKeys > QEL2_FIND_ALL_MAX_RECORDS) *pulNumOfKeys = QEL2_FIND_ALL_MAX_RECORDS;
  const Uint32 room = *pulNumOfKeys;
  FreedBuffer records;
  if (room > 0) {
    records.reset(static_cast<Uint8 *>(calloc(room, kRecordLen)));
    if (!records) return ERR_MEMORY_ALLOC_FAILURE;
  }

  const uint32_t session = masked_session(ulSessionHandle);
  CommandRecord<sizeof(FindObjectsCommand)> cmd;
  put_search_command(cmd.w, true, ulSearchIndex, session, ulUser);
  uint8_t resp[sizeof(FindObjectsResponse)] = {};
  MgmtRequest rq(opcode, session);
  rq.command(cmd).out_local(resp, sizeof resp);
  if (records) rq.out(records.get(), static_cast<uint32_t>(room * kRecordLen));
  rq.send();
  if (rq.decode() == MgmtRequest::Decode::kNo) return rq.result();

  const Uint32 matches = be32_at(resp + offsetof(FindObjectsResponse, ulNumHandles));
  if (records && (pulKeys || pulKeyInfo)) {
    // The records reported must have arrived; the rest of the zero-filled
    // buffer is handed over as it is.
    const Uint32 reported = matches < room ? matches : room;
    if (Uint32 bad = rq.check_arrived(1, uint64_t{reported} * kRecordLen)) return bad;
    BeReader rd(records.get(), room * kRecordLen);
    for (Uint32 i = 0; i < room; ++i) {
      const Uint64 handle = rd.u64();
      const Uint8 status = rd.u8();
      if (pulKeys) pulKeys[i] = handle;
      if (pulKeyInfo) pulKeyInfo[i] = status;
    }
    *pulNumOfKeys = reported;
  } else {
    *pulNumOfKeys = matches;
  }
  return rq.result();
}

extern "C" {

QEL2_EXPORT Uint32 Qel2FindAllKeysFromIndex(Uint32 ulSessionHandle, Uint32 ulSearchIndex,
                                            Uint16 ulUser, Uint64 *pulKeys, Uint8 *pulKeyInfo,
                                            Uint32 *pulNumOfKeys) {
  return Qel2FindAllKeysCommon(ulSessionHandle, KQ_FIND_ALL_OBJECTS_IN_RANGE, ulSearchIndex, ulUser,
                               pulKeys, pulKeyInfo, pulNumOfKeys);
}

QEL2_EXPORT Uint32 Qel2FindAllKeysFromIndexAsCount(Uint32 ulSessionHandle, Uint32 ulSearchIndex,
                                                   Uint16 ulUser, Uint64 *pulKeys,
                                                   Uint8 *pulKeyInfo, Uint32 *pulNumOfKeys) {
  return Qel2FindAllKeysCommon(ulSessionHandle, KQ_FIND_ALL_OBJECTS_USING_COUNT, ulSearchIndex,
                               ulUser, pulKeys, pulKeyInfo, pulNumOfKeys);
}

QEL2_EXPORT Uint32 Qel2FindAllKeys(Uint32 ulSessionHandle, Uint16 ulUser, Uint32 *pulNumOfKeys) {
  return Qel2FindAllKeysCommon(ulSessionHandle, KQ_FIND_ALL_OBJECTS, 0, ulUser, nullptr, nullptr,
                               pulNumOfKeys);
}

}  // extern "C"
