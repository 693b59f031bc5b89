#include "hsm/ops/wrap_common.h"

#include "hsm/codes.h"
#include "hsm/objects/codes.h"
#include "hsm/state/hsm_state.h"

namespace hsmsim::hsm::wrapop {

uint32_t wrapping_key(HsmState &st, const obj::Actor &actor, uint64_t handle, bool wrap,
                      uint32_t capability, bool aes_only, engine::Key &key) {
  if ((handle & obj::kHandleMask) == kFixedWrappingKey) {
    key = engine::Key::secret(st.objects.fixed_wrapping_key());
    return 0;
  }
  obj::Object *o = nullptr;
  if (uint32_t r = obj::object_for(st, actor, handle, obj::Right::Use, o)) return r;
  if (aes_only &&
      (o->key_class() != obj::key_class::kSecret || o->key_type() != obj::key_type::kAes))
    return wrap ? rc::kWrappingKeyTypeInconsistent : rc::kUnwrappingKeyTypeInconsistent;
  if (!o->flag(capability)) return wrap ? rc::kWrappingKeyInvalid : rc::kUnwrappingKeyInvalid;
  if (o->key_material(key))
    return wrap ? rc::kWrappingKeyTypeInconsistent : rc::kUnwrappingKeyTypeInconsistent;
  return 0;
}

uint32_t unwrap_code(uint32_t engine_code) {
  switch (engine_code) {
    case 0:
      return 0;
    case code::kSignatureMismatch:
      return rc::kIntegrityCheckFailed;
    case code::kBadPkcsData:
    case code::kBadPadLen:
      return rc::kKeyPadAmbiguity;
    case code::kBadLength:
      return obj::rc::kInvalidInput;
    default:
      return engine_code;
  }
}

}  // namespace hsmsim::hsm::wrapop
