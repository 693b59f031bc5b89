// What the backup and restore requests share: the whole session handle in
// the header, the partition taken from it when none is named, the begin
// record of both directions, the scope's opcode, and output segments held
// to what a segment can describe.
#ifndef QEL2_MGMT_ADMIN2_BACKUP_COMMON_H
#define QEL2_MGMT_ADMIN2_BACKUP_COMMON_H

#include <cstdint>

#include "request/mgmt_request.h"

namespace qel2::mgmt::backup {

inline Uint32 partition_of(Uint32 handle, Uint32 partition_no) {
  return partition_no != 0 ? partition_no : (handle >> 24) & 0x3F;
}

inline uint16_t scoped(Uint8 isHSM, uint16_t partition_op, uint16_t hsm_op) {
  return isHSM ? hsm_op : partition_op;
}

// A caller buffer of n bytes as an output segment beside `beside` bytes of
// other outputs: never more than a segment's 16-bit size can say, so the
// HSM sees a smaller buffer rather than a size cut to its low bits.
inline uint32_t segment_cap(uint32_t n, uint32_t beside) {
  const uint32_t room = kMaxSegmentLen - beside;
  return n < room ? n : room;
}

// Begin of a backup (header flags = use of pre-shared keys) or a restore
// (header flags = the caller's byte): the 28-byte record, then the
// signature's length word and bytes when both are given.
Uint32 begin_request(uint16_t opcode, Uint32 handle, Uint32 flags, Uint32 partition, Uint8 *sig,
                     Uint32 sig_len);

// End of a restore and of a backup without an ICV buffer: the 24-byte
// record, the ICV (restore side) as a length word and bytes.
Uint32 end_request(uint16_t opcode, Uint32 handle, Uint32 partition, Uint8 *icv, Uint32 icv_len,
                   Uint32 *icv_len_out);

}  // namespace qel2::mgmt::backup

#endif
