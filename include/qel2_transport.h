/* The request descriptor, the daemon message layouts and the transport's
 * exported entry points. Daemon message integers are in host byte order. */
#ifndef QEL2_TRANSPORT_H
#define QEL2_TRANSPORT_H

#include <pthread.h>
#include <sys/types.h>
#include "qel2_defs.h"

QEL2_EXTERN_C_BEGIN

#define MAX_SEGMENTS 32

/* C++ gets the fixed underlying type the C compiler uses anyway, so that any
 * 32-bit value a caller passes stays a valid value of the enumeration. */
#ifdef __cplusplus
#define QEL2_ENUM_U32 : unsigned int
#else
#define QEL2_ENUM_U32
#endif

typedef enum ReqType QEL2_ENUM_U32 {
  OSTREL_BLOCKING = 0,
  OSTREL_NON_BLOCKING = 1,
  OSTREL_SPEED = 2,
  OSTREL_KERNEL = 3
} request_type;
typedef request_type OperationMode;

typedef enum DmaMode QEL2_ENUM_U32 { OSTREL_DIRECT = 0, OSTREL_SCATTER_GATHER = 1 } DmaMode;

typedef enum op_type QEL2_ENUM_U32 {
  HSM_QEL1_OPERATION = 0,
  HSM_QEL1_TRANSLATE_PARTITION_INFO = 1,
  HSM_REQUEST_STATUS = 2,
  HSM_ALL_REQUEST_STATUS = 3,
  HSM_HEALTH_DUMP = 4,
  HSM_GET_FW_VERSION = 5,
  HSM_GET_DRIVER_STATE = 6,
  PARTITION_CERT_OP = 7,
  GET_DAEMON_VERSION = 8,
  HSM_OZV_SERVER_OPERATION = 9,
  CLUSTER_REQUEST_STATUS = 10,
  HSM_REGISTER_PROCESS = 15
} op_type;

/* Message type letters of the header's msg_type byte. */
#define OZV_MSG_TYPE_MGMT 0x56   /* "V": command type 0 and control ops 4, 5 */
#define OZV_MSG_TYPE_CRYPTO 0x57 /* "W": every other command type */
#define OZV_MSG_TYPE_CERT 0x58   /* "X": command type 9 */
#define OZV_MSG_TYPE_DAEMON 0x55 /* "U": control ops 8 and 10 */

/* One request as an operation describes it to the transport. */
typedef struct request_buffer {
  Uint64 inptr[MAX_SEGMENTS];
  Uint64 outptr[MAX_SEGMENTS];
  Uint32 insize[MAX_SEGMENTS];
  Uint32 outsize[MAX_SEGMENTS];
  Uint32 inoffset[MAX_SEGMENTS];
  Uint32 outoffset[MAX_SEGMENTS];
  Uint16 incnt;
  Uint16 outcnt;
  DmaMode dma_mode;
  Uint16 opcode;
  union {
    Uint16 size;
    Uint16 param1;
  };
  union {
    Uint16 param2;
    Uint16 param;
  };
  Uint16 dlen;
  Uint16 rlen;
  request_type req_type;
  Uint16 command_type;
  Uint32 queue_id;
  Uint32 session_handle;
  Uint32 timeout;
  Uint64 ctx_ptr;
  Uint64 track_list_head;
  Int32 status;
  Uint32 request_id;
  Uint8 attest;
  Uint64 err_info;
  Uint64 updated_rlen;
  Uint64 key_handle;
  Uint64 ctx;
} request_buffer;

/* 56-byte header of every message to and from the daemon. */
typedef struct __attribute__((packed)) ozv_msg_fixed {
  Uint32 status;
  Uint32 req_id;
  Uint32 sess_handle;
  Uint32 app_sess_handle;
  Uint16 in_len;
  Uint16 out_len;
  Uint16 opcode;
  Uint16 serv_pending_req;
  Uint64 priv;
  Uint64 inconnid;
  Uint64 op_ctx;
  Uint8 msg_type;
  Uint8 operation;
  union {
    Uint8 serveridx;
    Uint8 op_flags;
  };
  Uint8 req_type;
  Uint8 e2e_msg;
  Uint8 srv_flag;
  Uint16 out_len2;
} ozv_msg_fixed;

