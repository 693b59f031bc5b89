// How the set-attribute check reads an object's current attributes.
//
// The read itself belongs to the object operations (Qel2GetAttribute); the
// check reaches it through this pointer so that tests can put a fake in its
// place.
#ifndef QEL2_COMMON_TEMPLATE_ATTR_READER_H
#define QEL2_COMMON_TEMPLATE_ATTR_READER_H

#include "qel2_defs.h"

namespace qel2::tmpl {

using GetAttributeFn = Uint32 (*)(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAttrID,
                                  Uint8 *pAttrBuf, Uint32 *pulBufLen);

// Replaces the reader; nullptr restores the default (Qel2GetAttribute).
void set_attribute_reader(GetAttributeFn fn);

// The reader in use: the fake when one is set, else Qel2GetAttribute.
GetAttributeFn attribute_reader();

}  // namespace qel2::tmpl

#endif
