#include "common/template/attr_reader.h"

#include <atomic>

// Provided by the object operations; weak so that the template code links
// without them.
extern "C" Uint32 Qel2GetAttribute(Uint32 ulSessionHandle, Uint64 ulObj64, Uint32 ulAttrID, Uint8 *pAttrBuf,
                                   Uint32 *pulBufLen) __attribute__((weak));

namespace qel2::tmpl {
namespace {
std::atomic<GetAttributeFn> g_override{nullptr};
}  // namespace

void set_attribute_reader(GetAttributeFn fn) { g_override.store(fn); }

GetAttributeFn attribute_reader() {
    if (GetAttributeFn fn = g_override.load()) return fn;
    return Qel2GetAttribute;  // null when the object operations are absent
}

}  // namespace qel2::tmpl