/* 40-byte request descriptor that follows the header of a full request. */
typedef struct __attribute__((packed)) hsm_request_buffer {
  Uint8 dma_mode;
  Uint8 incnt;
  Uint8 outcnt;
  Uint8 attest;
  Uint16 param1;
  Uint16 param2;
  Uint16 dlen;
  Uint16 rlen;
  Uint16 command_type;
  Uint8 pad[2];
  Uint32 queue_id;
  Uint32 timeout;
  Uint64 ctx_ptr;
  Uint64 key_handle;
} hsm_request_buffer;

/* 6-byte descriptor of one segment. */
typedef struct __attribute__((packed)) hsm_req_data {
  Uint8 inout;
  Uint8 pad;
  Uint16 offset;
  Uint16 size;
} hsm_req_data;

/* A whole request message; input_data holds the segment descriptors, then
 * the input bytes. */
QEL2_FLEXIBLE_ARRAY_BEGIN
typedef struct __attribute__((packed)) ozv_req_msg {
  ozv_msg_fixed fixed_msg;
  hsm_request_buffer buffer;
  Uint8 input_data[];
} ozv_req_msg;
QEL2_FLEXIBLE_ARRAY_END

#define OZV_HDR_LEN 56
#define OZV_REQ_FIXED_LEN 96
#define OZV_SEG_DESC_LEN 6

QEL2_STATIC_ASSERT(sizeof(ozv_msg_fixed) == 56, "ozv_msg_fixed is 56 bytes");
QEL2_STATIC_ASSERT(offsetof(ozv_msg_fixed, req_id) == 4, "req_id at 4");
QEL2_STATIC_ASSERT(offsetof(ozv_msg_fixed, sess_handle) == 8, "sess_handle at 8");
QEL2_STATIC_ASSERT(offsetof(ozv_msg_fixed, app_sess_handle) == 12, "app_sess_handle at 12");
QEL2_STATIC_ASSERT(offsetof(ozv_msg_fixed, in_len) == 16, "in_len at 16");
QEL2_STATIC_ASSERT(offsetof(ozv_msg_fixed, out_len) == 18, "out_len at 18");
QEL2_STATIC_ASSERT(offsetof(ozv_msg_fixed, opcode) == 20, "opcode at 20");
QEL2_STATIC_ASSERT(offsetof(ozv_msg_fixed, serv_pending_req) == 22, "serv_pending_req at 22");
QEL2_STATIC_ASSERT(offsetof(ozv_msg_fixed, priv) == 24, "priv at 24");
QEL2_STATIC_ASSERT(offsetof(ozv_msg_fixed, inconnid) == 32, "inconnid at 32");
QEL2_STATIC_ASSERT(offsetof(ozv_msg_fixed, op_ctx) == 40, "op_ctx at 40");
QEL2_STATIC_ASSERT(offsetof(ozv_msg_fixed, msg_type) == 48, "msg_type at 48");
QEL2_STATIC_ASSERT(offsetof(ozv_msg_fixed, operation) == 49, "operation at 49");
QEL2_STATIC_ASSERT(offsetof(ozv_msg_fixed, serveridx) == 50, "serveridx at 50");
QEL2_STATIC_ASSERT(offsetof(ozv_msg_fixed, req_type) == 51, "req_type at 51");
QEL2_STATIC_ASSERT(offsetof(ozv_msg_fixed, e2e_msg) == 52, "e2e_msg at 52");
QEL2_STATIC_ASSERT(offsetof(ozv_msg_fixed, srv_flag) == 53, "srv_flag at 53");
QEL2_STATIC_ASSERT(offsetof(ozv_msg_fixed, out_len2) == 54, "out_len2 at 54");
QEL2_STATIC_ASSERT(sizeof(hsm_request_buffer) == 40, "hsm_request_buffer is 40 bytes");
QEL2_STATIC_ASSERT(offsetof(hsm_request_buffer, param1) == 4, "param1 at 60");
QEL2_STATIC_ASSERT(offsetof(hsm_request_buffer, dlen) == 8, "dlen at 64");
QEL2_STATIC_ASSERT(offsetof(hsm_request_buffer, command_type) == 12, "command_type at 68");
QEL2_STATIC_ASSERT(offsetof(hsm_request_buffer, queue_id) == 16, "queue_id at 72");
QEL2_STATIC_ASSERT(offsetof(hsm_request_buffer, timeout) == 20, "timeout at 76");
QEL2_STATIC_ASSERT(offsetof(hsm_request_buffer, ctx_ptr) == 24, "ctx_ptr at 80");
QEL2_STATIC_ASSERT(offsetof(hsm_request_buffer, key_handle) == 32, "key_handle at 88");
QEL2_STATIC_ASSERT(sizeof(hsm_req_data) == 6, "hsm_req_data is 6 bytes");
QEL2_STATIC_ASSERT(offsetof(ozv_req_msg, input_data) == 96, "segment descriptors at 96");
QEL2_STATIC_ASSERT(sizeof(ozv_req_msg) == 96, "ozv_req_msg head is 96 bytes");

