/* HSM command numbers (request_buffer.opcode) and command types. */
#ifndef QEL2_OPCODES_H
#define QEL2_OPCODES_H

/* Command types (request_buffer.command_type). */
#define KQ_MGMT_CMD 0
#define KQ_MGMT_VNX_CMD 2
#define KQ_DIAG_CMD 8
#define KQ_CERT_AUTH_CMD 9
#define FW_PARTN_INFO 0xFEFF

/* Management opcodes. */
#define KQ_CREATE_OBJECT 15
#define KQ_DESTROY_OBJECT 17
#define KQ_GENERATE_KEY 23
#define KQ_GENERATE_KEY_PAIR 25
#define KQ_UNWRAP_KEY 27
#define KQ_DERIVE_KEY 69
#define KQ_INSERT_MASKED_OBJECT 130
#define KQ_GENERATE_PBE_KEY 155
#define KQ_UNWRAP_KEY2 226
#define KQ_INSERT_MASKED_OBJECT_USER 241

#endif
