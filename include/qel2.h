/* Everything a native caller of the SDK needs. */
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

#endif