/* 72-byte health record, copied to the caller unread. */
typedef struct heartbeat {
  Uint64 state;
} heartbeat;
typedef struct hb_diag {
  Uint64 vantor_base_addr[3];
  Uint64 vantor_rd_index[3];
  Uint32 vantor_chips;
  Uint32 vantor_cores;
  heartbeat heartbeat_mgmt_daemon;
  heartbeat heartbeat_crypto;
} hb_diag;
QEL2_STATIC_ASSERT(sizeof(hb_diag) == 72, "hb_diag is 72 bytes");
QEL2_STATIC_ASSERT(offsetof(hb_diag, vantor_chips) == 48, "vantor_chips at 48");
QEL2_STATIC_ASSERT(offsetof(hb_diag, heartbeat_crypto) == 64, "heartbeat_crypto at 64");

typedef struct VersionNumber {
  Uint8 major;
  Uint8 minor;
} VersionNumber;

typedef struct ComponentVersion {
  Uint8 major;
  Uint8 minor;
} ComponentVersion;
QEL2_STATIC_ASSERT(sizeof(ComponentVersion) == 2, "ComponentVersion is 2 bytes");

/* Smart-card utility handshake record, 10 bytes, host order. */
typedef struct __attribute__((packed)) sc_handshake_t {
  Int32 command_type;
  Int32 response_code;
  ComponentVersion version;
} sc_handshake_t;
QEL2_STATIC_ASSERT(sizeof(sc_handshake_t) == 10, "sc_handshake_t is 10 bytes");

/* ---- non-blocking requests ---- */
typedef void (*callback_fn)(void *entry);

typedef struct req_status_t {
  Uint32 req_id;
  Int32 status;
  Uint32 outsize[MAX_SEGMENTS];
  Uint64 outptr[MAX_SEGMENTS];
  Uint16 outcnt;
  struct req_status_t *next;
  struct req_status_t *prev;
  void *args;
#ifdef __cplusplus
  /* Qualified: in C++ a member may not change the meaning of the unqualified
   * name its own declaration uses. */
  ::callback_fn callback_fn;
#else
  callback_fn callback_fn;
#endif
} req_status_t;
QEL2_STATIC_ASSERT(offsetof(req_status_t, outptr) == 136, "outptr at 136");
QEL2_STATIC_ASSERT(offsetof(req_status_t, outcnt) == 392, "outcnt at 392");
QEL2_STATIC_ASSERT(offsetof(req_status_t, next) == 400, "next at 400");
QEL2_STATIC_ASSERT(offsetof(req_status_t, args) == 416, "args at 416");
QEL2_STATIC_ASSERT(offsetof(req_status_t, callback_fn) == 424, "callback_fn at 424");
QEL2_STATIC_ASSERT(sizeof(req_status_t) == 432, "req_status_t is 432 bytes");
typedef req_status_t req_status;

typedef struct __request_status {
  Uint32 request_id;
  Uint32 status;
  Uint32 queue_no;
} request_status;
QEL2_STATIC_ASSERT(sizeof(request_status) == 12, "request_status is 12 bytes");

typedef struct __all_request_status {
  Uint32 cnt;
  Uint32 res_cnt;
  Uint64 req_stat_buf;
} request_status_list;
QEL2_STATIC_ASSERT(sizeof(request_status_list) == 16, "request_status_list is 16 bytes");

typedef struct op_error_state {
  Uint32 node;
  Uint32 rc;
} op_error_state_t;
QEL2_STATIC_ASSERT(sizeof(op_error_state_t) == 8, "op_error_state_t is 8 bytes");

typedef struct cluster_req_status {
  Uint32 request_id;
  Uint32 status;
  op_error_state_t op_err[32];
} cluster_req_status;
QEL2_STATIC_ASSERT(sizeof(cluster_req_status) == 264, "cluster_req_status is 264 bytes");

/* ---- per-thread connections ---- */
typedef int socket_t;

