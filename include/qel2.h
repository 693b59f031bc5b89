/* Everything a native caller of the SDK needs.
 *
 * What every call shares (a header says where its calls differ):
 * - Each call returns a 32-bit status: 0 on success, else a code whose text
 *   Qel2ResultAsString gives (qel2_errors.h).
 * - Handles: a session handle and an application id are 32-bit, with the
 *   device in bits 30-31; an object handle is 64-bit, with the cluster server
 *   that holds the object in bits 27-31.
 * - A call with a request type sends blocking for OSTREL_BLOCKING (0) and
 *   non-blocking for any other value. A non-blocking call returns
 *   ERR_REQUEST_PENDING at once; its outputs are filled when its result is
 *   collected by request id (Qel2CheckForCompletion, Qel2GetAllResults), so
 *   its buffers must stay valid until then.
 * - Uint32 *request_id may be NULL for a blocking call, and in every call
 *   that takes no request type (those always block). Given, it receives the
 *   id of the request sent, also when the exchange then failed. A
 *   non-blocking call without one is refused with ERR_ARGUMENTS_BAD and
 *   sends nothing.
 * - Lengths are in bytes unless the name says bits. A length passed by value
 *   is what the call reads (or the output it asks for); one passed by pointer
 *   is in and out: in, the room in the caller's buffer; out, the bytes
 *   written or needed. A NULL output buffer asks for the needed length;
 *   RET_RESULT_SIZE (183) or ERR_BUFFER_TOO_SMALL report a buffer too short,
 *   with the needed length. Not so for Qel2Sign and its family
 *   (qel2_sign.h), which refuse a NULL signature buffer with
 *   ERR_INVALID_INPUT: pass a buffer (a short one gets 183 and the length);
 *   nor for the wraps that write a wrapped key with template (qel2_wrap.h),
 *   which refuse a NULL buffer, or one too short for the template, with
 *   ERR_INVALID_INPUT. The capacity ("2") variants of the ciphers only read
 *   theirs.
 * - Key locations (ucKeyLocation): the KeyLocation values of qel2_template.h,
 *   STORAGE_RAM 0 (session object), STORAGE_FLASH 1 (token object),
 *   STORAGE_LOCATION_ANY 255 (not given).
 * - Elliptic curves: key objects name theirs by OpenSSL curve number (415
 *   for P-256, qel2_keys.h); the raw point and ECDSA operations and the TLS
 *   handshakes take the CurveId index of qel2_crypto.h instead. */
#ifndef QEL2_H
#define QEL2_H

#include "qel2_admin.h"
#include "qel2_admin2.h"
#include "qel2_attributes.h"
#include "qel2_console.h"
#include "qel2_crypto.h"
#include "qel2_defs.h"
#include "qel2_errors.h"
#include "qel2_helpers.h"
#include "qel2_keys.h"
#include "qel2_objects.h"
#include "qel2_opcodes.h"
#include "qel2_openssl_util.h"
#include "qel2_records.h"
#include "qel2_sdk.h"
#include "qel2_sign.h"
#include "qel2_ssl.h"
#include "qel2_template.h"
#include "qel2_transport.h"
#include "qel2_wrap.h"
#include "qel3.h"

#endif
