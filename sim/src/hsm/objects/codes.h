// The object store names the HSM's codes (hsm/codes.h) rc::.
#pragma once

#include "hsm/codes.h"

namespace hsmsim::hsm::obj {
namespace rc = hsmsim::code;
}  // namespace hsmsim::hsm::obj