/* A message whose reading an exchange gave up at a time-out; the next
 * exchange on the thread finishes it. Payloads reach 0xFFFFFFFF bytes, so
 * the lengths are unsigned. Only the first data_len payload bytes are kept
 * (what the request that receives them can use); the rest is read and
 * dropped. */
typedef struct pending {
  Int8 pending;
  Int8 header;
  Uint32 pending_len;
  Uint32 stored_len;
  request_type req_type;
  ozv_msg_fixed hdr;
  Uint8 *data;
  Uint32 data_len;
  Int8 data_lost; /* the kept part could not be allocated */
} pending;

typedef struct req_hash {
  req_status_t *next;
} req_hash;

#define THREAD_TABLE_BUCKETS 1000
#define REQS_TABLE_SIZE 100

/* One thread's connection record as the exported table shows it: a caller
 * of orx_tessaline_cli_send_daemon1 finds its own record (thread_id, pid,
 * next, under cli_th_tbl_lock and its bucket's index_lock) and holds its
 * req_lock. The transport's records carry more behind these fields, which
 * only the transport uses. */
typedef struct thread_info_t {
  pthread_t thread_id;
  pid_t pid;
  Uint32 b_req_id;
  Uint32 nb_req_id;
  socket_t socket_fd;
  req_hash reqs_table[REQS_TABLE_SIZE];
  pthread_mutex_t req_lock;
  struct thread_info_t *next;
  pending pend;
} thread_info_t;
typedef thread_info_t thread_info;

typedef struct orx_tessaline_cli_thread_hash {
  pthread_mutex_t index_lock;
  thread_info *next;
} orx_tessaline_cli_thread_hash;

/* ---- exported transport interface ---- */
QEL2_EXPORT extern pthread_mutex_t cli_th_tbl_lock;
QEL2_EXPORT extern orx_tessaline_cli_thread_hash *orx_tessaline_cli_threads_table;

QEL2_EXPORT int orx_tessaline_cli_get_daemon_sock(void);
QEL2_EXPORT orx_tessaline_cli_thread_hash *orx_tessaline_cli_create_threads_table(void);
QEL2_EXPORT int orx_tessaline_cli_register_thread(void);
QEL2_EXPORT void orx_tessaline_cli_unregister_thread(void);
QEL2_EXPORT void orx_tessaline_cli_unregister_thread_new(pthread_t thr_id);
QEL2_EXPORT void orx_tessaline_cli_delete_threads_table(void);
QEL2_EXPORT Int32 orx_tessaline_cli_send_daemon(void *data, op_type op, Uint32 req_type,
                                                callback_fn cb, void *args);
QEL2_EXPORT Int32 orx_tessaline_cli_send_daemon1(void *data, op_type op, Uint32 req_type,
                                                 callback_fn cb, void *args, thread_info *thdata);
QEL2_EXPORT Int32 orx_tessaline_cli_send_daemon_new(request_buffer *buffer, Uint8 serveridx);
QEL2_EXPORT void timeout(int sig);

QEL2_EXPORT Uint8 version_compatible(ComponentVersion ver, ComponentVersion min_ver,
                                     ComponentVersion max_ver);
QEL2_EXPORT Uint32 get_version(Uint8 *vers);
QEL2_EXPORT int do_scard_handshake(void *conn, int hs_initiator, int ssl);

/* Non-blocking completion (SDK level). */
QEL2_EXPORT Uint32 Qel2CheckForCompletion(Uint32 request_id);
QEL2_EXPORT Uint32 Qel2CheckForCompletion2(Uint32 dev_id, Uint32 request_id);
QEL2_EXPORT Uint32 Qel2GetAllResults(Uint32 dev_id, request_status *req_stat_buf, Uint32 buf_size,
                                     Uint32 *res_count);
QEL2_EXPORT Uint32 Qel2FlushRequest(Uint32 request_id);
QEL2_EXPORT Uint32 Qel2FlushAllRequests(Uint32 dev_id);
QEL2_EXPORT Uint32 Qel2GetReqClusterStatus(Uint32 session_handle, op_error_state_t *cluster_status,
                                           Uint32 request_id);
QEL2_EXPORT Uint32 Qel2GetDriverState(Uint32 dev_id);

/* Thread-local token flags set by object-creating operations. */
extern __thread Uint8 bIsToken_op;
extern __thread Uint8 bIsTokenAndSession_op;

QEL2_EXTERN_C_END

#endif
