/* Small exported helpers: counted socket reads, whole-file reading and
 * writing, argument checks, block padding, a hex dump, a sort comparison for
 * key file names, and the HSM device files. */
#ifndef QEL2_HELPERS_H
#define QEL2_HELPERS_H

#include "qel2_defs.h"

QEL2_EXTERN_C_BEGIN

#define PKCS8_MAX_PAD_SIZE 8
#define Y5DEV_MAX_DEVICES 16

/* Receives until len bytes are in buf or the peer closes; the count received,
 * or -1. */
QEL2_EXPORT int read_conn_data(int sockfd, void *buf, size_t len);

QEL2_EXPORT Uint32 write_file(const char *file, const Uint8 *data, Uint32 data_len);
QEL2_EXPORT Uint32 append_file(const char *file, const Uint8 *data, Uint32 data_len);
QEL2_EXPORT Uint32 read_file(const char *file, Uint8 *buffer, Uint32 buffer_size, Uint32 *data_len);

QEL2_EXPORT int is_valid_hashlen(Uint16 ulHashLen);
QEL2_EXPORT int validate_key_class_arg(Uint32 ulKeyClass);
QEL2_EXPORT int validate_key_type_arg(Uint32 ulKeyType);

QEL2_EXPORT void add_padding(Uint8 *data, Uint8 pad_len);
QEL2_EXPORT Uint32 verify_and_remove_aes_padding(Uint8 *data, Uint32 *data_len);

QEL2_EXPORT void hex_dump(char *tag, unsigned char *data, Uint32 len);
QEL2_EXPORT int cmpstring_nodeid(const void *p1, const void *p2);

/* Debug access record of CspDebug. */
typedef struct CspDebugStruct {
  int operation;
  Uint32 address;
  Uint32 *value;
} CspDebugStruct;

QEL2_EXPORT int CspInitialize(int dev_id);
QEL2_EXPORT int CspShutdown(int dev_id);
QEL2_EXPORT int CspDebug(CspDebugStruct *dbs, int dev_id);

QEL2_EXTERN_C_END

#endif
