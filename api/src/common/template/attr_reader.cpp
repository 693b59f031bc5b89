#include "common/template/attr_reader.h"

#include <atomic>

#include "qel2_objects.h"

namespace qel2::tmpl {
namespace {
std::atomic<GetAttributeFn> g_override{nullptr};
}  // namespace

void set_attribute_reader(GetAttributeFn fn) { g_override.store(fn); }

GetAttributeFn attribute_reader() {
  if (GetAttributeFn fn = g_override.load()) return fn;
  return Qel2GetAttribute;
}

}  // namespace qel2::tmpl
